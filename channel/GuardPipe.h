#pragma once
// The named pipe between the window copies and the guard: a server that
// keeps kGuardPipeListeners instances listening, whatever its clients do,
// and serves every connection from one thread with overlapped I/O
// (GuardPipeServer.cpp), and the client a window copy uses
// (GuardPipeClient.cpp). Messages are whole pipe messages of the format in
// GuardMessage.h; this layer only moves them.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/GuardMessage.h"
#include "channel/PipeAdmission.h"
#include "channel/PipeClientIdentity.h"
#include "channel/ServiceQuery.h"
#include "common/UniqueHandle.h"

namespace vaultmere {

constexpr wchar_t kGuardServiceName[] = L"VaultmereGuard";
// Where the system has named-pipe secure prefixes (Windows 10 1709, build
// 16299, and later), only administrators and the system may create a pipe
// whose name starts with this one: no user can take the guard's name.
constexpr wchar_t kProtectedGuardPipeName[] = L"\\\\.\\pipe\\ProtectedPrefix\\Administrators\\VaultmereGuard";
// Older systems treat that prefix as any other name: there the guard keeps
// its plain name, guarded by the first-instance flag and the clients' check
// of the serving process.
constexpr wchar_t kPlainGuardPipeName[] = L"\\\\.\\pipe\\VaultmereGuard";
// The guard's pipe on this system, the same for the guard and every client:
// chosen by the system's build as the kernel reports it, which no user's
// compatibility setting changes.
std::wstring GuardPipeName();
// The system and administrators have full access; interactive users may
// read, write data and attributes, but not create instances of their own.
constexpr wchar_t kGuardPipeSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12018B;;;IU)";
// Instances kept listening, so that a program that connects without end
// keeps no other client waiting for one.
constexpr std::size_t kGuardPipeListeners = 2;

using Bytes = std::vector<unsigned char>;
// The first read of a message takes up to this much; the rest of a longer
// one is read after.
constexpr DWORD kGuardPipeFirstReadBytes = 4096;

// An answer and how long the server holds it back before it sends it; the
// connection is read again only once it is sent, while every other
// connection is served as usual.
// authenticated: whether the connection has given the password once this
// answer is sent; one that has not counts against its process's and its
// user's few such connections, and is closed when it sends nothing more
// within PipeLimits::nextMessageMs of the answer.
// An answer that takes long to work out (a password's hash) is given as
// work instead: it runs on a worker thread once holdMs have passed, and
// what it returns is the answer, sent as any other.
struct PipeAnswer {
    // NOLINTNEXTLINE(google-explicit-constructor): most answers are bytes sent at once
    PipeAnswer(Bytes answer = Bytes(), DWORD holdMs = 0, bool authenticated = false)
        : bytes(std::move(answer)), holdMs(holdMs), authenticated(authenticated) {}
    static PipeAnswer Later(DWORD holdMs, std::function<PipeAnswer()> work) {
        PipeAnswer answer(Bytes(), holdMs);
        answer.work = std::move(work);
        return answer;
    }
    Bytes bytes;
    DWORD holdMs;
    bool authenticated;
    std::function<PipeAnswer()> work;
};

class GuardPipeServer {
public:
    struct Callbacks {
        // A client connected and sent its first message; user is its SID
        // as text. Runs before that message is answered.
        std::function<void(ConnectionId connection, const std::wstring& user)> connected;
        // The answer to one whole message; an empty answer closes the
        // connection (a malformed request, say).
        std::function<PipeAnswer(ConnectionId connection, const Bytes& message)> answer;
        std::function<void(ConnectionId connection)> disconnected;
    };

    GuardPipeServer(std::wstring pipeName, Callbacks callbacks, PipeLimits limits = PipeLimits());
    ~GuardPipeServer();
    GuardPipeServer(const GuardPipeServer&) = delete;
    GuardPipeServer& operator=(const GuardPipeServer&) = delete;

    // Creates the first instance and starts serving: ERROR_SUCCESS, the
    // Win32 error, or ERROR_ALREADY_EXISTS when another process serves the
    // name already; takenBy then is that process's id, 0 when it cannot be
    // read.
    DWORD Start(DWORD* takenBy = nullptr);
    // Ends every connection (each reported as disconnected) and the thread.
    void Stop();

    // The token of a connection's client, identification level, to check
    // its access with; null for a connection not (or no longer) served.
    // Only from inside a callback: the server's thread owns the token and
    // closes it when the connection ends.
    HANDLE ClientToken(ConnectionId connection) const;

private:
    class Loop;
    std::unique_ptr<Loop> loop_;
};

// A window copy's connection to the guard.
class GuardPipeClient {
public:
    // Connects, waiting up to waitMs for a free instance, and checks that
    // the process serving the pipe is expectedServer before anything is
    // sent: ERROR_SUCCESS, ERROR_ACCESS_DENIED for another server, or the
    // Win32 error of the failing call.
    DWORD Connect(const std::wstring& pipeName, DWORD expectedServer, DWORD waitMs);
    bool IsConnected() const { return pipe_.IsValid(); }
    HANDLE Handle() const { return pipe_.Get(); }
    void Close() {
        pipe_.Reset();
        late_ = 0;
    }

    // Sends one message and reads the whole answer: ERROR_SUCCESS or the
    // error, after which the connection is closed. ERROR_TIMEOUT when no
    // answer came within timeoutMs: the connection stays, and that answer
    // is dropped when it comes, before the next one is read. The guard
    // answers a connection's requests in turn, and it is no reason to end
    // the connection and with it what the guard keeps for it.
    DWORD Transact(const Bytes& request, Bytes& answer, DWORD timeoutMs);

private:
    // Waits until giveUp for an overlapped call that started (the call's
    // result); on time out it is cancelled: ERROR_TIMEOUT unless it came.
    DWORD Finish(BOOL started, OVERLAPPED& overlapped, DWORD& bytes, ULONGLONG giveUp);
    // Reads one whole message; ERROR_TIMEOUT leaves its rest to be read as one.
    DWORD ReadMessage(Bytes& message, ULONGLONG giveUp);

    UniqueHandle pipe_;
    UniqueHandle event_;
    // Answers to requests given up on, still to come.
    std::size_t late_ = 0;
};

}  // namespace vaultmere
