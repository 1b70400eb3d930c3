#include "guard/StoreWatch.h"

#include "common/EntryPoint.h"
#include "guard/GuardEvents.h"
#include "store/Registry.h"

namespace vaultmere {

namespace {

constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// When not even a parent can be watched (the registry refuses it), or the
// key is missing, it is looked for again this often: a parent deleted once
// its request was made is not told of everywhere (Wine).
constexpr DWORD kRetryMs = 5000;

std::wstring ParentOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Opens path and asks to be told of its next change; false when it is
// missing or refuses.
bool Watch(const std::wstring& path, REGSAM view, bool subtree, HANDLE event, UniqueKey& key) {
    UniqueKey opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_NOTIFY | view, opened.Put()) != ERROR_SUCCESS ||
        ::RegNotifyChangeKeyValue(opened.Get(), subtree ? TRUE : FALSE, subtree ? kChanges : REG_NOTIFY_CHANGE_NAME,
                                  event, TRUE) != ERROR_SUCCESS) {
        return false;
    }
    key = std::move(opened);
    return true;
}

bool Exists(const std::wstring& path, REGSAM view) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_NOTIFY | view, key.Put()) == ERROR_SUCCESS;
}

// Keys made one after another below a watched one are followed down this
// many levels at one time.
constexpr int kParentAttempts = 4;

}  // namespace

StoreWatch::StoreWatch(std::wstring keyPath, DWORD quietMs, Callbacks callbacks, REGSAM view)
    : keyPath_(std::move(keyPath)), view_(view), quietMs_(quietMs), callbacks_(std::move(callbacks)) {}

StoreWatch::~StoreWatch() { Stop(); }

DWORD StoreWatch::Start() {
    keyChanged_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    parentChanged_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!keyChanged_ || !parentChanged_ || !stop_) return ::GetLastError();
    thread_.Reset(::CreateThread(nullptr, 0, &StoreWatch::Main, this, 0, nullptr));
    return thread_ ? ERROR_SUCCESS : ::GetLastError();
}

void StoreWatch::Stop() {
    if (!thread_) return;
    ::SetEvent(stop_.Get());
    ::WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
    key_.Reset();
    parent_.Reset();
}

DWORD WINAPI StoreWatch::Main(void* self) {
    // A change half applied leaves the guard's list unknown: it ends and is
    // started again, reading the list anew.
    return RunGuarded(
        L"the watch of the stored list", AfterEscape::EndProcess, DWORD{0},
        [self] {
            static_cast<StoreWatch*>(self)->Run();
            return DWORD{0};
        },
        &GuardEvents::UnexpectedError);
}

void StoreWatch::ArmKey() {
    ::ResetEvent(keyChanged_.Get());
    if (key_ && ::RegNotifyChangeKeyValue(key_.Get(), TRUE, kChanges, keyChanged_.Get(), TRUE) == ERROR_SUCCESS) return;
    // Deleted: let go (which may set the event) and opened anew if it is there again.
    key_.Reset();
    ::ResetEvent(keyChanged_.Get());
    Watch(keyPath_, view_, true, keyChanged_.Get(), key_);
}

void StoreWatch::ArmParent() {
    // A key on the way down made after the look that found it missing and
    // before its parent's request is not told of: looked for again after
    // each request, and watched in its turn where it came meanwhile. The
    // stored key itself is opened by ArmKey, which comes after.
    for (int attempt = 0; attempt < kParentAttempts; ++attempt) {
        parent_.Reset();
        ::ResetEvent(parentChanged_.Get());
        std::wstring child = keyPath_;
        for (std::wstring path = ParentOf(keyPath_); !path.empty(); child = path, path = ParentOf(path)) {
            if (Watch(path, view_, false, parentChanged_.Get(), parent_)) break;
        }
        if (!parent_ || child == keyPath_ || !Exists(child, view_)) return;
    }
}

void StoreWatch::Run() {
    // A request to be told lives as long as the thread that made it: made
    // here. What changed before it is found by one first look.
    ArmParent();
    ArmKey();
    bool pending = true;
    for (;;) {
        const HANDLE waits[] = {stop_.Get(), keyChanged_.Get(), parentChanged_.Get()};
        const DWORD timeout = pending ? quietMs_ : (key_ ? INFINITE : kRetryMs);
        const DWORD result = ::WaitForMultipleObjects(3, waits, FALSE, timeout);
        if (result == WAIT_OBJECT_0) return;
        if (result == WAIT_OBJECT_0 + 1 || result == WAIT_OBJECT_0 + 2) {
            // Asked again before anything is read, so that no change after
            // this one is missed.
            if (result == WAIT_OBJECT_0 + 2) ArmParent();
            ArmKey();
            if (callbacks_.touched) callbacks_.touched();
            pending = true;
        } else if (pending) {
            pending = false;
            if (callbacks_.settled) callbacks_.settled();
        } else {
            // Looked for again, and read where it came back or where nothing
            // can be watched at all.
            ArmParent();
            ArmKey();
            pending = key_ || !parent_;
            if (pending && callbacks_.touched) callbacks_.touched();
        }
    }
}

}  // namespace vaultmere
