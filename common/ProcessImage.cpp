#include "common/ProcessImage.h"

#include "common/UniqueHandle.h"

namespace vaultmere {

namespace {

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity) {
    // Attributes only, shared every way: a running program's file opens so.
    UniqueHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ::GetFileInformationByHandle(file.Get(), &identity);
}

}  // namespace

std::wstring ProcessImagePath(HANDLE process) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        auto length = static_cast<DWORD>(path.size());
        if (::QueryFullProcessImageNameW(process, 0, &path[0], &length)) {
            path.resize(length);
            return path;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

std::wstring ProcessImagePath(DWORD processId) {
    const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return process ? ProcessImagePath(process.Get()) : std::wstring();
}

bool SameProgramFile(const std::wstring& first, const std::wstring& second) {
    if (first.empty() || second.empty()) return false;
    if (::CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                               static_cast<int>(second.size()), TRUE) == CSTR_EQUAL)
        return true;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    return FileIdentity(first, a) && FileIdentity(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace vaultmere
