#include "guard/GuardService.h"

#include <algorithm>

#include "locker/ItemPath.h"
#include "store/HandOverRecord.h"
#include "store/Registry.h"
#include "store/RelockStore.h"

namespace vaultmere {

long RegistryListStore::ReadItems(std::vector<std::wstring>& items) {
    return Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, items).code;
}

long RegistryListStore::SaveItems(const std::vector<std::wstring>& items) {
    if (!items.empty()) {
        const Registry::RegistryStatus created =
            Registry::CreateProtectedKey(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath, Registry::kFilesKeyName);
        if (!created) return created.code;
    }
    return Registry::SaveStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, items).code;
}

long RegistryListStore::ReadPassword(std::wstring& password) {
    Registry::RegistryValue value;
    const Registry::RegistryStatus read = Registry::ReadRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                                                      Registry::kPasswordValueName, value);
    password = value.ToText();
    return read.code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : read.code;
}

long RegistryListStore::SavePassword(const std::wstring& password) {
    // Never written where users may read it.
    const Registry::RegistryStatus created = Registry::CreateProtectedKey(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath,
                                                                          Registry::kSettingsKeyName);
    if (!created) return created.code;
    return Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName,
                                      Registry::RegistryValue::FromText(password))
        .code;
}

namespace {

// How often unlocked items are checked for their time: often enough for a
// time given in minutes.
constexpr DWORD kRelockCheckMs = 5000;

// The session a pipe client runs in, from the token it presented.
bool SessionOf(HANDLE token, DWORD& session) {
    DWORD size = 0;
    return token && ::GetTokenInformation(token, TokenSessionId, &session, sizeof session, &size);
}

// How long the stored list must be left alone before a change is applied:
// longer than the steps of one rewrite take, short enough to seem at once.
constexpr DWORD kStoreQuietMs = 500;

void ProtectStoreKey() {
    // A failure is met again at the next change, and a save that cannot
    // protect its key refuses to write.
    Registry::ProtectKeyTree(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath, false);
}

std::vector<std::wstring> FoldersOf(const std::vector<Item>& items) {
    std::vector<std::wstring> folders;
    for (const Item& item : items) {
        if (!item.Parsed().folder.empty()) folders.push_back(item.Parsed().folder);
    }
    return folders;
}

}  // namespace

GuardService::GuardService()
    : ServiceBase(kGuardServiceName),
      budget_(Registry::ReadLockBudget()),
      locker_(
          [this](HANDLE folder, const std::wstring& name) {
              UniqueHandle file = taken_.Take(folder, name);
              return file ? std::move(file) : OpenFileLocked(folder, name);
          },
          budget_.budget),
      gate_([this](ConnectionId connection) { return server_.ClientToken(connection); }, budget_.budget.treeLimit),
      keeper_(locker_, store_, gate_, hash_),
      server_(GuardPipeName(), GuardPipeServer::Callbacks{[this](ConnectionId connection, const std::wstring& user) {
                                                              events_.LearnName(user);
                                                              std::lock_guard<std::mutex> hold(lock_);
                                                              keeper_.Connect(connection, user);
                                                              const HANDLE token = server_.ClientToken(connection);
                                                              DWORD session = 0;
                                                              if (SessionOf(token, session)) {
                                                                  keeper_.SetSession(connection, session);
                                                              }
                                                              if (IsElevatedAdministrator(token)) {
                                                                  keeper_.SetAdministrator(connection);
                                                              }
                                                          },
                                                          [this](ConnectionId connection, const Bytes& message) {
                                                              return Answer(connection, message);
                                                          },
                                                          [this](ConnectionId connection) {
                                                              std::lock_guard<std::mutex> hold(lock_);
                                                              keeper_.Disconnect(connection);
                                                          }}),
      // Keys made anew get their descriptor at once; the list waits until
      // it is whole.
      watch_(Registry::kStoreKeyPath, kStoreQuietMs,
             StoreWatch::Callbacks{&ProtectStoreKey, [this] { ApplyStoredList(); }}),
      policyWatch_(Registry::kPolicyFoldersKeyPath, kStoreQuietMs,
                   StoreWatch::Callbacks{nullptr, [this] { ApplyPolicyList(); }}, Registry::kPolicyView) {
    escapeLog = &GuardEvents::UnexpectedError;
    keeper_.SetEvents(events_);
    keeper_.SetRelockSource([] { return Registry::ReadRelockSettings(); });
    locker_.OnRefused([this](const std::wstring& folder) { events_.FolderRefused(folder); });
}

