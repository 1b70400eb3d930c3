#pragma once
// Watches the stored list's key and everything below it on a thread of its
// own, also while the key is missing (its nearest existing parent is
// watched then), and says when something changed and when the changes have
// been quiet for a while: a list rewritten value by value (a crash-safe
// save, a deployment that deletes the key and writes it anew) is read only
// once it is whole again.
#include <windows.h>

#include <functional>
#include <string>

#include "common/UniqueHandle.h"
#include "store/Registry.h"

namespace vaultmere {

class StoreWatch {
public:
    struct Callbacks {
        // Something changed (on the watch's thread): cheap checks only.
        std::function<void()> touched;
        // Nothing changed for quietMs since the last change.
        std::function<void()> settled;
    };

    // keyPath below HKEY_LOCAL_MACHINE, in the registry view given.
    StoreWatch(std::wstring keyPath, DWORD quietMs, Callbacks callbacks, REGSAM view = Registry::kRegistryView);
    ~StoreWatch();
    StoreWatch(const StoreWatch&) = delete;
    StoreWatch& operator=(const StoreWatch&) = delete;

    // Starts the thread, which says settled once quietMs after it started
    // watching, for whatever changed before; ERROR_SUCCESS or the error.
    DWORD Start();
    void Stop();

private:
    static DWORD WINAPI Main(void* self);
    void Run();
    // Asks again to be told of the next change of the key and all below it,
    // opening it anew where it was deleted.
    void ArmKey();
    // Asks to be told when subkeys of the key's nearest existing parent come
    // or go: the key deleted or made anew is seen there.
    void ArmParent();

    std::wstring keyPath_;
    REGSAM view_;
    DWORD quietMs_;
    Callbacks callbacks_;
    // Each handle kept while its key lives and asked again only once it has
    // told, with an event of its own.
    UniqueKey key_;
    UniqueKey parent_;
    UniqueHandle keyChanged_;
    UniqueHandle parentChanged_;
    UniqueHandle stop_;
    UniqueHandle thread_;
};

}  // namespace vaultmere
