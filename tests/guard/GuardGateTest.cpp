// The guard's own check of a folder a window asks to lock, through the real
// pipe: the asking client's token against the folder's security.
#include <aclapi.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "channel/GuardPipe.h"
#include "guard/CheckedAnswer.h"
#include "guard/GuardItemGate.h"
#include "guard/ListKeeper.h"
#include "guard/VolumeNotices.h"
#include "locker/FileLocker.h"
#include "locker/LockRule.h"
#include "tests/support/QuickPasswordHash.h"
#include "tests/support/TestSupport.h"

using namespace vaultmere;
using namespace testing_support;

namespace {

class MemoryStore : public ListStore {
public:
    long ReadItems(std::vector<std::wstring>& read) override {
        read = items;
        return 0;
    }
    long SaveItems(const std::vector<std::wstring>& saved) override {
        items = saved;
        return 0;
    }
    long ReadPassword(std::wstring& read) override {
        read.clear();
        return 0;
    }
    long SavePassword(const std::wstring&) override { return 0; }
    std::vector<std::wstring> items;
};

// Sets a folder's DACL as an administrator would.
bool SetFolderDacl(const std::wstring& folder, const wchar_t* sddl) {
    UniqueLocalMemory descriptor;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    std::wstring path = folder;
    return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.Put(), nullptr) &&
           ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) &&
           ::SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   dacl, nullptr) == ERROR_SUCCESS;
}

std::optional<GuardMessage> Ask(GuardPipeClient& client, GuardMessageKind kind, const std::wstring& text = L"") {
    Bytes answer;
    if (client.Transact(EncodeGuardMessage(GuardMessage::Request(kind, text)), answer, 5000) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return DecodeGuardMessage(answer.data(), answer.size());
}

}  // namespace

