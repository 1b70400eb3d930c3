// The program as the guard's window: the guard registered as a service
// holds the stored folder, and a copy of the program shows and changes its
// list through the pipe. With VAULTMERE_INSTALLED_FOLDER set (the setup's
// round trip), the guard and the program that setup installed there.
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <memory>
#include <thread>

#include "app/GuardConnection.h"
#include "common/TextCase.h"
#include "forms/add/AddWindow.h"
#include "forms/add/FolderLockWindow.h"
#include "locker/ItemPath.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/ServiceState.h"

using namespace testing_support;

namespace {

// Connections to the guard's pipe that send nothing, each made again as soon
// as the guard closes it, from a thread of the test's own process.
class SilentFlood {
public:
    SilentFlood()
        : thread_([this] {
              std::vector<vaultmere::UniqueHandle> held(60);
              while (running_) {
                  for (vaultmere::UniqueHandle& pipe : held) {
                      if (pipe && ::PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, nullptr, nullptr)) continue;
                      pipe.Reset(::CreateFileW(vaultmere::GuardPipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
                  }
                  ::Sleep(20);
              }
          }) {}
    ~SilentFlood() {
        running_ = false;
        thread_.join();
    }
    SilentFlood(const SilentFlood&) = delete;
    SilentFlood& operator=(const SilentFlood&) = delete;

private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};

class GuardWindowsTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        // The same folder stored again in other case: one item, held once.
        std::wstring again = folder.Path() + L"\\*.*";
        ::CharUpperBuffW(&again[0], static_cast<DWORD>(again.size()));
        ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, L"File1",
                                               Registry::RegistryValue::FromText(again)));
        manager_.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_);
        wchar_t installed[MAX_PATH] = {};
        if (::GetEnvironmentVariableW(L"VAULTMERE_INSTALLED_FOLDER", installed, MAX_PATH) > 0) {
            // The installed guard reads the list written above when it starts again.
            installed_ = true;
            programFolder = installed;
            service_.Reset(::OpenServiceW(manager_.Get(), vaultmere::kGuardServiceName, SERVICE_ALL_ACCESS));
            ASSERT_TRUE(service_) << ::GetLastError();
            if (vaultmere::RunningServiceProcessId(vaultmere::kGuardServiceName) != 0) StopGuard();
            return;
        }
        RemoveService();
        const std::wstring binary = L"\"" + BinaryFolder() + L"\\VaultmereGuard.exe\"";
        service_.Reset(::CreateServiceW(manager_.Get(), vaultmere::kGuardServiceName, L"Vaultmere Guard",
                                        SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                        SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr,
                                        nullptr));
        ASSERT_TRUE(service_) << ::GetLastError();
    }
    void TearDown() override {
        EndStrayCopies();
        if (!installed_) RemoveService();
        ProgramTest::TearDown();
    }
    void RemoveService() {
        vaultmere::UniqueServiceHandle service(
            ::OpenServiceW(manager_.Get(), vaultmere::kGuardServiceName, SERVICE_ALL_ACCESS));
        service_.Reset();
        if (!service) return;
        SERVICE_STATUS status{};
        ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
        WaitUntil([] { return testing_support::ServiceStopped(vaultmere::kGuardServiceName); }, 10000);
        ::DeleteService(service.Get());
    }
    void StartGuard() {
        ASSERT_TRUE(::StartServiceW(service_.Get(), 0, nullptr)) << ::GetLastError();
        ASSERT_TRUE(
            WaitUntil([] { return vaultmere::RunningServiceProcessId(vaultmere::kGuardServiceName) != 0; }, 10000));
    }
    void StopGuard() {
        SERVICE_STATUS status{};
        ASSERT_TRUE(::ControlService(service_.Get(), SERVICE_CONTROL_STOP, &status));
        ASSERT_TRUE(WaitUntil([] { return testing_support::ServiceStopped(vaultmere::kGuardServiceName); }, 10000));
    }
    bool Locked() const { return OpenFromOutside(folder / L"doc.txt") == ERROR_SHARING_VIOLATION; }
    bool Free() const { return OpenFromOutside(folder / L"doc.txt") == ERROR_SUCCESS; }
    static HWND Link(int id) { return ::GetDlgItem(::GetDlgItem(Configuration(), ConfigWindow::IDC_LIST_PANEL), id); }
    static HWND UnlockedList() { return Link(ConfigWindow::IDC_UNLOCKED_LIST); }
    static std::wstring Notice() { return WindowText(::GetDlgItem(Resident(), ResidentWindow::IDC_NOTICE_LABEL)); }
    // Under Wine a synthesized click now and then goes astray while the
    // other process is busy: clicked again until the entry is selected.
    static void Select(HWND list, int index = 0) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            ClickListItem(list, index);
            if (WaitUntil([&] { return ::SendMessageW(list, LB_GETCURSEL, 0, 0) == index; }, 1000)) return;
        }
        ADD_FAILURE() << "the entry could not be selected";
    }
    // Enters a password and clicks Continue until the prompt took it: the
    // check is running or already answered.
    void Continue(const std::wstring& password) {
        HWND button = ::GetDlgItem(Resident(), ResidentWindow::IDC_CONTINUE_BUTTON);
        for (int attempt = 0; attempt < 3; ++attempt) {
            EnterPassword(password);
            if (WaitUntil([&] { return !::IsWindowEnabled(button) || WindowText(PromptField()).empty(); }, 1000))
                return;
        }
        ADD_FAILURE() << "Continue was not taken";
    }
    void OpenConfiguration() {
        RequestPrompt();
        EnterPassword(L"secret");
        ASSERT_TRUE(WaitUntil([] { return Configuration() && ::IsWindowVisible(Configuration()); }, 10000)) << Notice();
    }

    vaultmere::UniqueServiceHandle manager_;
    vaultmere::UniqueServiceHandle service_;
    bool installed_ = false;
    // Let go of once the guard is gone.
    TempFolder tree{L"guard-tree"};
};