GuardService::~GuardService() = default;

bool GuardService::StartThread(UniqueHandle& thread, LPTHREAD_START_ROUTINE work) {
    thread.Reset(::CreateThread(nullptr, 0, work, this, 0, nullptr));
    return thread.IsValid();
}

DWORD GuardService::OnStart() {
    if (!budget_.ignoredPlace.empty()) {
        events_.LockLimitIgnored(budget_.ignoredPlace, budget_.ignoredValue, budget_.budget.handles);
    }
    // What a guard replaced by an update handed over is ours before anything
    // is locked: the locker takes those files in place of opening them again.
    taken_.TakeFromHolder();
    notices_ = std::make_unique<VolumeNotices>(StatusHandle(), DEVICE_NOTIFY_SERVICE_HANDLE);
    stopping_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The locks come first, whatever becomes of the pipe; on a thread of
    // their own, since items on the network may take long to answer at boot.
    if (!stopping_ || !StartThread(starter_, &GuardService::LockInBackground)) return ::GetLastError();
    // Without it nothing locks itself again by time; the locks hold.
    StartThread(relocker_, &GuardService::RelockWhenDue);
    // The pipe is the guard's before it reports running wherever it can be.
    // A name another process serves, or a pipe that cannot be made, is tried
    // again in the background: no window reaches the guard meanwhile, but
    // nothing waits for it.
    DWORD holder = 0;
    const DWORD error = server_.Start(&holder);
    if (error != ERROR_SUCCESS) {
        // Nothing to do when the entry cannot be written; the retries go on.
        events_.PipeTaken(GuardPipeName(), holder, error);
        StartThread(pipeRetrier_, &GuardService::ServePipeWhenFree);
    }
    return NO_ERROR;
}

DWORD WINAPI GuardService::ServePipeWhenFree(void* self) {
    auto& service = *static_cast<GuardService*>(self);
    return RunGuarded(
        L"the pipe's retries", AfterEscape::EndProcess, DWORD{0},
        [&service] {
            while (::WaitForSingleObject(service.stopping_.Get(), kPipeRetryMs) == WAIT_TIMEOUT) {
                if (service.server_.Start() != ERROR_SUCCESS) continue;
                service.events_.PipeServed(GuardPipeName());
                break;
            }
            return DWORD{0};
        },
        &GuardEvents::UnexpectedError);
}

DWORD WINAPI GuardService::RelockWhenDue(void* self) {
    auto& service = *static_cast<GuardService*>(self);
    // What escapes a relock leaves the keeper half changed: the guard ends and
    // is started again.
    return RunGuarded(
        L"the relock by time", AfterEscape::EndProcess, DWORD{0},
        [&service] {
            while (::WaitForSingleObject(service.stopping_.Get(), kRelockCheckMs) == WAIT_TIMEOUT) {
                std::lock_guard<std::mutex> hold(service.lock_);
                service.keeper_.RelockDue();
            }
            return DWORD{0};
        },
        &GuardEvents::UnexpectedError);
}

void GuardService::OnSessionChange(DWORD change, DWORD sessionId) {
    std::lock_guard<std::mutex> hold(lock_);
    if (EndsSession(change)) keeper_.SessionEnded(sessionId);
    if (LeavesSessionToOthers(change)) keeper_.LeaveSession(sessionId);
}

DWORD WINAPI GuardService::LockInBackground(void* self) {
    return RunGuarded(
        L"the guard's start", AfterEscape::EndProcess, DWORD{0},
        [self] { return static_cast<GuardService*>(self)->LockStored(); }, &GuardEvents::UnexpectedError);
}

