#include "channel/GuardPipe.h"

#include <algorithm>

namespace vaultmere {

DWORD GuardPipeClient::Connect(const std::wstring& pipeName, DWORD expectedServer, DWORD waitMs) {
    Close();
    const ULONGLONG giveUp = ::GetTickCount64() + waitMs;
    for (;;) {
        // Identification only: the guard may learn who asks, never act as them.
        pipe_.Reset(::CreateFileW(pipeName.c_str(), GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                  nullptr));
        if (pipe_) break;
        const DWORD error = ::GetLastError();
        const ULONGLONG now = ::GetTickCount64();
        if (now >= giveUp || (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND)) return error;
        if (error == ERROR_PIPE_BUSY) {
            ::WaitNamedPipeW(pipeName.c_str(), static_cast<DWORD>(std::min<ULONGLONG>(giveUp - now, 1000)));
        } else {
            ::Sleep(100);
        }
    }
    ULONG server = 0;
    if (!::GetNamedPipeServerProcessId(pipe_.Get(), &server)) {
        const DWORD error = ::GetLastError();
        Close();
        return error;
    }
    if (expectedServer == 0 || server != expectedServer) {
        Close();
        return ERROR_ACCESS_DENIED;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_ || !::SetNamedPipeHandleState(pipe_.Get(), &mode, nullptr, nullptr)) {
        const DWORD error = ::GetLastError();
        Close();
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD GuardPipeClient::Transact(const Bytes& request, Bytes& answer, DWORD timeoutMs) {
    if (!pipe_) return ERROR_INVALID_HANDLE;
    const ULONGLONG giveUp = ::GetTickCount64() + timeoutMs;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.Get();
    ::ResetEvent(event_.Get());
    DWORD bytes = 0;
    DWORD error = Finish(::WriteFile(pipe_.Get(), request.data(), static_cast<DWORD>(request.size()), nullptr,
                                     &overlapped),
                         overlapped, bytes, giveUp);
    // A request only partly written would put every later answer out of step.
    if (error != ERROR_SUCCESS) {
        Close();
        return error;
    }
    // The answers to requests given up on come first, in order: dropped.
    for (;;) {
        error = ReadMessage(answer, giveUp);
        if (error == ERROR_TIMEOUT) {
            // Still owed, and dropped when it comes: the connection stays, and
            // with it what the guard keeps for it.
            ++late_;
            return error;
        }
        if (error != ERROR_SUCCESS) {
            Close();
            return error;
        }
        if (late_ == 0) return ERROR_SUCCESS;
        --late_;
    }
}

DWORD GuardPipeClient::Finish(BOOL started, OVERLAPPED& overlapped, DWORD& bytes, ULONGLONG giveUp) {
    // A call that did not start gives its error; one that did is waited for.
    const DWORD error = started ? ERROR_SUCCESS : ::GetLastError();
    if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return error;
    const ULONGLONG now = ::GetTickCount64();
    const auto waitMs = static_cast<DWORD>(giveUp > now ? std::min<ULONGLONG>(giveUp - now, INFINITE - 1) : 0);
    const bool timedOut = ::WaitForSingleObject(event_.Get(), waitMs) != WAIT_OBJECT_0;
    if (timedOut) ::CancelIoEx(pipe_.Get(), &overlapped);
    // What completed before the cancel counts as completed.
    if (::GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, timedOut ? TRUE : FALSE)) return ERROR_SUCCESS;
    const DWORD result = ::GetLastError();
    return timedOut && result == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : result;
}

DWORD GuardPipeClient::ReadMessage(Bytes& message, ULONGLONG giveUp) {
    message.assign(kGuardPipeFirstReadBytes, 0);
    std::size_t used = 0;
    for (;;) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.Get();
        ::ResetEvent(event_.Get());
        DWORD bytes = 0;
        const DWORD error = Finish(::ReadFile(pipe_.Get(), message.data() + used,
                                              static_cast<DWORD>(message.size() - used), nullptr, &overlapped),
                                   overlapped, bytes, giveUp);
        used += bytes;
        // The rest of a message given up on part-way is read later as one
        // answer owed.
        if (error == ERROR_TIMEOUT) return error;
        if (error == ERROR_SUCCESS) break;
        DWORD left = 0;
        if (error != ERROR_MORE_DATA || !::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, nullptr, &left) ||
            used + left > kMaxGuardMessageBytes) {
            return error == ERROR_MORE_DATA ? ERROR_INVALID_DATA : error;
        }
        message.resize(used + left);
    }
    message.resize(used);
    return ERROR_SUCCESS;
}

}  // namespace vaultmere