TEST_F(GuardWindowsTest, TheGuardHoldsTheListAndAWindowChangesItUntilItsCopyEnds) {
    StartGuard();
    ASSERT_TRUE(WaitUntil([&] { return Locked(); }, 5000)) << "the guard does not hold the stored folder";
    SERVICE_STATUS running{};
    ASSERT_TRUE(::QueryServiceStatus(service_.Get(), &running));
    EXPECT_NE(0u, running.dwControlsAccepted & SERVICE_ACCEPT_SESSIONCHANGE);

    // A client of its own that skips the password is refused everything but
    // reading the lists, which an elevated administrator, as every process
    // is under Wine, may do without it.
    {
        using vaultmere::GuardMessageKind;
        vaultmere::GuardConnection raw;
        for (GuardMessageKind kind :
             {GuardMessageKind::UnlockItem, GuardMessageKind::UnlockForSession, GuardMessageKind::RemoveItem,
              GuardMessageKind::LockFolder, GuardMessageKind::SetPassword}) {
            const auto answer = raw.Exchange(vaultmere::GuardMessage::Request(kind, folder.Path() + L"\\*.*"));
            ASSERT_TRUE(answer.has_value()) << raw.Problem();
            EXPECT_EQ(GuardMessageKind::Refused, answer->kind);
            EXPECT_EQ(static_cast<std::uint32_t>(vaultmere::GuardRefusal::NotAuthenticated), answer->code);
        }
        EXPECT_TRUE(Locked());
        EXPECT_TRUE(VerifiesPassword(Registry::GetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                                                Registry::kPasswordValueName)
                                         .ToText(),
                                     L"secret"));
    }
    // The live pipe carries the guard's descriptor.
    {
        vaultmere::UniqueHandle pipe(
            ::CreateFileW(vaultmere::GuardPipeName().c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(pipe) << ::GetLastError();
        vaultmere::UniqueLocalMemory descriptor;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  ::GetSecurityInfo(pipe.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                    nullptr, descriptor.Put()));
        vaultmere::UniqueLocalMemory text;
        ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1,
                                                                           DACL_SECURITY_INFORMATION,
                                                                           reinterpret_cast<LPWSTR*>(text.Put()),
                                                                           nullptr));
        EXPECT_EQ(vaultmere::LowerCase(vaultmere::kGuardPipeSecurity),
                  vaultmere::LowerCase(static_cast<const wchar_t*>(text.Get())));
    }

    // The copy locks nothing itself: its password and list are the guard's.
    ASSERT_TRUE(MakeFolder(tree / L"sub"));
    ASSERT_TRUE(WriteTextFile(tree / L"sub\\deep.txt", "d"));
    const auto treeLocked = [&] { return OpenFromOutside(tree / L"sub\\deep.txt") == ERROR_SHARING_VIOLATION; };
    // Meanwhile another program opens the guard's pipe again and again and
    // sends nothing: it keeps the copy from neither its resident window nor
    // the guard.
    auto flood = std::make_unique<SilentFlood>();
    HANDLE resident = Start(tree.Path());
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    // After two wrong passwords the guard holds the next answer back two
    // seconds: meanwhile the prompt answers, says why it waits and takes no
    // other password.
    RequestPrompt();
    HWND continueButton = ::GetDlgItem(Resident(), ResidentWindow::IDC_CONTINUE_BUTTON);
    for (int wrong = 0; wrong < 2; ++wrong) {
        Continue(L"wrong");
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(continueButton) != FALSE; }, 5000));
    }
    Continue(L"secret");
    EXPECT_FALSE(::IsWindowEnabled(continueButton));
    EXPECT_FALSE(::IsWindowEnabled(PromptField()));
    EXPECT_EQ(L"Checking the password...", Notice());
    DWORD_PTR ignored = 0;
    EXPECT_NE(0, ::SendMessageTimeoutW(Resident(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored))
        << "the prompt stopped answering while the guard held its answer back";
    ASSERT_TRUE(WaitUntil([] { return Configuration() && ::IsWindowVisible(Configuration()); }, 10000)) << Notice();
    flood.reset();
    const std::wstring item = folder.Path() + L"\\*.*";
    ASSERT_TRUE(WaitUntil([] { return ListEntries(LockedList(Configuration())).size() == 1; }, 5000));
    EXPECT_EQ(item, ListEntries(LockedList(Configuration()))[0]);

    // A folder with its subfolders, added in the window, is checked and
    // locked by the guard.
    HWND add = ClickToOpen(FindDescendant(Configuration(), ConfigWindow::IDC_ADD_BUTTON), L"Add Files and Folders");
    ASSERT_NE(nullptr, add);
    ::SendMessageW(WaitForControl(add, vaultmere::AddWindow::IDC_SUBFOLDERS_CHECK), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(ClickUntil(WaitForControl(add, vaultmere::AddWindow::IDC_LOCK_FOLDER_BUTTON), treeLocked))
        << "the guard did not lock the folder with its subfolders";
    const std::wstring treeItem = vaultmere::LowerCase(vaultmere::TreeItem(tree.Path()));
    EXPECT_TRUE(WaitUntil([&] { return ListEntries(LockedList(Configuration())).size() == 2; }, 5000));
    EXPECT_EQ((std::vector<std::wstring>{item, treeItem}), ListEntries(LockedList(Configuration())));
    ::PostMessageW(add, WM_CLOSE, 0, 0);

    Select(LockedList(Configuration()));
    EXPECT_TRUE(ClickUntil(Link(ConfigWindow::IDC_UNLOCK_LINK), [&] { return Free(); }))
        << "Unlock Item left the guard's lock";
    ASSERT_TRUE(WaitUntil([] { return ListEntries(UnlockedList()).size() == 1; }, 5000));

    Select(UnlockedList());
    EXPECT_TRUE(ClickUntil(Link(ConfigWindow::IDC_RELOCK_LINK), [&] { return Locked(); }))
        << "Relock Item did not lock through the guard";

    // Close hides; the list was saved by the guard as it changed, so the
    // stored list is as it was.
    ASSERT_TRUE(ClickUntil(FindDescendant(Configuration(), ConfigWindow::IDC_CLOSE_BUTTON),
                           [] { return !::IsWindowVisible(Configuration()); }));
    EXPECT_EQ((std::vector<std::wstring>{item, treeItem}),
              Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));

    // An unlock lasts as long as the copy that made it. The relocked item
    // went to the end of the list.
    OpenConfiguration();
    Select(LockedList(Configuration()), 1);
    ASSERT_TRUE(ClickUntil(Link(ConfigWindow::IDC_UNLOCK_LINK), [&] { return Free(); }));
    // Wine never tells the guard of it; the window closes on the copy's notice.
    ::SendMessageW(Resident(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    EXPECT_FALSE(::IsWindowVisible(Configuration()));
    ::TerminateProcess(resident, 1);
    EXPECT_TRUE(WaitUntil([&] { return Locked(); }, 5000)) << "the unlock outlived the copy that made it";

    // A copy started while the guard runs keeps working across a restart of
    // the guard: it connects anew and gives the password again.
    Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    OpenConfiguration();
    StopGuard();
    EXPECT_TRUE(WaitUntil([&] { return Free(); }, 5000)) << "the stopped guard kept its locks";
    EXPECT_FALSE(treeLocked());
    StartGuard();
    ASSERT_TRUE(WaitUntil([&] { return Locked(); }, 5000));
    // The folder with its subfolders, from the stored list.
    EXPECT_TRUE(WaitUntil(treeLocked, 5000));
    ASSERT_TRUE(::WaitNamedPipeW(vaultmere::GuardPipeName().c_str(), 5000));
    // The restarted guard lists the items in their stored order again.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::vector<std::wstring> entries = ListEntries(LockedList(Configuration()));
            return !entries.empty() && entries.front() == item;
        },
        5000));
    Select(LockedList(Configuration()));
    EXPECT_TRUE(ClickUntil(Link(ConfigWindow::IDC_UNLOCK_LINK), [&] { return Free(); }))
        << "the window did not reach the restarted guard";

    // "Lock with Vaultmere" on a folder in Explorer: a copy started for the
    // folder asks for the password, the guard locks and stores the folder,
    // and the copy ends with its window.
    TempFolder verb{L"guard-verb"};
    ASSERT_TRUE(WriteTextFile(verb / L"x.txt", "x"));
    const auto verbLocked = [&] { return OpenFromOutside(verb / L"x.txt") == ERROR_SHARING_VIOLATION; };
    vaultmere::UniqueHandle locking = StartProcess(programFolder + L"\\brwaddon.exe",
                                                   L"--lock \"" + verb.Path() + L"\"");
    HWND window = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (window = ::FindWindowW(nullptr, vaultmere::kFolderLockTitle)) != nullptr; }, 10000));
    const auto press = [&](int id) { ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); };
    ::SendMessageW(WaitForControl(window, vaultmere::FolderLockWindow::IDC_PASSWORD_EDIT), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(L"SECRET"));
    press(vaultmere::FolderLockWindow::IDC_LOCK_BUTTON);
    EXPECT_TRUE(WaitUntil(verbLocked, 10000)) << "the folder verb locked nothing";
    EXPECT_EQ(vaultmere::LowerCase(verb.Path() + L"\\*.*"),
              Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath).back());
    press(vaultmere::FolderLockWindow::IDC_CANCEL_BUTTON);
    EXPECT_EQ(0u, WaitForExit(locking.Get(), 10000));
}

