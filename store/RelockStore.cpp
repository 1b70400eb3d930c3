#include "store/RelockStore.h"

#include "common/UniqueHandle.h"

namespace Registry {

namespace {

using Number = std::optional<std::uint32_t>;

Number AsNumber(const RegistryValue& value) {
    if (value.GetKind() != RegistryValue::Kind::Number) return std::nullopt;
    return static_cast<std::uint32_t>(value.Number());
}

// Policies are written by 64-bit tools (Group Policy, reg.exe): read in the
// 64-bit view, wherever this program runs.
Number ReadPolicyNumber(HKEY root, const std::wstring& keyPath, const wchar_t* valueName) {
    vaultmere::UniqueKey key;
    if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = REG_NONE;
    DWORD number = 0;
    DWORD size = sizeof number;
    if (::RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof number) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

vaultmere::RelockSettings ReadRelockSettings(HKEY root, const std::wstring& policyKeyPath,
                                             const std::wstring& settingsKeyPath) {
    const vaultmere::RelockValues policy{ReadPolicyNumber(root, policyKeyPath, kRelockOnSessionLockValueName),
                                         ReadPolicyNumber(root, policyKeyPath, kRelockMinutesValueName)};
    const vaultmere::RelockValues settings{AsNumber(
                                               GetRegistryValue(root, settingsKeyPath, kRelockOnSessionLockValueName)),
                                           AsNumber(GetRegistryValue(root, settingsKeyPath, kRelockMinutesValueName))};
    return vaultmere::ChooseRelockSettings(policy, settings);
}

}  // namespace Registry
