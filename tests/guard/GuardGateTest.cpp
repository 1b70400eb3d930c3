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
#include "guard/GuardCore.h"
#include "guard/GuardItemGate.h"
#include "guard/VolumeNotices.h"
#include "locker/FileLocker.h"
#include "tests/support/TestSupport.h"

using namespace vaultmere;
using namespace testing_support;

namespace {

class MemoryStore : public GuardStore {
public:
    std::vector<std::wstring> ReadItems() override { return items; }
    long SaveItems(const std::vector<std::wstring>& saved) override {
        items = saved;
        return 0;
    }
    std::wstring ReadPassword() override { return std::wstring(); }
    long SavePassword(const std::wstring&) override { return 0; }
    std::vector<std::wstring> items;
};

// Sets a folder's DACL from SDDL, as an administrator would; the one it had
// comes back at the end.
class FolderDacl {
public:
    FolderDacl(const std::wstring& folder, const wchar_t* sddl) : folder_(folder) {
        ::GetNamedSecurityInfoW(folder_.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &before_,
                                nullptr, beforeDescriptor_.Put());
        applied_ = Apply(sddl, PROTECTED_DACL_SECURITY_INFORMATION);
    }
    ~FolderDacl() {
        if (before_) {
            ::SetNamedSecurityInfoW(&folder_[0], SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    before_, nullptr);
        }
    }
    FolderDacl(const FolderDacl&) = delete;
    FolderDacl& operator=(const FolderDacl&) = delete;
    bool Applied() const { return applied_; }

private:
    bool Apply(const wchar_t* sddl, SECURITY_INFORMATION protection) {
        UniqueLocalMemory descriptor;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.Put(),
                                                                      nullptr) &&
               ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) &&
               ::SetNamedSecurityInfoW(&folder_[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection, nullptr,
                                       nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }

    std::wstring folder_;
    UniqueLocalMemory beforeDescriptor_;
    PACL before_ = nullptr;
    bool applied_ = false;
};

// Everyone may do anything but list the folder.
constexpr wchar_t kListingDenied[] = L"D:P(D;;0x1;;;WD)(A;;FA;;;WD)";

std::optional<GuardMessage> Ask(GuardPipeClient& client, GuardMessageKind kind, const std::wstring& text = L"") {
    Bytes answer;
    if (client.Transact(EncodeGuardMessage(GuardMessage::Request(kind, text)), answer, 5000) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return DecodeGuardMessage(answer.data(), answer.size());
}

UniqueHandle ProcessIdentificationToken() {
    UniqueHandle process;
    UniqueHandle token;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, process.Put())) {
        ::DuplicateToken(process.Get(), SecurityIdentification, token.Put());
    }
    return token;
}

}  // namespace

TEST(GuardGate, AFolderTheAskingUserMayNotListIsRefusedThroughThePipeAndNothingOfItIsLocked) {
    TempFolder open(L"gate-open");
    TempFolder denied(L"gate-denied");
    ASSERT_TRUE(WriteTextFile(open / L"a.txt", "a"));
    ASSERT_TRUE(WriteTextFile(denied / L"b.txt", "b"));
    FolderDacl deny(denied.Path(), kListingDenied);
    ASSERT_TRUE(deny.Applied());

    FileLocker locker;
    MemoryStore store;
    const std::wstring pipe = L"\\\\.\\pipe\\VaultmereGateTest-" + std::to_wstring(::GetCurrentProcessId());
    std::unique_ptr<GuardPipeServer> server;
    std::mutex lock;
    std::vector<bool> tokenSeen;
    GuardItemGate gate([&](ConnectionId connection) {
        const HANDLE token = server->ClientToken(connection);
        tokenSeen.push_back(token != nullptr);
        return token;
    });
    GuardCore core(locker, store, gate);
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
    callbacks.disconnected = [&](ConnectionId connection) {
        std::lock_guard<std::mutex> hold(lock);
        core.Disconnect(connection);
    };
    server = std::make_unique<GuardPipeServer>(pipe, callbacks);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server->Start());

    GuardPipeClient client;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), client.Connect(pipe, ::GetCurrentProcessId(), 5000));
    ASSERT_EQ(std::optional<GuardMessage>(GuardMessage::Done()), Ask(client, GuardMessageKind::Authenticate));

    const auto refused = Ask(client, GuardMessageKind::LockFolder, denied.Path() + L"\\*.*");
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(GuardMessage::Refusal(GuardRefusal::ItemRefused,
                                    L"You may not open this folder, so it cannot be locked for you."),
              *refused);
    const auto missing = Ask(client, GuardMessageKind::LockFolder, open.Path() + L"\\gone\\*.*");
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(L"This folder cannot be found, so it cannot be locked.", missing->text);
    EXPECT_EQ(std::optional<GuardMessage>(GuardMessage::Done(true)),
              Ask(client, GuardMessageKind::LockFolder, open.Path() + L"\\*.*"));
    EXPECT_EQ(std::vector<bool>(3, true), tokenSeen);
    EXPECT_EQ(std::vector<std::wstring>{open.Path() + L"\\*.*"}, store.items);

    ASSERT_TRUE(Settle(locker));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFromOutside(open / L"a.txt"));
    EXPECT_EQ(0u, OpenFromOutside(denied / L"b.txt"));
    client.Close();
    server->Stop();
}

