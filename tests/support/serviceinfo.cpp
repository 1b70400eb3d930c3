// A service as the service manager keeps it: serviceinfo.exe NAME prints
// its state, process, configuration, description and failure actions, one
// "key=value" a line ("failure=not kept" where the system keeps no failure
// actions). serviceinfo.exe NAME hold FLAG keeps the service open
// (as the Services window does), creates FLAG and lets go when FLAG is
// deleted. Exits with the Win32 error of the first call that failed
// (1060 when there is no such service).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"

using vaultmere::UniqueServiceHandle;

namespace {

void Print(const char* key, const std::wstring& value) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, value.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, value.c_str(), -1, &text[0], size, nullptr, nullptr);
    std::printf("%s=%s\n", key, text.c_str());
}
void Print(const char* key, DWORD value) { std::printf("%s=%lu\n", key, static_cast<unsigned long>(value)); }

// Asks the size first, as the Query*Config calls want.
template <typename Query>
bool Read(std::vector<BYTE>& buffer, Query query) {
    DWORD needed = 0;
    if (!query(nullptr, 0, &needed) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(needed, 0);
    return query(reinterpret_cast<void*>(buffer.data()), needed, &needed) != FALSE;
}

int Hold(const wchar_t* flag) {
    vaultmere::UniqueHandle file(
        ::CreateFileW(flag, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return static_cast<int>(::GetLastError());
    file.Reset();
    while (::GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES) ::Sleep(100);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return ERROR_INVALID_PARAMETER;
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return static_cast<int>(::GetLastError());
    UniqueServiceHandle owned(::OpenServiceW(manager.Get(), argv[1], SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!owned) return static_cast<int>(::GetLastError());
    if (argc > 3 && std::wcscmp(argv[2], L"hold") == 0) return Hold(argv[3]);
    SC_HANDLE service = owned.Get();

    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                &needed))
        return static_cast<int>(::GetLastError());
    Print("state", status.dwCurrentState);
    Print("process", status.dwProcessId);

    std::vector<BYTE> buffer;
    if (!Read(buffer, [&](void* data, DWORD size, DWORD* want) {
            return ::QueryServiceConfigW(service, static_cast<QUERY_SERVICE_CONFIGW*>(data), size, want);
        }))
        return static_cast<int>(::GetLastError());
    const auto& config = *reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    Print("type", config.dwServiceType);
    Print("start", config.dwStartType);
    Print("binary", config.lpBinaryPathName ? config.lpBinaryPathName : L"");
    Print("account", config.lpServiceStartName ? config.lpServiceStartName : L"");
    Print("display", config.lpDisplayName ? config.lpDisplayName : L"");

    const auto config2 = [&](DWORD level) {
        return [&, level](void* data, DWORD size, DWORD* want) {
            return ::QueryServiceConfig2W(service, level, static_cast<BYTE*>(data), size, want);
        };
    };
    if (!Read(buffer, config2(SERVICE_CONFIG_DESCRIPTION))) return static_cast<int>(::GetLastError());
    const auto& description = *reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer.data());
    Print("description", description.lpDescription ? description.lpDescription : L"");
    if (!Read(buffer, config2(SERVICE_CONFIG_FAILURE_ACTIONS))) {
        // Wine takes failure actions but keeps none.
        if (::GetLastError() != ERROR_INVALID_LEVEL) return static_cast<int>(::GetLastError());
        Print("failure", L"not kept");
        return 0;
    }
    const auto& failure = *reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    Print("reset", failure.dwResetPeriod);
    std::wstring actions;
    for (DWORD i = 0; i < failure.cActions; ++i) {
        if (i != 0) actions += L' ';
        actions += std::to_wstring(failure.lpsaActions[i].Type) + L'/' + std::to_wstring(failure.lpsaActions[i].Delay);
    }
    Print("actions", actions);
    return 0;
}
