#pragma once
// What a process holds (this one unless another is named), for the tests and
// benchmarks that check nothing is kept that should have been given back.
// Works under Wine, which reports neither a handle count nor private bytes
// through the usual calls.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstddef>
#include <vector>

#include "common/UniqueHandle.h"

namespace testing_support {

// Open handles of a process.
inline std::size_t ProcessHandleCount(HANDLE process = ::GetCurrentProcess()) {
    DWORD count = 0;
    if (::GetProcessHandleCount(process, &count) && count > 0) return count;

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
    const auto owner = static_cast<USHORT>(::GetProcessId(process));
    std::size_t mine = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == owner) ++mine;
    }
    return mine;
}

// Threads of a process.
inline std::size_t ProcessThreadCount(HANDLE process = ::GetCurrentProcess()) {
    vaultmere::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    std::size_t count = 0;
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == ::GetProcessId(process)) ++count;
    }
    return count;
}

// Committed memory private to a process, in bytes.
inline std::size_t ProcessPrivateBytes(HANDLE process = ::GetCurrentProcess()) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters) &&
        counters.PrivateUsage > 0) {
        return counters.PrivateUsage;
    }
    // Wine leaves PrivateUsage at 0: add up the committed private regions.
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    const unsigned char* address = nullptr;
    while (::VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const unsigned char* next = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

}  // namespace testing_support