TEST(GuardGate, TheCheckFollowsTheFolderSecurityAndRefusesWithoutAToken) {
    TempFolder folder(L"gate-check");
    const UniqueHandle token = ProcessIdentificationToken();
    ASSERT_TRUE(token);
    EXPECT_EQ(FolderAccess::Granted, MayListFolder(token.Get(), folder.Path()));
    EXPECT_EQ(FolderAccess::Missing, MayListFolder(token.Get(), folder / L"gone"));
    EXPECT_EQ(FolderAccess::Unknown, MayListFolder(nullptr, folder.Path()));
    {
        FolderDacl deny(folder.Path(), kListingDenied);
        ASSERT_TRUE(deny.Applied());
        EXPECT_EQ(FolderAccess::Denied, MayListFolder(token.Get(), folder.Path()));
    }
    EXPECT_EQ(FolderAccess::Granted, MayListFolder(token.Get(), folder.Path()));

    // Refused whatever the folder's security says, before it is read.
    GuardItemGate gate([&token](ConnectionId) { return token.Get(); });
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetWindowsDirectoryW(windows, MAX_PATH));
    EXPECT_EQ(L"Cannot lock this critical folder!", gate.RefusalFor(1, std::wstring(windows) + L"\\*.*"));
    EXPECT_EQ(L"This item cannot be locked.", gate.RefusalFor(1, L"relative\\*.*"));
    EXPECT_FALSE(gate.RefusalFor(1, L"\\\\server\\share\\*.*").empty());
    EXPECT_EQ(L"", gate.RefusalFor(1, folder.Path() + L"\\*.*"));
    GuardItemGate noToken([](ConnectionId) -> HANDLE { return nullptr; });
    EXPECT_EQ(L"Whether you may open this folder cannot be checked, so it cannot be locked for you.",
              noToken.RefusalFor(1, folder.Path() + L"\\*.*"));
}

TEST(VolumeNotices, EachLocalVolumeOfTheLockedFoldersIsRegisteredOnceAndOnlyItsOwnNoticesCount) {
    TempFolder first(L"volume-a");
    TempFolder second(L"volume-b");
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    VolumeNotices notices(window, DEVICE_NOTIFY_WINDOW_HANDLE);
    notices.Watch({first.Path(), second.Path(), L"\\\\server\\share\\data", L"", second / L"gone"});
    wchar_t root[MAX_PATH] = {};
    ASSERT_TRUE(::GetVolumePathNameW(first.Path().c_str(), root, MAX_PATH));
    EXPECT_EQ(std::vector<std::wstring>{root}, notices.Roots());
    notices.Watch({first.Path()});
    EXPECT_EQ(1u, notices.Roots().size());
    EXPECT_EQ(std::vector<std::wstring>{first.Path() + L"\\*.*"},
              ItemsOnVolume({first.Path() + L"\\*.*", L"\\\\server\\share\\*.*"}, notices.Roots()[0], notices.Roots()));

    // Notices it did not register for change nothing.
    EXPECT_EQ(VolumeNotices::Notice::Kind::None, notices.Take(DBT_DEVICEQUERYREMOVE, nullptr).kind);
    DEV_BROADCAST_HANDLE other{};
    other.dbch_size = sizeof other;
    other.dbch_devicetype = DBT_DEVTYP_HANDLE;
    other.dbch_hdevnotify = reinterpret_cast<HDEVNOTIFY>(&other);
    EXPECT_EQ(VolumeNotices::Notice::Kind::None, notices.Take(DBT_DEVICEQUERYREMOVE, &other).kind);
    EXPECT_EQ(1u, notices.Roots().size());
    DEV_BROADCAST_DEVICEINTERFACE_W arrival{};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    EXPECT_EQ(VolumeNotices::Notice::Kind::Arrived, notices.Take(DBT_DEVICEARRIVAL, &arrival).kind);
    EXPECT_EQ(VolumeNotices::Notice::Kind::None, notices.Take(DBT_DEVICEREMOVECOMPLETE, &arrival).kind);
    notices.Clear();
    EXPECT_TRUE(notices.Roots().empty());
    ::DestroyWindow(window);
}
