#include <gtest/gtest.h>

#include "common/AppState.h"
#include "store/Registry.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

// Runs the real program against the real HKEY_LOCAL_MACHINE keys of the
// test prefix, which this test owns while it runs.
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
        Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName);
        ASSERT_EQ(nullptr, ::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle)) << "a resident copy runs already";
    }
    void TearDown() override {
        for (auto& process : started) {
            ::TerminateProcess(process.Get(), 1);
            ::WaitForSingleObject(process.Get(), 5000);
        }
        Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
    }
    HANDLE Start() {
        started.push_back(StartProcess(BinaryFolder() + L"\\brwaddon.exe", L""));
        return started.back().Get();
    }
    static HWND ResidentWindow() { return ::FindWindowW(nullptr, vaultmere::kResidentMarkerTitle); }
    void Store(const std::wstring& name, const std::wstring& item) {
        ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, name,
                                               Registry::RegistryValue::FromText(item)));
    }

    std::vector<vaultmere::UniqueHandle> started;
};

TEST_F(StartupTest, ResidentTakesTheTitleAndRelocksStoredItems) {
    TempFolder first(L"first"), second(L"second"), skipped(L"skipped");
    ASSERT_TRUE(WriteTextFile(first / L"one.txt", "1"));
    ASSERT_TRUE(WriteTextFile(first / L"hidden.txt", "h"));
    ::SetFileAttributesW((first / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(MakeFolder(first / L"sub"));
    ASSERT_TRUE(WriteTextFile(first / L"sub\\deep.txt", "d"));
    ASSERT_TRUE(WriteTextFile(second / L"two.txt", "2"));
    ASSERT_TRUE(WriteTextFile(skipped / L"free.txt", "f"));
    Store(L"File0", first.Path() + L"\\*.*");
    Store(L"File2", second.Path() + L"\\*.*");
    Store(L"File1", L"");
    Store(L"Note", skipped.Path() + L"\\*.*");

    HANDLE resident = Start();
    ASSERT_TRUE(WaitUntil([] { return ResidentWindow() != nullptr; }, 10000));
    HWND window = ResidentWindow();
    EXPECT_FALSE(::IsWindowVisible(window));
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(::GetProcessId(resident), owner);

    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(first / L"one.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(second / L"two.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_EQ(0u, OpenFromOutside(first / L"hidden.txt"));
    EXPECT_EQ(0u, OpenFromOutside(first / L"sub\\deep.txt"));
    EXPECT_EQ(0u, OpenFromOutside(skipped / L"free.txt"));

    // The resident copy keeps running; the stored list is left as it was.
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(resident, 200));
    EXPECT_EQ(first.Path() + L"\\*.*",
              Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, L"File0").ToText());

    // The locks end with the process.
    ::TerminateProcess(resident, 1);
    ::WaitForSingleObject(resident, 5000);
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(first / L"one.txt") == 0; }));
}

TEST_F(StartupTest, NothingStoredStillGivesAResidentCopy) {
    HANDLE resident = Start();
    ASSERT_TRUE(WaitUntil([] { return ResidentWindow() != nullptr; }, 10000));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(resident, 200));
}

}  // namespace
