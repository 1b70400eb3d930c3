// Whether a key of HKEY_LOCAL_MACHINE (the program's registry view) and
// every key below it carry the stored list's descriptors: keyaccess.exe
// KEYPATH prints "path=descriptor" for each and exits 0 when all match, 1
// when one differs, 2 when there is no such key.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/UniqueHandle.h"
#include "store/Registry.h"

namespace {

bool Matches(const std::wstring& path, const std::wstring& wanted) {
    const std::wstring text = Registry::KeyAccessText(HKEY_LOCAL_MACHINE, path);
    std::printf("%ls=%ls\n", path.c_str(), text.c_str());
    bool all = text == wanted;
    vaultmere::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | Registry::kRegistryView,
                        key.Put()) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring below = Registry::CanonicalAccessText(Registry::kStoreSubkeySecurity);
    wchar_t name[256];
    for (DWORD index = 0, length = 256;
         ::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256) {
        all = Matches(path + L"\\" + name, below) && all;
    }
    return all;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 3;
    vaultmere::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_READ | Registry::kRegistryView, key.Put()) !=
        ERROR_SUCCESS) {
        return 2;
    }
    return Matches(argv[1], Registry::CanonicalAccessText(Registry::kStoreKeySecurity)) ? 0 : 1;
}
