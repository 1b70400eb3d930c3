#include "store/HandOverRecord.h"

#include "store/Registry.h"

namespace vaultmere {

namespace {

constexpr wchar_t kRequestValue[] = L"RequestedBy";
constexpr wchar_t kHolderValue[] = L"Holder";
constexpr wchar_t kHandlesValue[] = L"Handles";

// A request older than this was left by an update that never stopped the
// guard: it does not turn a later stop, an administrator's, into a hand-over.
constexpr std::uint32_t kRequestValidMinutes = 10;

DWORD NumberOf(const wchar_t* name) {
    const Registry::RegistryValue value = Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, name);
    return value.GetKind() == Registry::RegistryValue::Kind::Number ? static_cast<DWORD>(value.Number()) : 0;
}

// The system clock in minutes since 1601.
std::uint32_t NowInMinutes() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return static_cast<std::uint32_t>(ticks / 600000000ULL);
}

}  // namespace

LONG AskForHandOver(DWORD guardProcess) {
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kRequestValue,
                                      Registry::RegistryValue::FromBytes(EncodeNumbers({guardProcess, NowInMinutes()})))
        .code;
}

bool TakeHandOverRequest(DWORD ownProcess) {
    const std::vector<std::uint32_t> request = DecodeNumbers(
        Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kRequestValue).Bytes());
    if (request.empty()) return false;
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kRequestValue);
    const std::uint32_t now = NowInMinutes();
    return request.size() == 2 && request[0] == ownProcess && request[1] <= now &&
           now - request[1] <= kRequestValidMinutes;
}

LONG WriteHolderRecord(const HolderRecord& record) {
    // The handles first: a holder named is one whose handles are known.
    const Registry::RegistryStatus handles =
        Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHandlesValue,
                                   Registry::RegistryValue::FromBytes(EncodeNumbers(record.handles)));
    if (!handles) return handles.code;
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHolderValue,
                                      Registry::RegistryValue::FromNumber(static_cast<std::int32_t>(record.process)))
        .code;
}

HolderRecord TakeHolderRecord() {
    HolderRecord record;
    record.process = NumberOf(kHolderValue);
    if (record.process == 0) return record;
    record.handles = DecodeNumbers(
        Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHandlesValue).Bytes());
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHolderValue);
    Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHandOverKeyPath, kHandlesValue);
    // Nothing else lives there now: the key goes too.
    Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, kHandOverKeyPath);
    return record;
}

std::vector<unsigned char> EncodeNumbers(const std::vector<std::uint32_t>& numbers) {
    std::vector<unsigned char> bytes;
    bytes.reserve(numbers.size() * 4);
    for (const std::uint32_t number : numbers) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(number >> shift));
    }
    return bytes;
}

std::vector<std::uint32_t> DecodeNumbers(const std::vector<unsigned char>& bytes) {
    std::vector<std::uint32_t> numbers;
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        numbers.push_back(std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
                          std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24);
    }
    return numbers;
}

}  // namespace vaultmere
