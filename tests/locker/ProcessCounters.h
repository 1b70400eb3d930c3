#pragma once
// What a process holds, for the tests and benchmarks that check the locker
// gives back everything it took. Works under Wine, which reports neither a
// handle count nor private bytes through the usual calls.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstddef>
#include <vector>

#include "common/UniqueHandle.h"

namespace testing_support {

// Open handles of this process.
inline std::size_t ProcessHandleCount() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0) return count;

    // Wine answers 0 above; the system-wide handle table has the truth.
    struct HandleEntry {
        USHORT processId;
        USHORT creatorBackTraceIndex;
        UCHAR objectType;
        UCHAR attributes;
        USHORT handle;
        void* object;
        ULONG grantedAccess;
    };
    struct HandleTable {
        ULONG count;
        HandleEntry entries[1];
    };
    using QueryFunction = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    constexpr int kSystemHandleInformation = 16;
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return 0;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const auto self = static_cast<USHORT>(::GetCurrentProcessId());
    std::size_t mine = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == self) ++mine;
    }
    return mine;
}

// Threads of this process.
inline std::size_t ProcessThreadCount() {
    vaultmere::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    std::size_t count = 0;
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    }
    return count;
}

// Committed memory private to this process, in bytes.
inline std::size_t ProcessPrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof counters) &&
        counters.PrivateUsage > 0) {
        return counters.PrivateUsage;
    }
    // Wine leaves PrivateUsage at 0: add up the committed private regions.
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    const unsigned char* address = nullptr;
    while (::VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const unsigned char* next = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

}  // namespace testing_support
