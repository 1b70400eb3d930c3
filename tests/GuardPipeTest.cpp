#include "channel/GuardPipe.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "common/TextCase.h"
#include "tests/support/TestSupport.h"

using namespace vaultmere;

namespace {

// A server that answers each well-formed request with Done carrying the
// request's size, a big ReadLists with a list of about 3 MB, and anything
// malformed with nothing (which closes the connection).
class GuardPipeTest : public ::testing::Test {
protected:
    GuardPipeTest()
        : name_(L"\\\\.\\pipe\\VaultmereGuardTest-" + std::to_wstring(::GetCurrentProcessId())),
          server_(name_, Callbacks()) {}
    // Stopped before the members its callbacks write to go.
    ~GuardPipeTest() override { server_.Stop(); }

    GuardPipeServer::Callbacks Callbacks() {
        GuardPipeServer::Callbacks callbacks;
        callbacks.connected = [this](ConnectionId id, const std::wstring& user) {
            std::lock_guard<std::mutex> hold(lock_);
            connected_.insert(id);
            user_ = user;
            tokenUser_ = UserOfToken(server_.ClientToken(id), tokenLevel_);
        };
        callbacks.answer = [this](ConnectionId id, const Bytes& message) {
            ++messages_;
            {
                // The tokens of the other connections, as far as the server still has them.
                std::lock_guard<std::mutex> hold(lock_);
                tokensHeld_.clear();
                for (ConnectionId other : connected_) {
                    if (other != id) tokensHeld_.push_back(server_.ClientToken(other) != nullptr);
                }
            }
            const auto request = DecodeGuardMessage(message.data(), message.size());
            if (!request) return PipeAnswer();
            if (request->kind == GuardMessageKind::ReadLists) return PipeAnswer(EncodeGuardMessage(BigLists()));
            // Worked out on a worker after 300 ms: where and when it ran.
            if (request->text == L"later") {
                return PipeAnswer::Later(300, [this, loop = ::GetCurrentThreadId(), asked = ::GetTickCount64()] {
                    workedOnLoop_ = ::GetCurrentThreadId() == loop;
                    workedAfterMs_ = ::GetTickCount64() - asked;
                    return PipeAnswer(EncodeGuardMessage(GuardMessage::Done()), 0, true);
                });
            }
            // Any password opens: what counts here is what the server admits.
            return PipeAnswer(EncodeGuardMessage(GuardMessage::Refusal(GuardRefusal::UnknownRequest, request->text)), 0,
                              request->kind == GuardMessageKind::Authenticate);
        };
        callbacks.disconnected = [this](ConnectionId id) {
            std::lock_guard<std::mutex> hold(lock_);
            disconnected_.insert(id);
        };
        return callbacks;
    }

    static GuardMessage BigLists() {
        GuardMessage lists;
        lists.kind = GuardMessageKind::Lists;
        lists.unlocked.assign(50, std::wstring(30000, L'\u00e9'));
        lists.unlockedRelockAt.assign(50, 0);
        return lists;
    }

    DWORD Connect(GuardPipeClient& client) { return client.Connect(name_, ::GetCurrentProcessId(), 5000); }

    // The SID of a token's user as text, and its impersonation level.
    static std::wstring UserOfToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL& level) {
        DWORD size = 0;
        unsigned char user[256] = {};
        LPWSTR text = nullptr;
        if (!token || !::GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &size) ||
            !::GetTokenInformation(token, TokenUser, user, sizeof user, &size) ||
            !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text)) {
            return L"";
        }
        std::wstring sid = text;
        ::LocalFree(text);
        return sid;
    }

    std::wstring name_;
    GuardPipeServer server_;
    std::mutex lock_;
    std::set<ConnectionId> connected_;
    std::set<ConnectionId> disconnected_;
    std::wstring user_;
    std::wstring tokenUser_;
    SECURITY_IMPERSONATION_LEVEL tokenLevel_ = SecurityAnonymous;
    std::vector<bool> tokensHeld_;
    std::atomic<int> messages_{0};
    std::atomic<bool> workedOnLoop_{true};
    std::atomic<ULONGLONG> workedAfterMs_{0};
};

std::optional<GuardMessage> Ask(GuardPipeClient& client, const GuardMessage& request) {
    Bytes answer;
    if (client.Transact(EncodeGuardMessage(request), answer, 5000) != ERROR_SUCCESS) return std::nullopt;
    return DecodeGuardMessage(answer.data(), answer.size());
}

}  // namespace

TEST_F(GuardPipeTest, WholeMessagesBothWaysAndAMalformedOneEndsOnlyItsConnection) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server_.Start());

    GuardPipeClient first;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Connect(first));
    const std::wstring longPath(kMaxGuardTextUnits, L'\u4e2d');
    const auto echoed = Ask(first, GuardMessage::Request(GuardMessageKind::LockFolder, longPath));
    ASSERT_TRUE(echoed.has_value());
    EXPECT_EQ(longPath, echoed->text);
    const auto lists = Ask(first, GuardMessage::Request(GuardMessageKind::ReadLists));
    ASSERT_TRUE(lists.has_value());
    EXPECT_EQ(BigLists(), *lists);
    {
        std::lock_guard<std::mutex> hold(lock_);
        EXPECT_EQ(1u, connected_.size());
        EXPECT_EQ(0u, user_.rfind(L"S-1-", 0)) << user_;
        // The client's token is kept to check its access with, and no more
        // than identification: the server may ask who it is, not act as it.
        EXPECT_EQ(user_, tokenUser_);
        EXPECT_EQ(SecurityIdentification, tokenLevel_);
    }

    GuardPipeClient second;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Connect(second));
    Bytes answer;
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), second.Transact(Bytes{'n', 'o', 'i', 's', 'e'}, answer, 5000));
    EXPECT_FALSE(Ask(second, GuardMessage::Request(GuardMessageKind::ReadLists)).has_value());
    EXPECT_TRUE(Ask(first, GuardMessage::Request(GuardMessageKind::UnlockItem, L"still here")).has_value());
    {
        // The malformed connection's token went with it.
        std::lock_guard<std::mutex> hold(lock_);
        EXPECT_EQ(std::vector<bool>{false}, tokensHeld_);
    }

    first.Close();
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (disconnected_.size() == 2) break;
        }
        ::Sleep(20);
    }
    std::lock_guard<std::mutex> hold(lock_);
    EXPECT_EQ(connected_, disconnected_);
    EXPECT_EQ(2u, connected_.size());
}