DWORD GuardService::LockStored() {
    GuardService& service = *this;
    ProtectStoreKey();
    {
        std::lock_guard<std::mutex> hold(service.lock_);
        service.keeper_.LockStoredItems();
    }
    service.ApplyPolicyList();
    {
        std::lock_guard<std::mutex> hold(service.lock_);
        service.WatchVolumes(false);
    }
    const DWORD watching = service.watch_.Start();
    service.policyWatch_.Start();
    // What a replaced guard handed over and the locker did not take (items
    // gone from the list meanwhile) is let go once everything is locked.
    const ULONGLONG giveUp = ::GetTickCount64() + kTakenFilesWaitMs;
    while (!taken_.Empty() && !locker_.Settled() && ::GetTickCount64() < giveUp &&
           ::WaitForSingleObject(stopping_.Get(), 50) == WAIT_TIMEOUT) {
    }
    taken_.Clear();
    return watching;
}

void GuardService::OnStop() {
    // Setup asked for a hand-over (an update): the files stay shut, kept by
    // a holder, until the next guard takes them. Any other stop, an
    // administrator's or an uninstall's, lets everything go.
    const bool handOver = TakeHandOverRequest(::GetCurrentProcessId());
    ::SetEvent(stopping_.Get());
    for (const UniqueHandle* thread : {&starter_, &relocker_, &pipeRetrier_}) {
        if (*thread) ::WaitForSingleObject(thread->Get(), INFINITE);
    }
    watch_.Stop();
    policyWatch_.Stop();
    server_.Stop();
    std::lock_guard<std::mutex> hold(lock_);
    if (notices_) notices_->Clear();
    // Without a holder the files are let go as at any other stop.
    if (handOver) HandOverToHolder(locker_);
    keeper_.ReleaseAll();
    taken_.Clear();
}

void GuardService::WatchVolumes(bool onlyNew) {
    if (!notices_) return;
    std::vector<std::wstring> folders = FoldersOf(keeper_.ListedItems());
    if (onlyNew) {
        const std::vector<std::wstring> roots = notices_->Roots();
        folders.erase(
            std::remove_if(folders.begin(), folders.end(),
                           [&roots](const std::wstring& folder) {
                               return std::any_of(roots.begin(), roots.end(), [&folder, &roots](const auto& root) {
                                   return !ItemsOnVolume({Item(JoinPath(folder, L"*.*"))}, root, roots).empty();
                               });
                           }),
            folders.end());
    }
    notices_->Watch(folders);
}

DWORD GuardService::OnDeviceEvent(DWORD eventType, void* eventData) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!notices_) return NO_ERROR;
    const VolumeNotices::Notice notice = notices_->Take(eventType, eventData);
    std::vector<std::wstring> roots = notices_->Roots();
    roots.push_back(notice.root);
    switch (notice.kind) {
    case VolumeNotices::Notice::Kind::QueryRemove:
        // The files go before this returns, so that the drive can go.
        keeper_.ReleaseItems(ItemsOnVolume(keeper_.ListedItems(), notice.root, roots));
        break;
    case VolumeNotices::Notice::Kind::RemoveFailed:
    case VolumeNotices::Notice::Kind::Removed:
        // Staying, the drive is locked again; gone, the locker notes its
        // items not reachable and locks them when it comes back.
        keeper_.RestoreItems(ItemsOnVolume(keeper_.ListedItems(), notice.root, roots));
        break;
    case VolumeNotices::Notice::Kind::Arrived:
        WatchVolumes(true);
        lookForVolumesUntil_ = ::GetTickCount64() + kLookForVolumesMs;
        break;
    case VolumeNotices::Notice::Kind::None:
        break;
    }
    return NO_ERROR;
}

void GuardService::ApplyStoredList() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::wstring> items;
    // A list that cannot be read is not taken for an empty one.
    if (store_.ReadItems(items) != ERROR_SUCCESS) return;
    if (keeper_.ApplyStoredItems(items)) WatchVolumes(true);
}

void GuardService::ApplyPolicyList() {
    std::vector<std::wstring> items;
    // A policy that cannot be read is not taken for none.
    if (!Registry::ReadPolicyItems(items)) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (keeper_.ApplyPolicyItems(items)) WatchVolumes(true);
}