TEST(GuardGate, AFolderTheAskingUserMayNotListIsRefusedThroughThePipeAndNothingOfItIsLocked) {
    TempFolder open(L"gate-open");
    TempFolder denied(L"gate-denied");
    ASSERT_TRUE(WriteTextFile(open / L"a.txt", "a"));
    ASSERT_TRUE(WriteTextFile(denied / L"b.txt", "b"));
    // Everyone may do anything there but list it.
    ASSERT_TRUE(SetFolderDacl(denied.Path(), L"D:P(D;;0x1;;;WD)(A;OICI;FA;;;WD)"));

    FileLocker locker;
    MemoryStore store;
    const std::wstring pipe = L"\\\\.\\pipe\\VaultmereGateTest-" + std::to_wstring(::GetCurrentProcessId());
    std::unique_ptr<GuardPipeServer> server;
    std::mutex lock;
    int tokens = 0;
    // A folder with its subfolders may hold 5 files and folders here.
    GuardItemGate gate(
        [&](ConnectionId connection) {
            const HANDLE token = server->ClientToken(connection);
            tokens += token != nullptr;
            return token;
        },
        5);
    QuickPasswordHash hash;
    ListKeeper core(locker, store, gate, hash);
    GuardPipeServer::Callbacks callbacks;
    callbacks.connected = [&](ConnectionId connection, const std::wstring&) {
        std::lock_guard<std::mutex> hold(lock);
        core.Connect(connection);
    };
    callbacks.answer = [&](ConnectionId connection, const Bytes& message) {
        const auto request = DecodeGuardMessage(message.data(), message.size());
        std::lock_guard<std::mutex> hold(lock);
        return request ? EncodeGuardMessage(core.Handle(connection, *request)) : Bytes();
    };
    server = std::make_unique<GuardPipeServer>(pipe, callbacks);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server->Start());

    GuardPipeClient client;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), client.Connect(pipe, ::GetCurrentProcessId(), 5000));
    ASSERT_EQ(std::optional<GuardMessage>(GuardMessage::Done()), Ask(client, GuardMessageKind::Authenticate));
    EXPECT_EQ(std::optional<GuardMessage>(
                  GuardMessage::Refusal(GuardRefusal::ItemRefused,
                                        L"You may not open this folder, so it cannot be locked for you.")),
              Ask(client, GuardMessageKind::LockFolder, denied.Path() + L"\\*.*"));
    // Nor may a folder whose files the user may not all read be locked.
    ASSERT_TRUE(SetFolderDacl(open / L"a.txt", L"D:P(D;;0x1;;;WD)(A;;FA;;;WD)"));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Refusal(
                  GuardRefusal::ItemRefused,
                  L"You may not read every file in this folder, so it cannot be locked for you.")),
              Ask(client, GuardMessageKind::LockFolder, open.Path() + L"\\*.*"));
    ASSERT_TRUE(SetFolderDacl(open / L"a.txt", L"D:P(A;;FA;;;WD)"));
    const auto missing = Ask(client, GuardMessageKind::LockFolder, open.Path() + L"\\gone\\*.*");
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(L"This folder cannot be found, so it cannot be locked.", missing->text);
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::LockFolder, open.Path() + L"\\*.*"));
    EXPECT_EQ(4, tokens);
    EXPECT_EQ(std::vector<std::wstring>{open.Path() + L"\\*.*"}, store.items);
    // Nor a folder that holds the program, by any case of its name.
    TempFolder copy(L"gate-copy");
    ASSERT_TRUE(WriteTextFile(copy / L"BrwAddon.EXE", "MZ"));
    EXPECT_EQ(std::optional<GuardMessage>(
                  GuardMessage::Refusal(GuardRefusal::ItemRefused, L"Cannot lock this critical folder!")),
              Ask(client, GuardMessageKind::LockFolder, copy.Path() + L"\\*.txt"));

    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(open / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(denied / L"b.txt"));

    // With its subfolders: every folder of it must be one the user may list,
    // and it must hold no more than the limit.
    const std::wstring tree = TreeItem(open.Path());
    ASSERT_TRUE(MakeFolder(open / L"inner"));
    ASSERT_TRUE(WriteTextFile(open / L"inner\\x.txt", "x"));
    ASSERT_TRUE(MakeFolder(open / L"inner\\closed"));
    ASSERT_TRUE(SetFolderDacl(open / L"inner\\closed", L"D:P(D;;0x1;;;WD)(A;OICI;FA;;;WD)"));
    EXPECT_EQ(
        std::optional<GuardMessage>(GuardMessage::Refusal(
            GuardRefusal::ItemRefused,
            L"You may not open every folder in this folder, so it cannot be locked with its subfolders for you.")),
        Ask(client, GuardMessageKind::LockFolder, tree));
    ASSERT_TRUE(SetFolderDacl(open / L"inner\\closed", L"D:P(A;OICI;FA;;;WD)"));
    ASSERT_TRUE(MakeFolder(open / L"inner\\closed\\more"));
    ASSERT_TRUE(WriteTextFile(open / L"inner\\closed\\more\\y.txt", "y"));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Refusal(GuardRefusal::ItemRefused, TreeTooLargeText(5))),
              Ask(client, GuardMessageKind::LockFolder, tree));
    EXPECT_EQ(1u, store.items.size());
    EXPECT_EQ(0u, OpenFromOutside(open / L"inner\\x.txt"));
    ASSERT_TRUE(::DeleteFileW((open / L"inner\\closed\\more\\y.txt").c_str()));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)), Ask(client, GuardMessageKind::LockFolder, tree));
    EXPECT_EQ((std::vector<std::wstring>{open.Path() + L"\\*.*", tree}), store.items);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(open / L"inner\\x.txt"));
    EXPECT_FALSE(::MoveFileW((open / L"inner\\closed\\more").c_str(), (open / L"moved").c_str()));

    // Unlocked, its folder replaced by a link to System32, relocked: nothing of System32 is locked.
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
    TempFolder around(L"gate-swap");
    const std::wstring swap = around / L"swap";
    ASSERT_TRUE(MakeFolder(swap));
    ASSERT_TRUE(WriteTextFile(swap + L"\\s.txt", "s"));
    const std::wstring swapped = swap + L"\\*.*";
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::LockFolder, swapped));
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::UnlockItem, swapped));
    ASSERT_TRUE(WaitUntil([&] {
        DeleteTree(swap);
        return ::GetFileAttributesW(swap.c_str()) == INVALID_FILE_ATTRIBUTES;
    }));
    ASSERT_TRUE(MakeLink(swap, system));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::RelockItem, swapped));
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ItemStatus::Refusal::SystemFolder, locker.StatusOf({swapped})[0].refusal);
    EXPECT_EQ(0u, OpenFromOutside(std::wstring(system) + L"\\kernel32.dll"));
    // Nor, pointed at a folder the rule allows, anything of that folder:
    // asked anew, the gate names the link.
    TempFolder elsewhere(L"gate-elsewhere");
    ASSERT_TRUE(WriteTextFile(elsewhere / L"e.txt", "e"));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::UnlockItem, swapped));
    ASSERT_TRUE(RemoveLink(swap) && MakeLink(swap, elsewhere.Path()));
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::RelockItem, swapped));
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(ItemStatus::Refusal::Redirected, locker.StatusOf({swapped})[0].refusal);
    EXPECT_EQ(0u, OpenFromOutside(elsewhere / L"e.txt"));
    const auto linked = Ask(client, GuardMessageKind::LockFolder, TreeItem(swap));
    ASSERT_TRUE(linked.has_value());
    EXPECT_NE(std::wstring::npos, linked->text.find(L"reached through a link"));
    EXPECT_TRUE(RemoveLink(swap));
    client.Close();
    server->Stop();

    // No token, no lock; and whoever asks, a system folder is refused before its security is read.
    GuardItemGate noToken([](ConnectionId) -> HANDLE { return nullptr; }, kWineLockedFiles);
    EXPECT_EQ(L"Whether you may open this folder cannot be checked, so it cannot be locked for you.",
              noToken.RefusalFor(1, open.Path() + L"\\*.*"));
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetWindowsDirectoryW(windows, MAX_PATH));
    EXPECT_EQ(L"Cannot lock this critical folder!", noToken.RefusalFor(1, std::wstring(windows) + L"\\*.*"));
    // Nor may a tree hold it.
    EXPECT_EQ(L"Cannot lock this critical folder!", noToken.RefusalFor(1, TreeItem(std::wstring(windows, 3))));
    // However it is written: here by a short name.
    TempFolder outer(L"A folder with a long name");
    ASSERT_TRUE(MakeFolder(outer / L"inner"));
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetShortPathNameW(outer.Path().c_str(), shortName, MAX_PATH));
    ASSERT_NE(outer.Path(), shortName);
    EXPECT_FALSE(LockRule({outer / L"inner"}).AllowsFolder(shortName, true));
    EXPECT_FALSE(LockRule({outer.Path()}).AllowsFolder(shortName, false));
    EXPECT_TRUE(LockRule({outer / L"inner"}).AllowsFolder(shortName, false));
    EXPECT_TRUE(SetFolderDacl(denied.Path(), L"D:P(A;OICI;FA;;;WD)"));
}

