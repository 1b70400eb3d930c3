#include <gtest/gtest.h>

#include <algorithm>

#include "store/LockBudgetStore.h"
#include "store/Registry.h"
#include "store/RelockStore.h"
#include "tests/support/TestSupport.h"

using namespace Registry;
using testing_support::ScopedTestKey;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    std::wstring Files() const { return key.Path() + L"\\Files"; }
    void SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) {
        HKEY raw = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(key.Root(), Files().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(raw, name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
        ::RegCloseKey(raw);
    }
    std::vector<std::wstring> ValueNames() {
        std::vector<std::wstring> names;
        for (const NamedValue& value : ReadAllValues(key.Root(), Files())) names.push_back(value.name);
        return names;
    }
    bool KeyExists() {
        HKEY raw = nullptr;
        if (::RegOpenKeyExW(key.Root(), Files().c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
        ::RegCloseKey(raw);
        return true;
    }
    ScopedTestKey key;
};

TEST_F(RegistryTest, RelockSettingsTakeEachValueFromThePolicyFirstAndOnlyAsNumbers) {
    const std::wstring policy = key.Path() + L"\\Policy";
    const std::wstring settings = key.Path() + L"\\Settings";
    const auto read = [&] { return ReadRelockSettings(key.Root(), policy, settings); };
    SetRegistryValue(key.Root(), settings, kRelockOnSessionLockValueName, RegistryValue::FromNumber(0));
    SetRegistryValue(key.Root(), settings, kRelockMinutesValueName, RegistryValue::FromNumber(2));
    SetRegistryValue(key.Root(), policy, kRelockMinutesValueName, RegistryValue::FromNumber(5));
    SetRegistryValue(key.Root(), policy, kRelockOnSessionLockValueName, RegistryValue::FromText(L"1"));
    EXPECT_FALSE(read().onSessionLock);
    EXPECT_EQ(5u, read().minutes);
    SetRegistryValue(key.Root(), policy, kRelockMinutesValueName, RegistryValue::FromNumber(0));
    EXPECT_EQ(0u, read().minutes);
}

TEST_F(RegistryTest, MaxLockedFilesIsTakenFromThePolicyFirstAndABadValueGivesTheDefault) {
    const std::wstring policy = key.Path() + L"\\Policy";
    const std::wstring settings = key.Path() + L"\\Settings";
    const auto read = [&] { return ReadLockBudget(key.Root(), policy, settings); };
    const auto set = [&](const std::wstring& where, const RegistryValue& value) {
        SetRegistryValue(key.Root(), where, kMaxLockedFilesValueName, value);
    };
    set(settings, RegistryValue::FromNumber(40000));
    EXPECT_EQ(37500u, read().budget.treeLimit);
    set(policy, RegistryValue::FromNumber(200000));
    EXPECT_EQ(200000u, read().budget.handles);
    EXPECT_TRUE(read().ignoredPlace.empty());
    // A bad policy is not passed over for the settings: the default holds.
    set(policy, RegistryValue::FromNumber(-1));
    EXPECT_EQ(vaultmere::PlatformLockBudget().handles, read().budget.handles);
    EXPECT_EQ(policy + L"\\MaxLockedFiles", read().ignoredPlace);
    EXPECT_EQ(L"4294967295", read().ignoredValue);
    set(policy, RegistryValue::FromText(L"50000"));
    EXPECT_EQ(L"not a REG_DWORD", read().ignoredValue);
}

TEST_F(RegistryTest, TextNumbersAndBytesRoundTrip) {
    const std::wstring wide = L"c:\\\x65E5\x672C\\\x0161\x00E9\\*.*";
    EXPECT_TRUE(SetRegistryValue(key.Root(), Files(), L"File0", RegistryValue::FromText(wide)));
    EXPECT_EQ(wide, GetRegistryValue(key.Root(), Files(), L"File0").ToText());
    EXPECT_TRUE(SetRegistryValue(key.Root(), Files(), L"n", RegistryValue::FromNumber(-7)));
    EXPECT_EQ(RegistryValue::FromNumber(-7), GetRegistryValue(key.Root(), Files(), L"n"));
    EXPECT_EQ(L"-7", GetRegistryValue(key.Root(), Files(), L"n").ToText());
    EXPECT_TRUE(SetRegistryValue(key.Root(), Files(), L"b", RegistryValue::FromBytes({1, 2, 3})));
    EXPECT_EQ(RegistryValue::FromBytes({1, 2, 3}), GetRegistryValue(key.Root(), Files(), L"b"));

    // Stored as a plain REG_SZ with its terminator, as older copies wrote it.
    DWORD type = 0, size = 0;
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(key.Root(), Files().c_str(), L"File0", RRF_RT_ANY, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((wide.size() + 1) * 2, size);
}

TEST_F(RegistryTest, MissingKeysAndValuesGiveTheDefaultAndCreateNothing) {
    EXPECT_TRUE(GetRegistryValue(key.Root(), Files(), L"File0").IsNothing());
    EXPECT_EQ(L"", GetRegistryValue(key.Root(), Files(), L"File0").ToText());
    EXPECT_EQ(L"d", GetRegistryValue(key.Root(), Files(), L"x", RegistryValue::FromText(L"d")).ToText());
    EXPECT_FALSE(KeyExists());
    EXPECT_TRUE(ReadStoredItems(key.Root(), Files()).empty());
    EXPECT_FALSE(KeyExists());
}

TEST_F(RegistryTest, LongValuesAreReadWhole) {
    for (size_t length : {511u, 512u, 513u, 32768u}) {
        const std::wstring text(length, L'q');
        ASSERT_TRUE(SetRegistryValue(key.Root(), Files(), L"v", RegistryValue::FromText(text)));
        EXPECT_EQ(text, GetRegistryValue(key.Root(), Files(), L"v").ToText()) << length;
    }
}

TEST_F(RegistryTest, StoredItemsInIndexOrderWithGapsAndOddValuesSkipped) {
    SetRaw(L"File10", REG_SZ, L"c:\\ten\\*.*", 22);
    SetRaw(L"File2", REG_SZ, L"c:\\two\\*.*", 22);
    SetRaw(L"File0", REG_SZ, L"c:\\zero\\*.*", 24);
    SetRaw(L"File1000", REG_SZ, L"c:\\thousand\\*.*", 32);
    SetRaw(L"File3", REG_SZ, L"", 2);
    SetRaw(L"File01", REG_SZ, L"c:\\leading\\*.*", 30);
    SetRaw(L"Other", REG_SZ, L"c:\\other\\*.*", 26);
    SetRaw(L"File4", REG_NONE, "xx", 2);
    const DWORD number = 5;
    SetRaw(L"File5", REG_DWORD, &number, 4);
    // No terminator stored: every character is still read.
    SetRaw(L"File6", REG_SZ, L"c:\\six\\*.*", 20);

    const std::vector<std::wstring> expected = {L"c:\\zero\\*.*", L"c:\\two\\*.*", L"5",
                                                L"c:\\six\\*.*",  L"c:\\ten\\*.*", L"c:\\thousand\\*.*"};
    EXPECT_EQ(expected, ReadStoredItems(key.Root(), Files()));
}

TEST_F(RegistryTest, SaveRewritesTheListAndLeavesNothingStale) {
    ASSERT_TRUE(SaveStoredItems(key.Root(), Files(), {L"a", L"b", L"c"}));
    SetRaw(L"Other", REG_SZ, L"x", 4);
    ASSERT_TRUE(SaveStoredItems(key.Root(), Files(), {L"a", L"c"}));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c"}), ReadStoredItems(key.Root(), Files()));
    EXPECT_EQ((std::vector<std::wstring>{L"File0", L"File1"}), ValueNames());

    // The same list again leaves the same contents.
    ASSERT_TRUE(SaveStoredItems(key.Root(), Files(), {L"a", L"c"}));
    EXPECT_EQ((std::vector<std::wstring>{L"File0", L"File1"}), ValueNames());

    // An empty list leaves no key at all.
    ASSERT_TRUE(SaveStoredItems(key.Root(), Files(), {}));
    EXPECT_FALSE(KeyExists());
}

TEST_F(RegistryTest, EmptyListEmptiesAKeyThatCannotBeDeleted) {
    ASSERT_TRUE(SaveStoredItems(key.Root(), Files(), {L"a"}));
    ASSERT_TRUE(CreateRegistryKey(key.Root(), Files() + L"\\Sub"));
    ASSERT_TRUE(SaveStoredItems(key.Root(), Files(), {}));
    EXPECT_TRUE(ValueNames().empty());
    EXPECT_TRUE(ReadStoredItems(key.Root(), Files()).empty());
}

TEST_F(RegistryTest, TheStoreKeyAndEveryKeyBelowAreLeftOnlyToTheSystemAndAdministrators) {
    const std::wstring store = key.Path() + L"\\Addon";
    const std::wstring keyText = CanonicalAccessText(kStoreKeySecurity);
    const std::wstring subkeyText = CanonicalAccessText(kStoreSubkeySecurity);
    ASSERT_FALSE(keyText.empty());
    ASSERT_FALSE(subkeyText.empty());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ProtectKeyTree(key.Root(), store, false).code);
    std::vector<std::wstring> items{L"stale"};
    EXPECT_TRUE(ReadStoredItems(key.Root(), store + L"\\Files", items)) << "a missing list is an empty one";
    EXPECT_TRUE(items.empty());

    // Keys as an earlier version left them, one deeper than it made.
    ASSERT_TRUE(SetRegistryValue(key.Root(), store + L"\\Files", L"File0", RegistryValue::FromText(L"c:\\a\\*.*")));
    ASSERT_TRUE(CreateRegistryKey(key.Root(), store + L"\\Settings\\Deeper"));
    EXPECT_NE(keyText, KeyAccessText(key.Root(), store));
    ASSERT_TRUE(ProtectKeyTree(key.Root(), store, false));
    EXPECT_EQ(keyText, KeyAccessText(key.Root(), store));
    for (const wchar_t* below : {L"\\Files", L"\\Settings", L"\\Settings\\Deeper"}) {
        EXPECT_EQ(subkeyText, KeyAccessText(key.Root(), store + below)) << below;
    }
    EXPECT_TRUE(ReadStoredItems(key.Root(), store + L"\\Files", items));
    EXPECT_EQ((std::vector<std::wstring>{L"c:\\a\\*.*"}), items);

    // Deleted and made anew: each key has its descriptor before anything is written.
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(key.Root(), store.c_str()));
    ASSERT_TRUE(CreateProtectedKey(key.Root(), store, L"Settings"));
    EXPECT_EQ(keyText, KeyAccessText(key.Root(), store));
    EXPECT_EQ(subkeyText, KeyAccessText(key.Root(), store + L"\\Settings"));
}

TEST_F(RegistryTest, SaveStoppedAtAnyStepLosesNoItemThatStaysOnTheList) {
    struct Case {
        std::vector<std::pair<std::wstring, std::wstring>> stored;  // value name, item
        std::vector<std::wstring> list;                             // what Close saves
    };
    const Case cases[] = {
        {{{L"File0", L"a"}, {L"File1", L"b"}, {L"File2", L"c"}}, {L"b", L"c"}},
        {{{L"File0", L"a"}, {L"File1", L"b"}, {L"File2", L"c"}}, {L"a", L"c", L"d", L"e"}},
        {{{L"File0", L"x"}, {L"File5", L"y"}, {L"File7", L"z"}, {L"file9", L"w"}}, {L"x", L"z"}},
        {{{L"File0", L"a"}, {L"File1", L"b"}}, {}},
        {{}, {L"new"}},
        // Reordered: writing File0 first must not overwrite the only copy of a.
        {{{L"File0", L"a"}, {L"File1", L"b"}}, {L"b", L"a"}},
        {{{L"File0", L"a"}, {L"File1", L"b"}, {L"File2", L"c"}}, {L"c", L"a", L"b", L"d", L"e"}},
        {{{L"File0", L"a"}, {L"File1", L"b"}, {L"File2", L"c"}, {L"File3", L"d"}}, {L"d", L"c", L"b", L"a"}},
        // A value name the registry takes for "File1".
        {{{L"file1", L"a"}, {L"File0", L"c"}}, {L"a", L"c"}},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> kept;
        for (const auto& value : c.stored) {
            if (std::find(c.list.begin(), c.list.end(), value.second) != c.list.end()) kept.push_back(value.second);
        }
        for (size_t limit = 0;; ++limit) {
            DeleteRegistryKey(key.Root(), Files());
            for (const auto& value : c.stored) {
                // NOLINTNEXTLINE(bugprone-misplaced-widening-cast): DWORD is not wider than size_t on either target
                SetRaw(value.first, REG_SZ, value.second.c_str(), static_cast<DWORD>((value.second.size() + 1) * 2));
            }
            const RegistryStatus status = SaveStoredItems(key.Root(), Files(), c.list, limit);
            const std::vector<std::wstring> now = ReadStoredItems(key.Root(), Files());
            for (const std::wstring& item : kept) {
                EXPECT_NE(now.end(), std::find(now.begin(), now.end(), item)) << "lost after " << limit << " changes";
            }
            if (status.code != ERROR_CANCELLED) {
                EXPECT_TRUE(status);
                EXPECT_EQ(c.list, now);
                break;
            }
            ASSERT_LT(limit, 20u);
        }
    }
}

}  // namespace
