#include "store/Registry.h"

#include <sddl.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "common/TextCase.h"
#include "common/UniqueHandle.h"

using vaultmere::UniqueKey;
using vaultmere::UniqueLocalMemory;

namespace Registry {

namespace {

RegistryStatus OpenKey(HKEY root, const std::wstring& keyPath, REGSAM access, UniqueKey& key,
                       REGSAM view = kRegistryView) {
    return {::RegOpenKeyExW(root, keyPath.c_str(), 0, access | view, key.Put())};
}

// Queries one value into data, growing the buffer for as long as the value
// keeps growing between the size query and the read.
LONG QueryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<unsigned char>& data) {
    data.resize(1024);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        const LONG result = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        if (result == ERROR_MORE_DATA) {
            data.resize(std::max<size_t>(size, data.size() * 2));
            continue;
        }
        data.resize(result == ERROR_SUCCESS ? size : 0);
        return result;
    }
}

}  // namespace

RegistryStatus ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                 RegistryValue& value, REGSAM view) {
    value = RegistryValue();
    UniqueKey key;
    const RegistryStatus opened = OpenKey(root, keyPath, KEY_READ, key, view);
    if (!opened) return opened;
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;
    const LONG result = QueryValue(key.Get(), valueName.c_str(), type, data);
    if (result != ERROR_SUCCESS) return {result};
    value = DecodeRegistryValue(type, data.data(), data.size());
    return {value.IsNothing() ? ERROR_INVALID_DATA : ERROR_SUCCESS};
}

RegistryValue GetRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                               const RegistryValue& defaultValue) {
    RegistryValue value;
    return ReadRegistryValue(root, keyPath, valueName, value) ? value : defaultValue;
}

RegistryStatus CreateRegistryKey(HKEY root, const std::wstring& keyPath) {
    UniqueKey key;
    DWORD disposition = 0;
    return {::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | kRegistryView,
                              nullptr, key.Put(), &disposition)};
}

RegistryStatus SetRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                const RegistryValue& value) {
    UniqueKey key;
    RegistryStatus status = OpenKey(root, keyPath, KEY_WRITE, key);
    if (status.code == ERROR_FILE_NOT_FOUND) {
        const RegistryStatus created = CreateRegistryKey(root, keyPath);
        if (!created) return created;
        status = OpenKey(root, keyPath, KEY_WRITE, key);
    }
    if (!status) return status;
    switch (value.GetKind()) {
    case RegistryValue::Kind::Text: {
        const std::vector<unsigned char> bytes = EncodeRegistryText(value.Text());
        return {
            ::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()))};
    }
    case RegistryValue::Kind::Number: {
        const DWORD number = static_cast<DWORD>(value.Number());
        return {::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                 sizeof number)};
    }
    case RegistryValue::Kind::Bytes:
        return {::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_BINARY, value.Bytes().data(),
                                 static_cast<DWORD>(value.Bytes().size()))};
    case RegistryValue::Kind::Nothing:
        break;
    }
    return {ERROR_INVALID_PARAMETER};
}

RegistryStatus DeleteRegistryKey(HKEY root, const std::wstring& keyPath) {
    return {::RegDeleteKeyExW(root, keyPath.c_str(), kRegistryView, 0)};
}

RegistryStatus DeleteRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName) {
    UniqueKey key;
    RegistryStatus status = OpenKey(root, keyPath, KEY_SET_VALUE, key);
    if (!status) return status;
    return {::RegDeleteValueW(key.Get(), valueName.c_str())};
}

namespace {

// Every value of a key; ERROR_FILE_NOT_FOUND when there is no key.
LONG ReadValues(HKEY root, const std::wstring& keyPath, std::vector<NamedValue>& values, REGSAM view = kRegistryView) {
    values.clear();
    UniqueKey key;
    const RegistryStatus opened = OpenKey(root, keyPath, KEY_READ, key, view);
    if (!opened) return opened.code;

    DWORD valueCount = 0, maxNameLength = 0, maxDataSize = 0;
    LONG result = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                                     &maxNameLength, &maxDataSize, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return result;
    values.reserve(valueCount);
    std::vector<wchar_t> name(maxNameLength + 1);
    std::vector<unsigned char> data(std::max<DWORD>(maxDataSize, 16));
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        result = ::RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result == ERROR_MORE_DATA) {
            // A value grew or was added since the size query: grow and retry.
            name.resize(std::max<size_t>(name.size() * 2, 256));
            data.resize(std::max<size_t>(data.size() * 2, size));
            continue;
        }
        if (result != ERROR_SUCCESS) return result;
        values.push_back({std::wstring(name.data(), nameLength), DecodeRegistryValue(type, data.data(), size)});
        ++index;
    }
}

