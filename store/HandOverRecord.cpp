#include "store/HandOverRecord.h"

#include "store/Registry.h"

namespace vaultmere {

namespace {

constexpr wchar_t kRequestValue[] = L"RequestedBy";
constexpr wchar_t kHolderValue[] = L"Holder";
constexpr wchar_t kHandlesValue[] = L"Handles";

DWORD NumberOf(const wchar_t* name) {
    const Registry::RegistryValue value = Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, name);
    return value.GetKind() == Registry::RegistryValue::Kind::Number ? static_cast<DWORD>(value.Number()) : 0;
}

}  // namespace

LONG AskForHandOver(DWORD guardProcess) {
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kRequestValue,
                                      Registry::RegistryValue::FromNumber(static_cast<std::int32_t>(guardProcess)))
        .code;
}

bool TakeHandOverRequest(DWORD ownProcess) {
    const DWORD requestedBy = NumberOf(kRequestValue);
    if (requestedBy != 0) Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kRequestValue);
    return requestedBy != 0 && requestedBy == ownProcess;
}

LONG WriteHolderRecord(const HolderRecord& record) {
    // The handles first: a holder named is one whose handles are known.
    const Registry::RegistryStatus handles =
        Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHandlesValue,
                                   Registry::RegistryValue::FromBytes(EncodeHandleValues(record.handles)));
    if (!handles) return handles.code;
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHolderValue,
                                      Registry::RegistryValue::FromNumber(static_cast<std::int32_t>(record.process)))
        .code;
}

HolderRecord TakeHolderRecord() {
    HolderRecord record;
    record.process = NumberOf(kHolderValue);
    if (record.process == 0) return record;
    record.handles = DecodeHandleValues(
        Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHandlesValue).Bytes());
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHolderValue);
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHandlesValue);
    return record;
}

std::vector<unsigned char> EncodeHandleValues(const std::vector<std::uint32_t>& handles) {
    std::vector<unsigned char> bytes;
    bytes.reserve(handles.size() * 4);
    for (const std::uint32_t handle : handles) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(handle >> shift));
    }
    return bytes;
}

std::vector<std::uint32_t> DecodeHandleValues(const std::vector<unsigned char>& bytes) {
    std::vector<std::uint32_t> handles;
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        handles.push_back(std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
                          std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24);
    }
    return handles;
}

}  // namespace vaultmere