PipeAnswer GuardService::Answer(ConnectionId connection, const Bytes& message) {
    auto request = DecodeGuardMessage(message.data(), message.size());
    if (!request || !IsGuardRequest(request->kind)) return Bytes();
    if (request->kind == GuardMessageKind::Authenticate) return AnswerPassword(connection, std::move(request->text));
    if (request->kind == GuardMessageKind::SetPassword) return AnswerSetPassword(connection, std::move(request->text));
    std::wstring user;
    bool authenticated = false;
    const KeeperReply reply =
        ReplyCheckedOutside(keeper_, lock_, connection, *request, [&](const KeeperReply& answered) {
            user = keeper_.UserOf(connection);
            // A drive plugged in again may have had no letter yet when it was
            // announced: for a while after, a window reading the lists looks
            // again. Not always: each look asks for the volume of every folder.
            // A change saved takes what others stored since: their items too.
            if ((request->kind == GuardMessageKind::ReadLists && ::GetTickCount64() < lookForVolumesUntil_) ||
                ((request->kind == GuardMessageKind::LockFolder || request->kind == GuardMessageKind::RemoveItem) &&
                 answered.message.kind == GuardMessageKind::Done)) {
                WatchVolumes(true);
            }
            authenticated = keeper_.IsAuthenticated(connection);
        });
    return Sent(reply, user, authenticated);
}

PipeAnswer GuardService::AnswerPassword(ConnectionId connection, std::wstring entry) {
    auto trial = std::make_shared<PasswordTrial>();
    std::optional<KeeperReply> now;
    std::wstring user;
    {
        std::lock_guard<std::mutex> hold(lock_);
        now = keeper_.BeginPassword(connection, entry, *trial);
        user = keeper_.UserOf(connection);
    }
    WipeText(entry);
    if (now) return Sent(*now, user, false);
    const std::uint64_t clock = ListKeeper::SteadyMilliseconds();
    const auto waitMs = static_cast<DWORD>(trial->startAt - std::min(trial->startAt, clock));
    return PipeAnswer::Later(waitMs, [this, trial, user] {
        PasswordVerdict verdict = keeper_.Judge(*trial);
        KeeperReply reply;
        bool authenticated = false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            reply = keeper_.FinishPassword(*trial, verdict);
            authenticated = keeper_.IsAuthenticated(trial->connection);
        }
        WipeText(verdict.verifier);
        return Sent(reply, user, authenticated);
    });
}

PipeAnswer GuardService::AnswerSetPassword(ConnectionId connection, std::wstring password) {
    std::wstring user;
    {
        std::lock_guard<std::mutex> hold(lock_);
        user = keeper_.UserOf(connection);
        if (!keeper_.IsAuthenticated(connection)) {
            WipeText(password);
            return Sent({GuardMessage::Refusal(GuardRefusal::NotAuthenticated)}, user, false);
        }
    }
    auto secret = std::make_shared<std::wstring>(std::move(password));
    return PipeAnswer::Later(0, [this, connection, secret, user] {
        std::wstring verifier = keeper_.MakeVerifier(*secret);
        WipeText(*secret);
        KeeperReply reply;
        bool authenticated = false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            reply.message = keeper_.StoreVerifier(connection, verifier);
            authenticated = keeper_.IsAuthenticated(connection);
        }
        return Sent(reply, user, authenticated);
    });
}

PipeAnswer GuardService::Sent(const KeeperReply& reply, const std::wstring& user, bool authenticated) {
    // Nothing to do when an entry cannot be written; the answer holds.
    if (reply.message == GuardMessage::Refusal(GuardRefusal::WrongPassword)) events_.WrongPassword(user);
    if (reply.message.kind == GuardMessageKind::Refused &&
        reply.message.code == static_cast<std::uint32_t>(GuardRefusal::PasswordUnreadable)) {
        std::wstring stored;
        const long code = store_.ReadPassword(stored);
        if (code != ERROR_SUCCESS) {
            events_.PasswordUnreadable(code);
        } else if (KindOfStoredPassword(stored) == StoredPassword::Untypable) {
            events_.PasswordUntypable();
        } else {
            events_.PasswordUnreadable(ERROR_INVALID_DATA);
        }
        WipeText(stored);
    }
    Bytes answer = EncodeGuardMessage(reply.message);
    if (answer.empty()) answer = EncodeGuardMessage(GuardMessage::Refusal(GuardRefusal::TooLarge));
    return PipeAnswer(std::move(answer), static_cast<DWORD>(reply.holdMs), authenticated);
}

}  // namespace vaultmere
