#include "channel/GuardPipe.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>

#include "channel/PipeClientIdentity.h"
#include "common/EntryPoint.h"

namespace vaultmere {

namespace {

// Whether some process serves name already, and which one where that can
// be read. Windows refuses a first instance of a taken name by itself; the
// look first also finds a server where that flag is not kept.
bool NameTaken(const std::wstring& name, DWORD& holder) {
    holder = 0;
    // Anonymous: that server must never act as the guard, nor learn who asks.
    const UniqueHandle pipe(::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                          SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr));
    if (!pipe) {
        const DWORD error = ::GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    ULONG server = 0;
    if (::GetNamedPipeServerProcessId(pipe.Get(), &server)) holder = server;
    return true;
}

// How long the loop waits before it tries again to make a listening
// instance it could not make: never so long that no client gets in.
constexpr DWORD kListenerRetryMs = 100;
// A client may connect and go before its instance is listened on: the
// instance is disconnected and listened on again, a few times in a row.
constexpr int kListenAttempts = 8;

}  // namespace

class GuardPipeServer::Loop {
public:
    Loop(std::wstring name, Callbacks callbacks, PipeLimits limits)
        : name_(std::move(name)), callbacks_(std::move(callbacks)), admission_(limits) {}
    ~Loop() { Stop(); }

    DWORD Start(DWORD* takenBy) {
        DWORD holder = 0;
        if (NameTaken(name_, holder)) {
            if (takenBy) *takenBy = holder;
            return ERROR_ALREADY_EXISTS;
        }
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kGuardPipeSecurity, SDDL_REVISION_1,
                                                                    descriptor_.Put(), nullptr)) {
            return ::GetLastError();
        }
        stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!stop_) return ::GetLastError();
        const DWORD error = AddListener(true);
        // What Windows answers for a first instance of a name that is taken.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
            if (takenBy) *takenBy = 0;
            return ERROR_ALREADY_EXISTS;
        }
        if (error != ERROR_SUCCESS) return error;
        stopping_ = false;
        thread_.Reset(::CreateThread(nullptr, 0, &Loop::Main, this, 0, nullptr));
        if (thread_) return ERROR_SUCCESS;
        const DWORD threadError = ::GetLastError();
        // The instance goes too, so that the name is free for the next try.
        slots_.clear();
        return threadError;
    }

    HANDLE TokenOf(ConnectionId id) const {
        for (const auto& slot : slots_) {
            if (slot->id == id && slot->spoke) return slot->token.Get();
        }
        return nullptr;
    }

    void Stop() {
        stopping_ = true;
        if (thread_) {
            ::SetEvent(stop_.Get());
            ::WaitForSingleObject(thread_.Get(), INFINITE);
            thread_.Reset();
        }
        while (!slots_.empty()) Close(slots_.size() - 1);
    }

