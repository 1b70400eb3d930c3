#include "store/LockBudgetStore.h"

namespace Registry {

namespace {

using vaultmere::MaxLockedFilesValue;

MaxLockedFilesValue ReadMaxLockedFiles(HKEY root, const std::wstring& keyPath, REGSAM view) {
    RegistryValue value;
    const RegistryStatus status = ReadRegistryValue(root, keyPath, kMaxLockedFilesValueName, value, view);
    if (status && value.GetKind() == RegistryValue::Kind::Number) {
        return {MaxLockedFilesValue::Kind::Number, static_cast<std::uint32_t>(value.Number())};
    }
    return {status || status.code == ERROR_INVALID_DATA ? MaxLockedFilesValue::Kind::OtherType
                                                        : MaxLockedFilesValue::Kind::Missing};
}

}  // namespace

LockBudgetReading ReadLockBudget(HKEY root, const std::wstring& policyKeyPath, const std::wstring& settingsKeyPath) {
    const MaxLockedFilesValue policy = ReadMaxLockedFiles(root, policyKeyPath, kPolicyView);
    const bool fromPolicy = policy.kind != MaxLockedFilesValue::Kind::Missing;
    const MaxLockedFilesValue value = fromPolicy ? policy : ReadMaxLockedFiles(root, settingsKeyPath, kRegistryView);
    const vaultmere::LockBudgetChoice choice = ChooseLockBudget(vaultmere::RunningPlatform(), value);
    LockBudgetReading reading{choice.budget, {}, {}};
    if (choice.ignored) {
        reading.ignoredPlace = (fromPolicy ? policyKeyPath : settingsKeyPath) + L"\\" + kMaxLockedFilesValueName;
        reading.ignoredValue = vaultmere::ValueText(value);
    }
    return reading;
}

}  // namespace Registry