// A gate whose every check waits until the test lets it go, and says when one began.
class HeldGate final : public ItemGate {
public:
    std::wstring RefusalFor(ConnectionId, const std::wstring&) override {
        ::SetEvent(began.Get());
        ::WaitForSingleObject(release.Get(), 10000);
        return std::wstring();
    }
    UniqueHandle began{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

TEST(GuardGate, ACheckRunsOnAWorkerWhileOthersAreAnsweredAndAWindowThatGivesUpOnItKeepsItsUnlocks) {
    TempFolder kept(L"gate-kept");
    TempFolder slow(L"gate-slow");
    ASSERT_TRUE(WriteTextFile(kept / L"k.txt", "k"));
    ASSERT_TRUE(WriteTextFile(slow / L"s.txt", "s"));
    const std::wstring keptItem = kept.Path() + L"\\*.*";
    const std::wstring slowItem = slow.Path() + L"\\*.*";
    FileLocker locker;
    MemoryStore store;
    store.items = {keptItem};
    HeldGate gate;
    QuickPasswordHash hash;
    ListKeeper keeper(locker, store, gate, hash);
    keeper.LockStoredItems();
    std::mutex lock;
    GuardPipeServer::Callbacks callbacks;
    callbacks.connected = [&](ConnectionId connection, const std::wstring&) {
        std::lock_guard<std::mutex> hold(lock);
        keeper.Connect(connection);
    };
    callbacks.answer = [&](ConnectionId connection, const Bytes& message) {
        const auto request = DecodeGuardMessage(message.data(), message.size());
        if (!request) return PipeAnswer();
        return AnswerCheckingOffLoop(keeper, lock, connection, *request, [](const KeeperReply& reply) {
            return PipeAnswer(EncodeGuardMessage(reply.message));
        });
    };
    callbacks.disconnected = [&](ConnectionId connection) {
        std::lock_guard<std::mutex> hold(lock);
        keeper.Disconnect(connection);
    };
    const std::wstring pipe = L"\\\\.\\pipe\\VaultmereHeldGateTest-" + std::to_wstring(::GetCurrentProcessId());
    GuardPipeServer server(pipe, callbacks);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server.Start());
    GuardPipeClient window;
    GuardPipeClient other;
    for (GuardPipeClient* client : {&window, &other}) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), client->Connect(pipe, ::GetCurrentProcessId(), 5000));
        ASSERT_EQ(std::optional<GuardMessage>(GuardMessage::Done()), Ask(*client, GuardMessageKind::Authenticate));
    }
    ASSERT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(window, GuardMessageKind::UnlockItem, keptItem));

    // The window gives up on a Lock Folder whose check takes long, and keeps its connection.
    Bytes answer;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT),
              window.Transact(EncodeGuardMessage(GuardMessage::Request(GuardMessageKind::LockFolder, slowItem)), answer,
                              200));
    EXPECT_TRUE(window.IsConnected());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(gate.began.Get(), 5000));
    const auto meanwhile = Ask(other, GuardMessageKind::ReadLists);
    ASSERT_TRUE(meanwhile.has_value()) << "another connection waited for the check";
    EXPECT_EQ(std::vector<std::wstring>{keptItem}, TextsOf(meanwhile->unlocked));

    // Its late answer is dropped, the folder locked all the same, and what it unlocked stays unlocked.
    ::SetEvent(gate.release.Get());
    const auto after = Ask(window, GuardMessageKind::ReadLists);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(GuardMessageKind::Lists, after->kind);
    EXPECT_EQ(std::vector<std::wstring>{keptItem}, TextsOf(after->unlocked));
    EXPECT_EQ((std::vector<std::wstring>{keptItem, slowItem}), store.items);
    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(0u, OpenFromOutside(kept / L"k.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(slow / L"s.txt"));
    server.Stop();
}

TEST(VolumeNotices, EachLocalVolumeOfTheLockedFoldersIsRegisteredOnceAndOnlyItsOwnNoticesCount) {
    TempFolder folder(L"volume");
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    VolumeNotices notices(window, DEVICE_NOTIFY_WINDOW_HANDLE);
    notices.Watch({folder.Path(), L"\\\\server\\share\\data", L"", folder / L"gone", folder.Path()});
    wchar_t root[MAX_PATH] = {};
    ASSERT_TRUE(::GetVolumePathNameW(folder.Path().c_str(), root, MAX_PATH));
    EXPECT_EQ(std::vector<std::wstring>{root}, notices.Roots());

    // Notices of what it did not register for change nothing.
    DEV_BROADCAST_HANDLE other{};
    other.dbch_size = sizeof other;
    other.dbch_devicetype = DBT_DEVTYP_HANDLE;
    other.dbch_hdevnotify = reinterpret_cast<HDEVNOTIFY>(&other);
    EXPECT_EQ(VolumeNotices::Notice::Kind::None, notices.Take(DBT_DEVICEQUERYREMOVE, &other).kind);
    EXPECT_EQ(VolumeNotices::Notice::Kind::None, notices.Take(DBT_DEVICEQUERYREMOVE, nullptr).kind);
    DEV_BROADCAST_DEVICEINTERFACE_W arrival{};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    EXPECT_EQ(VolumeNotices::Notice::Kind::Arrived, notices.Take(DBT_DEVICEARRIVAL, &arrival).kind);
    EXPECT_EQ(1u, notices.Roots().size());
    notices.Clear();
    EXPECT_TRUE(notices.Roots().empty());
    ::DestroyWindow(window);
}