private:
    // An answer worked out on a worker thread; the slot's event is set when
    // it is done.
    struct Job {
        std::function<PipeAnswer()> work;
        PipeAnswer answer;
        HANDLE wake = nullptr;
        std::atomic<bool> done{false};
        // Last: destroyed first, it waits for the worker to leave.
        UniqueThreadpoolWork item;
    };

    struct Slot {
        enum class State { Listening, Reading, Holding, Working, Writing };
        UniqueHandle pipe;
        UniqueHandle event;
        OVERLAPPED overlapped{};
        State state = State::Listening;
        Bytes buffer;
        std::size_t used = 0;
        ConnectionId id = 0;  // from the moment the client connected
        bool spoke = false;   // its first whole message came
        std::wstring user;
        UniqueHandle token;        // the client's, from its first message on
        ULONGLONG sendAt = 0;      // while Holding: when the answer goes, or its work starts
        std::unique_ptr<Job> job;  // while Holding or Working: the answer's work
        // The call failed at once; the event is set so that the loop sees it.
        bool failed = false;
        // The client came between creating the instance and listening on it:
        // no I/O ran, so there is no overlapped result to ask for.
        bool connectedAtOnce = false;

        // The same instance, as a new one before it listens.
        void Reset() {
            ::ResetEvent(event.Get());
            overlapped = OVERLAPPED{};
            overlapped.hEvent = event.Get();
            state = State::Listening;
            buffer.clear();
            used = 0;
            id = 0;
            spoke = false;
            user.clear();
            token.Reset();
            sendAt = 0;
            failed = false;
            connectedAtOnce = false;
        }
    };

    static DWORD WINAPI Main(void* self) {
        // The loop holds every connection and the guard's answers run on it:
        // what escapes leaves both unknown, so the process ends (the guard is
        // started again by its recovery actions).
        return RunGuarded(L"the pipe's loop", AfterEscape::EndProcess, DWORD{0}, [self] {
            static_cast<Loop*>(self)->Run();
            return DWORD{0};
        });
    }

    DWORD AddListener(bool first) {
        auto slot = std::make_unique<Slot>();
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor_.Get(), FALSE};
        slot->pipe.Reset(
            ::CreateNamedPipeW(name_.c_str(),
                               PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               PIPE_UNLIMITED_INSTANCES, 64 * 1024, 64 * 1024, 0, &attributes));
        if (!slot->pipe) return ::GetLastError();
        slot->event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!slot->event) return ::GetLastError();
        const DWORD error = Listen(*slot);
        if (error != ERROR_SUCCESS) return error;
        slots_.push_back(std::move(slot));
        return ERROR_SUCCESS;
    }

    // Listens on an instance no client is connected to. A client that came
    // and went before the call (ERROR_NO_DATA) leaves the instance to be
    // disconnected and listened on again; one that came and stays is taken.
    static DWORD Listen(Slot& slot) {
        for (int attempt = 0; attempt < kListenAttempts; ++attempt) {
            slot.Reset();
            if (::ConnectNamedPipe(slot.pipe.Get(), &slot.overlapped)) return ERROR_SUCCESS;
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_PENDING) return ERROR_SUCCESS;
            if (error == ERROR_PIPE_CONNECTED) {
                slot.connectedAtOnce = true;
                ::SetEvent(slot.event.Get());
                return ERROR_SUCCESS;
            }
            if (error != ERROR_NO_DATA) return error;
            ::DisconnectNamedPipe(slot.pipe.Get());
        }
        return ERROR_NO_DATA;
    }

    // The instances listening, but for the one at besides (none by default).
    std::size_t Listeners(std::size_t besides = SIZE_MAX) const {
        std::size_t listening = 0;
        for (std::size_t index = 0; index < slots_.size(); ++index) {
            if (index != besides && slots_[index]->state == Slot::State::Listening) ++listening;
        }
        return listening;
    }

    // Closes the connections without the password that sent no whole
    // message in time.
    void CloseSilent() {
        for (const PipeAdmission::Key key : admission_.Overdue(::GetTickCount64())) {
            const auto found = std::find_if(slots_.begin(), slots_.end(),
                                            [key](const std::unique_ptr<Slot>& slot) { return slot->id == key; });
            if (found != slots_.end()) {
                Close(static_cast<std::size_t>(found - slots_.begin()));
            } else {
                admission_.Closed(key);
            }
        }
    }

    DWORD UntilNextDeadline() const {
        const ULONGLONG next = admission_.NextDeadline();
        if (next == 0) return INFINITE;
        const ULONGLONG now = ::GetTickCount64();
        return next <= now ? 0 : static_cast<DWORD>(next - now);
    }

    // A client connected: known by its process and that process's user, or
    // by its session where the user cannot be read (the pipe knows the
    // session without opening the process), and let in only within the
    // limits.
    void Accept(std::size_t index) {
        Slot& slot = *slots_[index];
        ULONG process = 0;
        const std::wstring user = ::GetNamedPipeClientProcessId(slot.pipe.Get(), &process) ? UserOfProcess(process)
                                                                                           : std::wstring();
        ULONG session = kUnknownSession;
        if (!::GetNamedPipeClientSessionId(slot.pipe.Get(), &session)) session = kUnknownSession;
        slot.id = nextId_++;
        if (!admission_.Admit(slot.id, process, user, session, ::GetTickCount64())) return Close(index);
        slot.state = Slot::State::Reading;
        slot.used = 0;
        Read(slot);
    }

    // Sends the held answers whose time has come; the time until the next
    // one is due, or INFINITE.
    DWORD SendDueAnswers() {
        const ULONGLONG now = ::GetTickCount64();
        ULONGLONG next = 0;
        for (std::size_t index = 0; index < slots_.size();) {
            Slot& slot = *slots_[index];
            if (slot.state == Slot::State::Holding) {
                if (slot.sendAt <= now && slot.job) {
                    StartJob(slot);
                } else if (slot.sendAt <= now) {
                    // A write that fails at once closes the slot: the same index is looked at again.
                    if (!Write(index)) continue;
                } else if (next == 0 || slot.sendAt < next) {
                    next = slot.sendAt;
                }
            }
            ++index;
        }
        return next == 0 ? INFINITE : static_cast<DWORD>(next - now);
    }

    void Run() {
        for (;;) {
            bool listenersShort = false;
            while (Listeners() < kGuardPipeListeners &&
                   slots_.size() < admission_.Limits().total + kGuardPipeListeners) {
                if (AddListener(false) != ERROR_SUCCESS) {
                    listenersShort = true;
                    break;
                }
            }
            CloseSilent();
            DWORD timeout = std::min(SendDueAnswers(), UntilNextDeadline());
            if (listenersShort) timeout = std::min(timeout, kListenerRetryMs);
            // The wait names the first of the slots ready. Connections that
            // have spoken are named before the others, so a crowd of new
            // ones, made and closed without end, keeps no window waiting;
            // within each, the slots are named from a place that moves on
            // each time, so every one is served in turn.
            const std::size_t count = slots_.size();
            first_ = count == 0 ? 0 : (first_ + 1) % count;
            std::vector<std::size_t> order;
            order.reserve(count);
            for (const bool spoke : {true, false}) {
                for (std::size_t k = 0; k < count; ++k) {
                    const std::size_t index = (first_ + k) % count;
                    if (slots_[index]->spoke == spoke) order.push_back(index);
                }
            }
            std::vector<HANDLE> waits{stop_.Get()};
            for (const std::size_t index : order) waits.push_back(slots_[index]->event.Get());
            const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                          timeout);
            if (result == WAIT_OBJECT_0) return;
            if (result == WAIT_TIMEOUT) continue;
            const std::size_t ready = result - WAIT_OBJECT_0 - 1;
            if (result < WAIT_OBJECT_0 + 1 || ready >= count) {
                // Only a handle closed under the wait gets here; a short pause
                // keeps that from spinning.
                ::Sleep(10);
                continue;
            }
            Advance(order[ready]);
        }
    }

    // One completed operation of a slot, and the next one started.
    void Advance(std::size_t index) {
        Slot& slot = *slots_[index];
        ::ResetEvent(slot.event.Get());
        if (slot.state == Slot::State::Working) {
            if (!slot.job->done.load(std::memory_order_acquire)) return;
            PipeAnswer answer = std::move(slot.job->answer);
            slot.job.reset();
            return Deliver(index, std::move(answer));
        }
        DWORD bytes = 0;
        const bool ok = slot.connectedAtOnce ||
                        (!slot.failed && ::GetOverlappedResult(slot.pipe.Get(), &slot.overlapped, &bytes, FALSE));
        slot.connectedAtOnce = false;
        const DWORD error = ok ? ERROR_SUCCESS : (slot.failed ? ERROR_BROKEN_PIPE : ::GetLastError());
        switch (slot.state) {
        case Slot::State::Listening:
            if (!ok && error != ERROR_PIPE_CONNECTED) return Close(index);
            return Accept(index);
        case Slot::State::Reading:
            if (!ok && error != ERROR_MORE_DATA) return Close(index);
            slot.used += bytes;
            if (error == ERROR_MORE_DATA) {
                DWORD left = 0;
                if (!::PeekNamedPipe(slot.pipe.Get(), nullptr, 0, nullptr, nullptr, &left) ||
                    slot.used + left > kMaxGuardMessageBytes) {
                    return Close(index);
                }
                slot.buffer.resize(slot.used + left);
                return Read(slot);
            }
            return Answer(index);
        case Slot::State::Holding:
        case Slot::State::Working:
            // Nothing runs while an answer is held: only a stray wake gets here.
            return;
        case Slot::State::Writing:
            if (!ok) return Close(index);
            slot.state = Slot::State::Reading;
            slot.used = 0;
            return Read(slot);
        }
    }

    void Read(Slot& slot) {
        if (slot.used == 0) slot.buffer.resize(kGuardPipeFirstReadBytes);
        slot.overlapped = OVERLAPPED{};
        slot.overlapped.hEvent = slot.event.Get();
        if (!::ReadFile(slot.pipe.Get(), slot.buffer.data() + slot.used,
                        static_cast<DWORD>(slot.buffer.size() - slot.used), nullptr, &slot.overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) Fail(slot);
        }
    }

    void Answer(std::size_t index) {
        Slot& slot = *slots_[index];
        slot.buffer.resize(slot.used);
        if (!slot.spoke) {
            if (!IdentifyClient(slot.pipe.Get(), slot.user, slot.token)) return Close(index);
            slot.spoke = true;
            if (callbacks_.connected) callbacks_.connected(slot.id, slot.user);
        }
        PipeAnswer answer = callbacks_.answer ? callbacks_.answer(slot.id, slot.buffer) : PipeAnswer();
        // The message may hold a password: not left in memory given back.
        ::SecureZeroMemory(slot.buffer.data(), slot.buffer.size());
        if (answer.work) {
            slot.job = std::make_unique<Job>();
            slot.job->work = std::move(answer.work);
            slot.job->wake = slot.event.Get();
            admission_.Working(slot.id);
            slot.state = Slot::State::Holding;
            slot.sendAt = ::GetTickCount64() + answer.holdMs;
            if (answer.holdMs == 0) StartJob(slot);
            return;
        }
        Deliver(index, std::move(answer));
    }

    // Hands a slot's work to a worker thread.
    static void StartJob(Slot& slot) {
        Job& job = *slot.job;
        slot.state = Slot::State::Working;
        job.item.Reset(::CreateThreadpoolWork(&Loop::RunJob, &job, nullptr));
        if (job.item) {
            ::SubmitThreadpoolWork(job.item.Get());
        } else {
            // No worker to be had: worked out here, late rather than never.
            RunJob(nullptr, &job, nullptr);
        }
    }

    static void CALLBACK RunJob(PTP_CALLBACK_INSTANCE, void* context, PTP_WORK) {
        Job& job = *static_cast<Job*>(context);
        // As on the loop: an answer that escapes leaves the guard's state unknown.
        job.answer = RunGuarded(L"the pipe's worker", AfterEscape::EndProcess, PipeAnswer(), [&job] {
            PipeAnswer answer = job.work();
            job.work = nullptr;
            return answer;
        });
        job.done.store(true, std::memory_order_release);
        ::SetEvent(job.wake);
    }

    // Sends an answer, now or when it is due.
    void Deliver(std::size_t index, PipeAnswer answer) {
        Slot& slot = *slots_[index];
        if (answer.bytes.empty()) return Close(index);
        // The time to speak again counts from when the answer goes; one
        // that is never read counts too.
        const ULONGLONG sendAt = ::GetTickCount64() + answer.holdMs;
        admission_.Answered(slot.id, answer.authenticated, sendAt);
        slot.buffer = std::move(answer.bytes);
        if (answer.holdMs > 0) {
            slot.state = Slot::State::Holding;
            slot.sendAt = sendAt;
            return;
        }
        Write(index);
    }

    // Starts sending a slot's answer; false when the pipe is gone and the
    // slot closed.
    bool Write(std::size_t index) {
        Slot& slot = *slots_[index];
        slot.state = Slot::State::Writing;
        slot.overlapped = OVERLAPPED{};
        slot.overlapped.hEvent = slot.event.Get();
        if (!::WriteFile(slot.pipe.Get(), slot.buffer.data(), static_cast<DWORD>(slot.buffer.size()), nullptr,
                         &slot.overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            Close(index);
            return false;
        }
        return true;
    }

    static void Fail(Slot& slot) {
        slot.failed = true;
        ::SetEvent(slot.event.Get());
    }

    // Ends a slot's connection. While fewer instances listen than wanted,
    // the same instance listens again rather than being closed: the name
    // never goes without an instance of ours, even for a moment.
    void Close(std::size_t index) {
        Slot& slot = *slots_[index];
        slot.job.reset();
        // Cancelled and waited for, so that no I/O writes into a freed buffer.
        if (::CancelIoEx(slot.pipe.Get(), &slot.overlapped) || ::GetLastError() != ERROR_NOT_FOUND) {
            DWORD ignored = 0;
            ::GetOverlappedResult(slot.pipe.Get(), &slot.overlapped, &ignored, TRUE);
        }
        ::DisconnectNamedPipe(slot.pipe.Get());
        const ConnectionId id = slot.id;
        const bool spoke = slot.spoke;
        if (id != 0) admission_.Closed(id);
        const bool reused = !stopping_ && Listeners(index) < kGuardPipeListeners && Listen(slot) == ERROR_SUCCESS;
        if (!reused) slots_.erase(slots_.begin() + static_cast<std::ptrdiff_t>(index));
        if (spoke && callbacks_.disconnected) callbacks_.disconnected(id);
    }

    std::wstring name_;
    Callbacks callbacks_;
    UniqueLocalMemory descriptor_;
    UniqueHandle stop_;
    UniqueHandle thread_;
    std::vector<std::unique_ptr<Slot>> slots_;
    PipeAdmission admission_;
    ConnectionId nextId_ = 1;
    std::size_t first_ = 0;  // the slot the next wait names first
    std::atomic<bool> stopping_{false};
};

GuardPipeServer::GuardPipeServer(std::wstring pipeName, Callbacks callbacks, PipeLimits limits)
    : loop_(std::make_unique<Loop>(std::move(pipeName), std::move(callbacks), limits)) {}

GuardPipeServer::~GuardPipeServer() = default;

DWORD GuardPipeServer::Start(DWORD* takenBy) { return loop_->Start(takenBy); }

void GuardPipeServer::Stop() { loop_->Stop(); }

HANDLE GuardPipeServer::ClientToken(ConnectionId connection) const { return loop_->TokenOf(connection); }

}  // namespace vaultmere
