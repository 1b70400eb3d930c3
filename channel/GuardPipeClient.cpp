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
    // Waits for one overlapped call; on timeout the call is cancelled and
    // the connection closed, since the next answer would be out of step.
    // A call that did not start gives its error; a pending one is waited for.
    auto started = [](BOOL done) -> DWORD {
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        return error == ERROR_IO_PENDING || error == ERROR_MORE_DATA ? ERROR_SUCCESS : error;
    };
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_.Get();
    DWORD bytes = 0;
    auto finish = [&]() -> DWORD {
        if (::WaitForSingleObject(event_.Get(), timeoutMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(pipe_.Get(), &overlapped);
            ::GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, TRUE);
            Close();
            return ERROR_TIMEOUT;
        }
        if (::GetOverlappedResult(pipe_.Get(), &overlapped, &bytes, FALSE)) return ERROR_SUCCESS;
        return ::GetLastError();
    };

    ::ResetEvent(event_.Get());
    DWORD error = started(
        ::WriteFile(pipe_.Get(), request.data(), static_cast<DWORD>(request.size()), nullptr, &overlapped));
    if (error == ERROR_SUCCESS) error = finish();
    if (error != ERROR_SUCCESS) {
        Close();
        return error;
    }
    answer.assign(kGuardPipeFirstReadBytes, 0);
    std::size_t used = 0;
    for (;;) {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event_.Get();
        ::ResetEvent(event_.Get());
        error = started(::ReadFile(pipe_.Get(), answer.data() + used, static_cast<DWORD>(answer.size() - used), nullptr,
                                   &overlapped));
        if (error == ERROR_SUCCESS) error = finish();
        if (!pipe_) return error;
        used += bytes;
        if (error == ERROR_SUCCESS) break;
        DWORD left = 0;
        if (error != ERROR_MORE_DATA || !::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, nullptr, &left) ||
            used + left > kMaxGuardMessageBytes) {
            Close();
            return error == ERROR_MORE_DATA ? ERROR_INVALID_DATA : error;
        }
        answer.resize(used + left);
    }
    answer.resize(used);
    return ERROR_SUCCESS;
}

}  // namespace vaultmere