TEST_F(GuardPipeTest, AnAnswerWorkedOutLaterRunsOnAWorkerAfterItsWaitAndHoldsUpNoOtherConnection) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server_.Start());
    GuardPipeClient waiting, other;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Connect(waiting));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Connect(other));
    std::thread ask([&] {
        EXPECT_TRUE(Ask(waiting, GuardMessage::Request(GuardMessageKind::Authenticate, L"later")).has_value());
    });
    while (messages_.load() == 0) ::Sleep(1);
    EXPECT_TRUE(Ask(other, GuardMessage::Request(GuardMessageKind::ReadLists)).has_value());
    ask.join();
    EXPECT_FALSE(workedOnLoop_.load());
    EXPECT_GE(workedAfterMs_.load(), 300u);
}

TEST_F(GuardPipeTest, AClientSendsNothingToAServerItDoesNotExpect) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server_.Start());

    // Each time the instance it reached reads the end of the connection, not a message.
    const std::wstring other = name_ + L"-other";
    for (const DWORD expected : {static_cast<DWORD>(::GetCurrentProcessId() + 4), DWORD{0}}) {
        const UniqueHandle instance(::CreateNamedPipeW(other.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
        const UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(instance && event);
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.Get();
        ::ConnectNamedPipe(instance.Get(), &overlapped);
        GuardPipeClient impostor;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), impostor.Connect(other, expected, 5000));
        EXPECT_FALSE(impostor.IsConnected());
        char byte = 0;
        DWORD read = 0;
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event.Get();
        ::ResetEvent(event.Get());
        DWORD error = ::ReadFile(instance.Get(), &byte, 1, nullptr, &overlapped) ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_IO_PENDING || error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
            if (::WaitForSingleObject(event.Get(), 5000) != WAIT_OBJECT_0) ::CancelIoEx(instance.Get(), &overlapped);
            error = ::GetOverlappedResult(instance.Get(), &overlapped, &read, TRUE) ? ERROR_SUCCESS : ::GetLastError();
        }
        EXPECT_EQ(0u, read) << "the client wrote to a server it did not expect";
        EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), error);
    }

    // The pipe carries the descriptor it was made with.
    GuardPipeClient client;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Connect(client));
    ASSERT_TRUE(Ask(client, GuardMessage::Request(GuardMessageKind::UnlockItem, L"x")).has_value());
    ::WaitNamedPipeW(name_.c_str(), 5000);
    HANDLE pipe = ::CreateFileW(name_.c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                                                   nullptr, nullptr, nullptr, nullptr, &descriptor));
    LPWSTR text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &text, nullptr));
    // Windows writes the access mask's hex digits in either case.
    EXPECT_EQ(LowerCase(kGuardPipeSecurity), LowerCase(text));
    ::LocalFree(text);
    ::LocalFree(descriptor);
    ::CloseHandle(pipe);

    server_.Stop();
    EXPECT_FALSE(Ask(client, GuardMessage::Request(GuardMessageKind::UnlockItem, L"x")).has_value());
}

TEST_F(GuardPipeTest, AProcessOrAUserHoldsFewConnectionsAndASilentOneIsClosed) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), server_.Start());
    // Each client connects once the one before was answered: the server
    // sees them in this order.
    const auto served = [this](GuardPipeClient& client, GuardMessageKind kind = GuardMessageKind::UnlockItem) {
        return Connect(client) == ERROR_SUCCESS && Ask(client, GuardMessage::Request(kind, L"x")).has_value();
    };
    const auto closed = [](GuardPipeClient& client) {
        return !client.IsConnected() || !::PeekNamedPipe(client.Handle(), nullptr, 0, nullptr, nullptr, nullptr);
    };
    // Without the password a process holds two connections.
    GuardPipeClient first;
    GuardPipeClient second;
    GuardPipeClient third;
    ASSERT_TRUE(served(first));
    ASSERT_TRUE(served(second));
    EXPECT_FALSE(served(third)) << "a third connection without the password";
    // Given it, more; one that sends no whole message is closed after its deadline.
    ASSERT_TRUE(Ask(first, GuardMessage::Request(GuardMessageKind::Authenticate, L"x")).has_value());
    GuardPipeClient silent;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Connect(silent));
    EXPECT_TRUE(testing_support::WaitUntil([&] { return closed(silent); }, 10000)) << "the silent connection stayed";
    // With the password, a user holds eight in all.
    ASSERT_TRUE(Ask(second, GuardMessage::Request(GuardMessageKind::Authenticate, L"x")).has_value());
    std::vector<GuardPipeClient> more(PipeLimits().perUser);
    std::size_t given = 2;
    for (GuardPipeClient& client : more) given += served(client, GuardMessageKind::Authenticate) ? 1 : 0;
    EXPECT_EQ(PipeLimits().perUser, given);
}
