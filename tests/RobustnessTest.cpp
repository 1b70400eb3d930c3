#include <algorithm>
#include <utility>
#include <vector>

#include "app/LocalKeeper.h"
#include "forms/info/InfoWindow.h"
#include "locker/FileLocker.h"
#include "tests/support/ProgramTest.h"

using namespace testing_support;

namespace {

// The resident copy against odd stored data and a storm of second starts.
class RobustnessTest : public ProgramTest {
protected:
    void TearDown() override {
        EndStrayCopies();
        Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
        ProgramTest::TearDown();
    }
    static void SetRaw(const std::wstring& keyPath, const std::wstring& name, DWORD type, const void* data,
                       size_t size) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                                   KEY_WRITE | Registry::kRegistryView, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                                  static_cast<DWORD>(size)));
        ::RegCloseKey(key);
    }
    static void SetText(const std::wstring& name, DWORD type, const std::wstring& text, bool terminated = true) {
        SetRaw(Registry::kFilesKeyPath, name, type, text.c_str(), (text.size() + (terminated ? 1 : 0)) * 2);
    }
    void OpenConfiguration(const std::wstring& password) {
        Start();
        ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
        RequestPrompt();
        EnterPassword(password);
        ASSERT_TRUE(WaitUntil([] { return Configuration() != nullptr && ::IsWindowVisible(Configuration()); }, 5000));
    }
    static int CountWindows(const wchar_t* title) {
        int count = 0;
        for (HWND window = nullptr; (window = ::FindWindowExW(nullptr, window, nullptr, title)) != nullptr;) ++count;
        return count;
    }
    std::wstring Item(const TempFolder& where) const { return where.Path() + L"\\*.*"; }
};

TEST_F(RobustnessTest, OddStoredValuesAreSkippedAndEveryValidItemRelockedInOrder) {
    TempFolder a(L"odd-a"), b(L"odd-b"), c(L"odd-c"), d(L"odd-\x65E5\x672C-\x00E9"), f(L"odd-f"), g(L"odd-g"),
        skipped(L"odd-skip");
    for (const TempFolder* where : {&a, &b, &c, &d, &f, &g, &skipped}) {
        ASSERT_TRUE(WriteTextFile(*where / L"x.txt", "x"));
    }
    Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
    SetText(L"File0", REG_SZ, Item(a));
    const DWORD number = 7;
    SetRaw(Registry::kFilesKeyPath, L"File1", REG_DWORD, &number, sizeof number);
    SetRaw(Registry::kFilesKeyPath, L"File2", REG_BINARY, "h\0i\0", 4);
    SetRaw(Registry::kFilesKeyPath, L"File3", REG_MULTI_SZ, L"m\0\0", 6);
    SetText(L"File4", REG_EXPAND_SZ, Item(b));
    SetRaw(Registry::kFilesKeyPath, L"File5", REG_NONE, "zz", 2);
    SetRaw(Registry::kFilesKeyPath, L"File6", REG_SZ, "", 0);
    SetText(L"File7", REG_SZ, Item(c), false);
    SetText(L"File8", REG_SZ, std::wstring(32768, L'q'));
    SetText(L"File9", REG_SZ, Item(d));
    SetText(L"File01", REG_SZ, Item(skipped));
    SetText(L"File-1", REG_SZ, Item(skipped));
    SetText(L"file10", REG_SZ, Item(f));
    SetText(L"File99999999999", REG_SZ, Item(g));
    ASSERT_TRUE(Registry::CreateRegistryKey(HKEY_LOCAL_MACHINE, std::wstring(Registry::kFilesKeyPath) + L"\\Sub"));
    // A password stored as a number is its decimal text.
    SetRaw(Registry::kSettingsKeyPath, Registry::kPasswordValueName, REG_DWORD, &number, sizeof number);

    const std::vector<std::wstring> expected = {
        Item(a), L"7", L"hi", L"m", Item(b), Item(c), std::wstring(32768, L'q'), Item(d), Item(f), Item(g)};
    const auto stored = Registry::ReadAllValues(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
    OpenConfiguration(L"7");
    EXPECT_EQ(expected.size(), ListEntries(LockedList(Configuration())).size());
    for (const TempFolder* where : {&a, &b, &c, &d, &f, &g}) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(*where / L"x.txt"));
    }
    EXPECT_EQ(0u, OpenFromOutside(skipped / L"x.txt"));

    // A Close with nothing changed writes nothing: every value stays as it was.
    ASSERT_TRUE(ClickUntil(FindDescendant(Configuration(), vaultmere::ConfigWindow::IDC_CLOSE_BUTTON),
                           [] { return !::IsWindowVisible(Configuration()); }));
    EXPECT_EQ(stored.size(), Registry::ReadAllValues(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath).size());
    EXPECT_EQ(expected, Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));
}

