#include "guard/StoreWatch.h"

#include "store/Registry.h"

namespace vaultmere {

namespace {

constexpr DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// When not even a parent can be watched (the registry refuses it), the key
// is looked at again this often.
constexpr DWORD kRetryMs = 5000;

std::wstring ParentOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

StoreWatch::StoreWatch(std::wstring keyPath, DWORD quietMs, Callbacks callbacks)
    : keyPath_(std::move(keyPath)), quietMs_(quietMs), callbacks_(std::move(callbacks)) {}

StoreWatch::~StoreWatch() { Stop(); }

DWORD StoreWatch::Start() {
    changed_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed_ || !stop_) return ::GetLastError();
    thread_.Reset(::CreateThread(nullptr, 0, &StoreWatch::Main, this, 0, nullptr));
    return thread_ ? ERROR_SUCCESS : ::GetLastError();
}

void StoreWatch::Stop() {
    if (!thread_) return;
    ::SetEvent(stop_.Get());
    ::WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
    watched_.clear();
}

DWORD WINAPI StoreWatch::Main(void* self) {
    static_cast<StoreWatch*>(self)->Run();
    return 0;
}

void StoreWatch::Arm() {
    // Closed before the event is reset: closing a key may complete its
    // request and set the event.
    watched_.clear();
    ::ResetEvent(changed_.Get());
    auto watch = [this](const std::wstring& path, bool subtree) {
        UniqueKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_NOTIFY | Registry::kRegistryView, key.Put()) !=
                ERROR_SUCCESS ||
            ::RegNotifyChangeKeyValue(key.Get(), subtree ? TRUE : FALSE, subtree ? kChanges : REG_NOTIFY_CHANGE_NAME,
                                      changed_.Get(), TRUE) != ERROR_SUCCESS) {
            return false;
        }
        watched_.push_back(std::move(key));
        return true;
    };
    // The parent's subkeys too: the key deleted or made anew is seen there
    // whether or not a request on the key itself sees it.
    watch(keyPath_, true);
    for (std::wstring path = ParentOf(keyPath_); !path.empty(); path = ParentOf(path)) {
        if (watch(path, false)) break;
    }
}

void StoreWatch::Run() {
    // A request to be told lives as long as the thread that made it: made
    // here. What changed before it is found by one first look.
    Arm();
    bool pending = true;
    for (;;) {
        const HANDLE waits[] = {stop_.Get(), changed_.Get()};
        const DWORD timeout = pending ? quietMs_ : (watched_.empty() ? kRetryMs : INFINITE);
        const DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, timeout);
        if (result == WAIT_OBJECT_0) return;
        if (result == WAIT_OBJECT_0 + 1) {
            // Asked again before anything is read, so that no change after
            // this one is missed.
            Arm();
            if (callbacks_.touched) callbacks_.touched();
            pending = true;
        } else if (pending) {
            pending = false;
            if (callbacks_.settled) callbacks_.settled();
        } else {
            // Nothing could be watched: tried again now and then, and looked at.
            Arm();
            pending = true;
        }
    }
}

}  // namespace vaultmere
