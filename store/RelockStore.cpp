#include "store/RelockStore.h"

namespace Registry {

namespace {

std::optional<std::uint32_t> ReadNumber(HKEY root, const std::wstring& keyPath, const wchar_t* valueName) {
    const RegistryValue value = GetRegistryValue(root, keyPath, valueName);
    if (value.GetKind() != RegistryValue::Kind::Number) return std::nullopt;
    return static_cast<std::uint32_t>(value.Number());
}

vaultmere::RelockValues ReadValues(HKEY root, const std::wstring& keyPath) {
    return {ReadNumber(root, keyPath, kRelockOnSessionLockValueName),
            ReadNumber(root, keyPath, kRelockMinutesValueName)};
}

}  // namespace

vaultmere::RelockSettings ReadRelockSettings(HKEY root, const std::wstring& policyKeyPath,
                                             const std::wstring& settingsKeyPath) {
    return vaultmere::ChooseRelockSettings(ReadValues(root, policyKeyPath), ReadValues(root, settingsKeyPath));
}

}  // namespace Registry