TEST_F(GuardWindowsTest, APipeUnderTheGuardsNameIsSentNothingAndKeepsNoFileFree) {
    // Instances of an impostor's pipe, each taking one connection attempt.
    std::vector<vaultmere::UniqueHandle> impostor;
    for (int i = 0; i < 40; ++i) {
        impostor.emplace_back(::CreateNamedPipeW(vaultmere::GuardPipeName().c_str(), PIPE_ACCESS_DUPLEX,
                                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT,
                                                 PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
        ASSERT_TRUE(impostor.back()) << ::GetLastError();
    }
    Start();
    ASSERT_TRUE(WaitUntil([] { return Resident() != nullptr; }, 10000));
    RequestPrompt();
    EXPECT_TRUE(WaitUntil([] { return Notice() == vaultmere::kGuardUnverified; }, 5000)) << Notice();
    // Answered once the field is emptied and the entry enabled again.
    Continue(L"secret");
    EXPECT_TRUE(WaitUntil(
        [] {
            return WindowText(PromptField()).empty() &&
                   ::IsWindowEnabled(::GetDlgItem(Resident(), ResidentWindow::IDC_CONTINUE_BUTTON));
        },
        10000))
        << "the password was never answered";
    EXPECT_EQ(vaultmere::kGuardUnverified, Notice());
    EXPECT_TRUE(Configuration() == nullptr || !::IsWindowVisible(Configuration()));
    EXPECT_TRUE(Free()) << "a copy locked for itself while the guard is installed";

    int connected = 0;
    for (const vaultmere::UniqueHandle& pipe : impostor) {
        if (!::ConnectNamedPipe(pipe.Get(), nullptr) && ::GetLastError() == ERROR_PIPE_LISTENING) continue;
        ++connected;
        char byte = 0;
        DWORD read = 0;
        EXPECT_FALSE(::ReadFile(pipe.Get(), &byte, 1, &read, nullptr) && read > 0) << "the impostor was sent data";
    }
    EXPECT_GT(connected, 0) << "the copy never tried the pipe";

    // The guard started now finds its pipe's name taken: it locks all the
    // same, and serves its pipe once the name is free again.
    ASSERT_TRUE(::StartServiceW(service_.Get(), 0, nullptr)) << ::GetLastError();
    EXPECT_TRUE(WaitUntil([&] { return Locked(); }, 10000)) << "nothing locked while the pipe's name was taken";
    impostor.clear();
    ASSERT_TRUE(WaitUntil([] { return ::WaitNamedPipeW(vaultmere::GuardPipeName().c_str(), 100) != FALSE; }, 5000))
        << "the guard did not take its pipe once the name was free";
    OpenConfiguration();
}

}  // namespace