TEST_F(RobustnessTest, UnusableItemPathsAreListedWithTheirNotesAndLockNothing) {
    TempFolder good(L"paths-good");
    ASSERT_TRUE(WriteTextFile(good / L"x.txt", "x"));
    wchar_t systemFolder[MAX_PATH + 1] = {};
    ::GetSystemDirectoryW(systemFolder, MAX_PATH + 1);
    const std::wstring system = systemFolder;
    const std::vector<std::pair<std::wstring, std::wstring>> itemsAndNotes = {
        {L"\\\\.\\PhysicalDrive0", L"cannot be locked"},
        {L"CON", L"cannot be locked"},
        {L"relative\\folder\\*.*", L"cannot be locked"},
        {L"q:\\no drive here\\*.*", L"not reachable"},
        {L"\\\\nohost.invalid\\share\\*.*", L"not reachable"},
        {good.Path() + L"\\missing\\*.*", L"folder missing"},
        {L"c:\\" + std::wstring(300, L'p') + L"\\*.*", L"folder missing"},
        {L"c:\\" + std::wstring(32000, L'p') + L"\\*.*", L"cannot be locked"},
        {good.Path() + L"\\trailing. \\*.*", L"folder missing"},
        {system + L"\\*.*", L"cannot be locked"},
        {good.Path(), L"folder given without \\*.*"},
        {good.Path() + L"\\*.*", L""},
    };
    std::vector<std::wstring> items;
    std::vector<std::wstring> notes;
    for (const auto& each : itemsAndNotes) {
        items.push_back(each.first);
        notes.push_back(each.second);
    }
    Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
    ASSERT_TRUE(Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, items));

    // The start-up run here, where the notes beside the entries can be read.
    {
        vaultmere::AppState state;
        vaultmere::FileLocker locker;
        vaultmere::LocalKeeper keeper(locker);
        vaultmere::GuardBook lists(keeper);
        vaultmere::InfoWindow messageWindow;
        vaultmere::ConfigWindow configuration(state, lists, messageWindow);
        ResidentWindow resident(state, lists, messageWindow);
        ASSERT_EQ(ResidentWindow::Role::Resident, resident.StartUp());
        ASSERT_TRUE(lists.CheckPassword(L"secret").accepted);
        configuration.Show();
        EXPECT_TRUE(WaitUntil([&] { return configuration.Notes() == notes; }, 15000));
        EXPECT_EQ(0u, OpenFromOutside(system + L"\\kernel32.dll"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(good / L"x.txt"));
    }

    // The program itself lists them all, locks the one usable item and
    // still answers a second start with its prompt.
    OpenConfiguration(L"secret");
    EXPECT_EQ(items.size(), ListEntries(LockedList(Configuration())).size());
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(good / L"x.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_EQ(0u, OpenFromOutside(system + L"\\kernel32.dll"));
}

TEST_F(RobustnessTest, ManySecondStartsAreEachAnsweredByTheOnePrompt) {
    Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    constexpr int kBatches = 10, kOverlapping = 10;
    for (int batch = 0; batch < kBatches; ++batch) {
        std::vector<vaultmere::UniqueHandle> seconds;
        for (int i = 0; i < kOverlapping; ++i) {
            seconds.push_back(StartProcess(BinaryFolder() + L"\\brwaddon.exe", L""));
            ASSERT_TRUE(seconds.back());
        }
        EXPECT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 5000)) << "batch " << batch;
        for (auto& second : seconds) EXPECT_EQ(0u, WaitForExit(second.Get(), 10000)) << "batch " << batch;
        EXPECT_EQ(1, CountWindows(vaultmere::kResidentMarkerTitle));
        ::SendMessageW(Resident(), WM_COMMAND, MAKEWPARAM(vaultmere::ResidentWindow::IDC_CANCEL_BUTTON, BN_CLICKED), 0);
        ASSERT_TRUE(WaitUntil([] { return !::IsWindowVisible(Resident()); }, 3000));
    }
    EXPECT_EQ(0, CountWindows(vaultmere::kShowRequestTitle));
    EXPECT_EQ(1, CountWindows(vaultmere::kResidentMarkerTitle));
}

}  // namespace
