#pragma once
// The program's registry operations. Every call opens the key it needs and
// closes it before returning; failures come back as Win32 codes.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "store/RegistryValue.h"

namespace Registry {

constexpr wchar_t kPublisherKeyPath[] = L"SOFTWARE\\Brackwater";
constexpr wchar_t kStoreKeyPath[] = L"SOFTWARE\\Brackwater\\Addon";
constexpr wchar_t kFilesKeyName[] = L"Files";
constexpr wchar_t kSettingsKeyName[] = L"Settings";
constexpr wchar_t kFilesKeyPath[] = L"SOFTWARE\\Brackwater\\Addon\\Files";
constexpr wchar_t kSettingsKeyPath[] = L"SOFTWARE\\Brackwater\\Addon\\Settings";

// Only the system and administrators may read or change the list and the
// password: the store key's own access list, not the one of SOFTWARE, which
// every user may read, passed on to every key below it.
constexpr wchar_t kStoreKeySecurity[] = L"D:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
constexpr wchar_t kStoreSubkeySecurity[] = L"D:AI(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)";
constexpr wchar_t kPasswordValueName[] = L"UserPassword";

// What an administrator's policy sets, read in the 64-bit view where there
// is one: Group Policy and device management write the native view, and the
// program is 32-bit. Its LockedFolders key holds the folders the policy keeps
// locked: one text value per folder, any value name, in the stored list's
// forms.
constexpr wchar_t kPolicyKeyPath[] = L"SOFTWARE\\Policies\\Brackwater\\Vaultmere";
constexpr wchar_t kPolicyFoldersKeyPath[] = L"SOFTWARE\\Policies\\Brackwater\\Vaultmere\\LockedFolders";
constexpr REGSAM kPolicyView = KEY_WOW64_64KEY;

// Every key is opened in the 32-bit registry view, where the setup writes and
// where a 32-bit copy reads, so that a 64-bit build shares the same list.
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;

// A Win32 result code that also reads as the success flag.
struct RegistryStatus {
    LONG code = ERROR_SUCCESS;
    explicit operator bool() const { return code == ERROR_SUCCESS; }
};

// Reads one value; a missing key or value, or one of a type the program
// does not know, gives defaultValue.
RegistryValue GetRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                               const RegistryValue& defaultValue = RegistryValue());

// Reads one value, telling a value that is not there (ERROR_FILE_NOT_FOUND,
// also for a missing key) from one that cannot be read: the error of the
// failing call, or ERROR_INVALID_DATA for a type the program does not know.
// view is kPolicyView for what a policy sets.
RegistryStatus ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                 RegistryValue& value, REGSAM view = kRegistryView);

// Writes one value, creating the key when it is missing. Text is stored as
// REG_SZ, a number as REG_DWORD, bytes as REG_BINARY; nothing writes nothing.
RegistryStatus SetRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                const RegistryValue& value);

RegistryStatus CreateRegistryKey(HKEY root, const std::wstring& keyPath);
RegistryStatus DeleteRegistryKey(HKEY root, const std::wstring& keyPath);
RegistryStatus DeleteRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

// Every value of a key, decoded, in the order the registry lists them.
struct NamedValue {
    std::wstring name;
    RegistryValue value;
};
std::vector<NamedValue> ReadAllValues(HKEY root, const std::wstring& keyPath);

// The stored item list: every value named File<N>, in ascending N, read as
// text, empty ones skipped. The key is read once.
std::vector<std::wstring> ReadStoredItems(HKEY root, const std::wstring& keyPath);

// The same, and whether the list could be read: ERROR_SUCCESS also when the
// key is missing (no list); on any other code items is empty and means
// nothing.
RegistryStatus ReadStoredItems(HKEY root, const std::wstring& keyPath, std::vector<std::wstring>& items);

// The policy's folders in the order the registry lists them; ERROR_SUCCESS
// also when the key is missing (no policy). Values that are not text, or
// empty, are skipped.
RegistryStatus ReadPolicyItems(std::vector<std::wstring>& items);

// Deletes a key with every value and key below it.
RegistryStatus DeleteRegistryTree(HKEY root, const std::wstring& keyPath);

// A key's access list as descriptor text, "" when it cannot be read.
std::wstring KeyAccessText(HKEY root, const std::wstring& keyPath);
// Descriptor text as this system writes it back: a right may be written by
// name or as a number.
std::wstring CanonicalAccessText(const wchar_t* descriptor);

// Gives keyPath the descriptor kStoreKeySecurity and every key below it
// kStoreSubkeySecurity, wherever they differ. A missing key is created with
// it when create is set, else the result is ERROR_FILE_NOT_FOUND. Returns
// the first failure; the other keys are set all the same.
RegistryStatus ProtectKeyTree(HKEY root, const std::wstring& keyPath, bool create);
// Creates keyPath\subkey, each key with its descriptor, before anything is
// written into them.
RegistryStatus CreateProtectedKey(HKEY root, const std::wstring& keyPath, const std::wstring& subkey);

// Replaces the stored item list with items as File0 ... File(n-1). The new
// values are written first; only then is what is stale deleted (every other
// value, and the key itself when the list is empty). Before a value is
// overwritten, an item it alone holds that stays on the list is copied to a
// spare name past the list, so a stop after any single change loses no item
// that was stored and is still on the list, in any order; at worst an item
// is left stored twice until the next save. Returns the
// first failure. changeLimit stops the save after that many registry changes
// (ERROR_CANCELLED), which is how tests interrupt it at every step.
RegistryStatus SaveStoredItems(HKEY root, const std::wstring& keyPath, const std::vector<std::wstring>& items,
                               std::size_t changeLimit = static_cast<std::size_t>(-1));

}  // namespace Registry
