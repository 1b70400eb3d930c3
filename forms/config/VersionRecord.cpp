#include <windows.h>

#include <vector>

#include "common/AppState.h"
#include "common/SystemFunction.h"
#include "common/UniqueHandle.h"
#include "forms/config/AboutText.h"

namespace vaultmere {

namespace {

// The version functions, taken from the system folder's version.dll only
// while About reads the record: a static import would load any version.dll
// lying beside the program.
class VersionApi {
public:
    VersionApi() : module_(::LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        if (!module_) return;
        infoSize_ = Function<decltype(&::GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
        info_ = Function<decltype(&::GetFileVersionInfoW)>("GetFileVersionInfoW");
        query_ = Function<decltype(&::VerQueryValueW)>("VerQueryValueW");
    }
    bool Usable() const { return infoSize_ && info_ && query_; }

    std::vector<unsigned char> ReadBlock(const std::wstring& file) const {
        DWORD ignored = 0;
        const DWORD size = infoSize_(file.c_str(), &ignored);
        std::vector<unsigned char> block(size);
        if (size == 0 || !info_(file.c_str(), 0, size, block.data())) block.clear();
        return block;
    }

    bool Query(const std::vector<unsigned char>& block, const std::wstring& path, void** value, UINT* size) const {
        return query_(block.data(), path.c_str(), value, size) != FALSE;
    }

private:
    template <typename Pointer>
    Pointer Function(const char* name) const {
        return SystemFunction<Pointer>(module_.Get(), name);
    }

    UniqueModule module_;
    decltype(&::GetFileVersionInfoSizeW) infoSize_ = nullptr;
    decltype(&::GetFileVersionInfoW) info_ = nullptr;
    decltype(&::VerQueryValueW) query_ = nullptr;
};

std::wstring VersionString(const VersionApi& api, const std::vector<unsigned char>& block, const wchar_t* name) {
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT size = 0;
    std::vector<std::wstring> queries;
    if (api.Query(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &size) &&
        size >= sizeof(Translation)) {
        wchar_t query[64];
        wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\%s", translations[0].language, translations[0].codePage, name);
        queries.push_back(query);
    }
    queries.push_back(std::wstring(L"\\StringFileInfo\\040904B0\\") + name);
    for (const std::wstring& query : queries) {
        wchar_t* value = nullptr;
        UINT length = 0;
        if (api.Query(block, query, reinterpret_cast<void**>(&value), &length) && value) {
            return std::wstring(value, length > 0 && value[length - 1] == L'\0' ? length - 1 : length);
        }
    }
    return std::wstring();
}

}  // namespace

VersionRecord ReadVersionRecord() {
    VersionRecord record;
    const VersionApi api;
    if (!api.Usable()) return record;
    const std::vector<unsigned char> block = api.ReadBlock(ProgramPath());
    if (block.empty()) return record;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (api.Query(block, L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed) {
        record.major = HIWORD(fixed->dwFileVersionMS);
        record.minor = LOWORD(fixed->dwFileVersionMS);
        record.build = HIWORD(fixed->dwFileVersionLS);
        record.revision = LOWORD(fixed->dwFileVersionLS);
    }
    record.copyright = VersionString(api, block, L"LegalCopyright");
    record.comments = VersionString(api, block, L"Comments");
    return record;
}

}  // namespace vaultmere
