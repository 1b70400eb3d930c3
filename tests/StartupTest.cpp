#include <windows.h>
#include <gtest/gtest.h>

#include <sddl.h>

#include <thread>

#include "app/Residency.h"
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
    static HWND ResidentWindow() { return ::FindWindowW(ui::kFormClass, vaultmere::kResidentMarkerTitle); }
    void Store(const std::wstring& name, const std::wstring& item) {
        ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, name,
                                               Registry::RegistryValue::FromText(item)));
    }

    std::vector<vaultmere::UniqueHandle> started;
};

TEST_F(StartupTest, ResidentTakesTheTitleAndRelocksStoredItems) {
    TempFolder first(L"first"), second(L"second"), skipped(L"skipped"), tree(L"tree");
    ASSERT_TRUE(WriteTextFile(first / L"one.txt", "1"));
    ASSERT_TRUE(WriteTextFile(first / L"hidden.txt", "h"));
    ::SetFileAttributesW((first / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(MakeFolder(first / L"sub"));
    ASSERT_TRUE(WriteTextFile(first / L"sub\\deep.txt", "d"));
    ASSERT_TRUE(WriteTextFile(second / L"two.txt", "2"));
    ASSERT_TRUE(WriteTextFile(skipped / L"free.txt", "f"));
    // A folder stored with its subfolders, beside the plain ones.
    ASSERT_TRUE(MakeFolder(tree / L"a") && MakeFolder(tree / L"a\\b"));
    ASSERT_TRUE(WriteTextFile(tree / L"a\\b\\deep.txt", "d"));
    Store(L"File3", tree.Path() + L"\\**\\*.*");
    Store(L"File0", first.Path() + L"\\*.*");
    Store(L"File2", second.Path() + L"\\*.*");
    Store(L"File1", L"");
    Store(L"Note", skipped.Path() + L"\\*.*");
    // Another program's window with the resident marker title changes nothing.
    vaultmere::UniqueWindow decoy(::CreateWindowExW(0, L"STATIC", vaultmere::kResidentMarkerTitle, WS_POPUP, 0, 0, 10,
                                                    10, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(decoy);

    HANDLE resident = Start();
    ASSERT_TRUE(WaitUntil([] { return ResidentWindow() != nullptr; }, 10000));
    HWND window = ResidentWindow();
    EXPECT_FALSE(::IsWindowVisible(window));
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(::GetProcessId(resident), owner);

    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(first / L"one.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(second / L"two.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(tree / L"a\\b\\deep.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_EQ(0u, OpenFromOutside(first / L"hidden.txt"));
    EXPECT_EQ(0u, OpenFromOutside(first / L"sub\\deep.txt"));
    EXPECT_EQ(0u, OpenFromOutside(skipped / L"free.txt"));

    // The resident copy keeps running; the stored list is left as it was.
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(resident, 200));
    EXPECT_EQ(first.Path() + L"\\*.*",
              Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, L"File0").ToText());

    // The locks end with the process. Its mutex, still open here, is left
    // abandoned: the next start takes it over and locks again.
    vaultmere::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, vaultmere::kResidentMutexName));
    ASSERT_TRUE(mutex);
    ::TerminateProcess(resident, 1);
    ::WaitForSingleObject(resident, 5000);
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(first / L"one.txt") == 0; }));
    EXPECT_EQ(0u, OpenFromOutside(tree / L"a\\b\\deep.txt"));
    HANDLE next = Start();
    ASSERT_TRUE(WaitUntil([] { return ResidentWindow() != nullptr; }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(first / L"one.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_TRUE(WaitUntil([&] { return OpenFromOutside(tree / L"a\\b\\deep.txt") == ERROR_SHARING_VIOLATION; }));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(next, 200));
}

TEST_F(StartupTest, OneMutexDecidesWhichCopyIsResident) {
    using vaultmere::ClaimResidency;
    const std::wstring name = L"Local\\VaultmereTest.Residency." + std::to_wstring(::GetCurrentProcessId());
    // Held by a live thread: this one is no resident.
    vaultmere::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    vaultmere::UniqueHandle claimed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        const vaultmere::ResidencyClaim claim = ClaimResidency(name.c_str());
        if (claim.resident) ::SetEvent(claimed.Get());
        ::WaitForSingleObject(release.Get(), 10000);
        // Ends without releasing it: the mutex is left abandoned.
    });
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(claimed.Get(), 5000));
    EXPECT_FALSE(ClaimResidency(name.c_str()).resident);
    EXPECT_FALSE(ClaimResidency(name.c_str()).mutex);
    ::SetEvent(release.Get());
    holder.join();
    const vaultmere::ResidencyClaim takeover = ClaimResidency(name.c_str());
    EXPECT_TRUE(takeover.resident);
    EXPECT_TRUE(takeover.mutex);

    // A mutex this copy may not open, as an elevated resident's is to an
    // unelevated start, means a resident runs.
    PSECURITY_DESCRIPTOR denyAll = nullptr;
    ASSERT_TRUE(
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &denyAll, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, denyAll, FALSE};
    const std::wstring deniedName = name + L".denied";
    vaultmere::UniqueHandle denied(::CreateMutexW(&attributes, FALSE, deniedName.c_str()));
    ::LocalFree(denyAll);
    ASSERT_TRUE(denied);
    EXPECT_FALSE(ClaimResidency(deniedName.c_str()).resident);

    // A name some other kind of object holds does not keep the list unlocked.
    const std::wstring squattedName = name + L".squatted";
    vaultmere::UniqueHandle squatter(::CreateEventW(nullptr, TRUE, FALSE, squattedName.c_str()));
    ASSERT_TRUE(squatter);
    EXPECT_TRUE(ClaimResidency(squattedName.c_str()).resident);
}

TEST_F(StartupTest, NothingStoredStillGivesAResidentCopy) {
    HANDLE resident = Start();
    ASSERT_TRUE(WaitUntil([] { return ResidentWindow() != nullptr; }, 10000));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(resident, 200));
}

}  // namespace