std::vector<std::wstring> StoredItemsOf(std::vector<NamedValue>& values) {
    struct Numbered {
        std::wstring digits;
        std::wstring item;
    };
    std::vector<Numbered> numbered;
    for (NamedValue& entry : values) {
        auto digits = ItemIndexDigits(entry.name);
        if (!digits) continue;
        std::wstring item = entry.value.ToText();
        if (item.empty()) continue;
        numbered.push_back({std::move(*digits), std::move(item)});
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const Numbered& a, const Numbered& b) { return IndexDigitsLess(a.digits, b.digits); });
    std::vector<std::wstring> items;
    items.reserve(numbered.size());
    for (Numbered& entry : numbered) items.push_back(std::move(entry.item));
    return items;
}

bool ParseDescriptor(const wchar_t* text, UniqueLocalMemory& descriptor) {
    return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, descriptor.Put(), nullptr) !=
           FALSE;
}

std::wstring DescriptorText(PSECURITY_DESCRIPTOR descriptor) {
    UniqueLocalMemory text;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                reinterpret_cast<LPWSTR*>(text.Put()), nullptr)) {
        return std::wstring();
    }
    return static_cast<const wchar_t*>(text.Get());
}

std::wstring AccessTextOf(HKEY key) {
    DWORD size = 0;
    if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) {
        return std::wstring();
    }
    std::vector<unsigned char> buffer(size);
    if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return DescriptorText(buffer.data());
}

constexpr REGSAM kProtectAccess = READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS | kRegistryView;

// A descriptor to give keys and its text as read back, to compare with.
struct WantedSecurity {
    UniqueLocalMemory descriptor;
    std::wstring text;
    explicit WantedSecurity(const wchar_t* sddl) {
        if (ParseDescriptor(sddl, descriptor)) text = DescriptorText(descriptor.Get());
    }
};

LONG Protect(HKEY key, const WantedSecurity& wanted) {
    if (AccessTextOf(key) == wanted.text) return ERROR_SUCCESS;
    // Set as given: each subkey is given its inherited entries itself, so
    // the result is the same whether or not the system passes them on.
    return ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, wanted.descriptor.Get());
}

LONG ProtectBelow(HKEY key, const WantedSecurity& wanted) {
    LONG first = ERROR_SUCCESS;
    auto note = [&first](LONG result) {
        if (first == ERROR_SUCCESS) first = result;
    };
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];  // the longest key name the registry allows, and its end
        DWORD length = 256;
        const LONG listed = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) break;
        if (listed != ERROR_SUCCESS) {
            note(listed);
            break;
        }
        UniqueKey child;
        const LONG opened = ::RegOpenKeyExW(key, name, 0, kProtectAccess, child.Put());
        if (opened != ERROR_SUCCESS) {
            note(opened);
            continue;
        }
        note(Protect(child.Get(), wanted));
        note(ProtectBelow(child.Get(), wanted));
    }
    return first;
}

}  // namespace

std::vector<NamedValue> ReadAllValues(HKEY root, const std::wstring& keyPath) {
    std::vector<NamedValue> values;
    ReadValues(root, keyPath, values);
    return values;
}

RegistryStatus ReadStoredItems(HKEY root, const std::wstring& keyPath, std::vector<std::wstring>& items) {
    std::vector<NamedValue> values;
    const LONG result = ReadValues(root, keyPath, values);
    items.clear();
    if (result == ERROR_FILE_NOT_FOUND) return {};
    if (result != ERROR_SUCCESS) return {result};
    items = StoredItemsOf(values);
    return {};
}

RegistryStatus ReadPolicyItems(std::vector<std::wstring>& items) {
    std::vector<NamedValue> values;
    const LONG result = ReadValues(HKEY_LOCAL_MACHINE, kPolicyFoldersKeyPath, values, kPolicyView);
    items.clear();
    if (result == ERROR_FILE_NOT_FOUND) return {};
    if (result != ERROR_SUCCESS) return {result};
    for (const NamedValue& entry : values) {
        // Text only; a list of several strings in one value is none of the forms.
        const std::wstring& text = entry.value.Text();
        if (entry.value.GetKind() == RegistryValue::Kind::Text && !text.empty() &&
            text.find(L'\0') == std::wstring::npos)
            items.push_back(text);
    }
    return {};
}

RegistryStatus DeleteRegistryTree(HKEY root, const std::wstring& keyPath) {
    UniqueKey key;
    RegistryStatus status = OpenKey(root, keyPath, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
                                    key);
    if (!status) return status;
    status = {::RegDeleteTreeW(key.Get(), nullptr)};
    key.Reset();
    return status ? DeleteRegistryKey(root, keyPath) : status;
}

std::wstring KeyAccessText(HKEY root, const std::wstring& keyPath) {
    UniqueKey key;
    if (!OpenKey(root, keyPath, READ_CONTROL, key)) return std::wstring();
    return AccessTextOf(key.Get());
}

std::wstring CanonicalAccessText(const wchar_t* descriptor) { return WantedSecurity(descriptor).text; }

