// Whether a key of HKEY_LOCAL_MACHINE (the program's registry view) and
// every key below it carry the stored list's descriptors: keyaccess.exe
// KEYPATH prints "path=descriptor" for each, exits 0 when all match.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/UniqueHandle.h"
#include "store/Registry.h"

namespace {

bool Matches(const std::wstring& path, const wchar_t* wanted) {
    const std::wstring text = Registry::KeyAccessText(HKEY_LOCAL_MACHINE, path);
    std::printf("%ls=%ls\n", path.c_str(), text.c_str());
    bool all = text == Registry::CanonicalAccessText(wanted);
    vaultmere::UniqueKey key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | Registry::kRegistryView, key.Put());
    wchar_t name[256];
    for (DWORD index = 0, length = 256;
         key && ::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256) {
        all = Matches(path + L"\\" + name, Registry::kStoreSubkeySecurity) && all;
    }
    return all;
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return argc == 2 && Matches(argv[1], Registry::kStoreKeySecurity) ? 0 : 1; }
