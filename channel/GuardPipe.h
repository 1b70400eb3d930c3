#pragma once
// The named pipe between the window copies and the guard: a server that
// keeps one instance listening and serves every connection from one thread
// with overlapped I/O, and the client a window copy uses. Messages are whole
// pipe messages of the format in GuardMessage.h; this layer only moves them.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channel/GuardMessage.h"
#include "common/UniqueHandle.h"

namespace vaultmere {

constexpr wchar_t kGuardServiceName[] = L"VaultmereGuard";
constexpr wchar_t kGuardPipeName[] = L"\\\\.\\pipe\\VaultmereGuard";
// The system and administrators have full access; interactive users may
// read, write data and attributes, but not create instances of their own.
constexpr wchar_t kGuardPipeSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12018B;;;IU)";
// Connections one user may hold at once, and all users together.
constexpr std::size_t kMaxGuardConnectionsPerUser = 8;
constexpr std::size_t kMaxGuardConnections = 60;

using Bytes = std::vector<unsigned char>;

// An answer and how long the server holds it back before it sends it; the
// connection is read again only once it is sent, while every other
// connection is served as usual.
struct PipeAnswer {
    // NOLINTNEXTLINE(google-explicit-constructor): most answers are bytes sent at once
    PipeAnswer(Bytes answer = Bytes(), DWORD holdMs = 0) : bytes(std::move(answer)), holdMs(holdMs) {}
    Bytes bytes;
    DWORD holdMs;
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

    GuardPipeServer(std::wstring pipeName, Callbacks callbacks);
    ~GuardPipeServer();
    GuardPipeServer(const GuardPipeServer&) = delete;
    GuardPipeServer& operator=(const GuardPipeServer&) = delete;

    // Creates the first instance (failing when another process has one)
    // and starts serving; ERROR_SUCCESS or the Win32 error.
    DWORD Start();
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
    void Close() { pipe_.Reset(); }

    // Sends one message and reads the whole answer, giving up after
    // timeoutMs (the connection is then closed). ERROR_SUCCESS or the error.
    DWORD Transact(const Bytes& request, Bytes& answer, DWORD timeoutMs);

private:
    UniqueHandle pipe_;
    UniqueHandle event_;
};

// The process id of a running service, or 0 when it is not installed or
// not running.
DWORD RunningServiceProcessId(const wchar_t* serviceName);
// Whether the service manager knows the service, running or not.
bool IsServiceInstalled(const wchar_t* serviceName);

}  // namespace vaultmere