RegistryStatus ProtectKeyTree(HKEY root, const std::wstring& keyPath, bool create) {
    const WantedSecurity keySecurity(kStoreKeySecurity);
    const WantedSecurity subkeySecurity(kStoreSubkeySecurity);
    if (keySecurity.text.empty() || subkeySecurity.text.empty()) return {ERROR_INVALID_SECURITY_DESCR};
    UniqueKey key;
    LONG result = ::RegOpenKeyExW(root, keyPath.c_str(), 0, kProtectAccess, key.Put());
    if (result == ERROR_FILE_NOT_FOUND && create) {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, keySecurity.descriptor.Get(), FALSE};
        result = ::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kProtectAccess,
                                   &attributes, key.Put(), nullptr);
    }
    if (result != ERROR_SUCCESS) return {result};
    result = Protect(key.Get(), keySecurity);
    const LONG below = ProtectBelow(key.Get(), subkeySecurity);
    return {result != ERROR_SUCCESS ? result : below};
}

RegistryStatus CreateProtectedKey(HKEY root, const std::wstring& keyPath, const std::wstring& subkey) {
    RegistryStatus status = ProtectKeyTree(root, keyPath, true);
    if (!status) return status;
    const WantedSecurity subkeySecurity(kStoreSubkeySecurity);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, subkeySecurity.descriptor.Get(), FALSE};
    UniqueKey key;
    const std::wstring path = keyPath + L"\\" + subkey;
    status.code = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | kRegistryView,
                                    &attributes, key.Put(), nullptr);
    if (!status) return status;
    // Where the system created it with other rights, they are set now,
    // before anything is written into it.
    return ProtectKeyTree(root, keyPath, false);
}

std::vector<std::wstring> ReadStoredItems(HKEY root, const std::wstring& keyPath) {
    std::vector<NamedValue> values;
    ReadValues(root, keyPath, values);
    return StoredItemsOf(values);
}

RegistryStatus SaveStoredItems(HKEY root, const std::wstring& keyPath, const std::vector<std::wstring>& items,
                               std::size_t changeLimit) {
    // Each registry change takes one from the limit; at zero the save stops
    // as if it had failed there.
    auto allowed = [&changeLimit] { return changeLimit == 0 ? false : (--changeLimit, true); };
    const RegistryStatus stopped = {ERROR_CANCELLED};

    // What each stored value holds now, by value name without case, and how
    // many values hold each item. A value about to be overwritten whose item
    // stays on the list and is held nowhere else is first copied to a name
    // beyond the new list, so that a stop between any two changes loses no
    // kept item whatever the order of the list.
    std::unordered_map<std::wstring, std::wstring> stored;
    std::unordered_map<std::wstring, std::size_t> copies;
    for (const NamedValue& entry : ReadAllValues(root, keyPath)) {
        if (!ItemIndexDigits(entry.name)) continue;
        std::wstring item = entry.value.ToText();
        if (item.empty()) continue;
        ++copies[item];
        stored.emplace(vaultmere::LowerCase(entry.name), std::move(item));
    }
    const std::unordered_set<std::wstring> kept(items.begin(), items.end());
    std::size_t spare = items.size();
    auto write = [&](const std::wstring& name, const std::wstring& item) -> RegistryStatus {
        if (!allowed()) return stopped;
        const RegistryStatus status = SetRegistryValue(root, keyPath, name, RegistryValue::FromText(item));
        if (!status) return status;
        std::wstring& slot = stored[vaultmere::LowerCase(name)];
        if (!slot.empty()) --copies[slot];
        slot = item;
        ++copies[item];
        return {};
    };

    for (size_t i = 0; i < items.size(); ++i) {
        const std::wstring name = ItemValueName(i);
        const auto current = stored.find(vaultmere::LowerCase(name));
        if (current != stored.end() && current->second != items[i] && kept.count(current->second) &&
            copies[current->second] == 1) {
            while (stored.count(vaultmere::LowerCase(ItemValueName(spare)))) ++spare;
            const std::wstring rescued = current->second;
            const RegistryStatus status = write(ItemValueName(spare), rescued);
            if (!status) return status;
        }
        const RegistryStatus status = write(name, items[i]);
        if (!status) return status;
    }

    if (items.empty()) {
        if (!allowed()) return stopped;
        const RegistryStatus status = DeleteRegistryKey(root, keyPath);
        if (status || status.code == ERROR_FILE_NOT_FOUND) return {};
        // The key cannot go (it has subkeys, say): empty it instead.
    }

    std::unordered_set<std::wstring> written;
    for (size_t i = 0; i < items.size(); ++i) written.insert(vaultmere::LowerCase(ItemValueName(i)));
    RegistryStatus firstFailure;
    for (const NamedValue& entry : ReadAllValues(root, keyPath)) {
        // Value names compare without case, so "file0" is the File0 just
        // written; "File01" is not.
        if (written.count(vaultmere::LowerCase(entry.name))) continue;
        if (!allowed()) return stopped;
        const RegistryStatus status = DeleteRegistryValue(root, keyPath, entry.name);
        if (!status && firstFailure) firstFailure = status;
    }
    return firstFailure;
}

}  // namespace Registry
