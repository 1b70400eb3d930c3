#pragma once
// The Vaultmere Guard service: holds the stored list's locks for the whole
// machine from startup and serves the window copies through the pipe.
#include <windows.h>

#include <memory>

#include "channel/GuardPipe.h"
#include "common/UniqueHandle.h"
#include "guard/GuardCore.h"
#include "guard/ServiceBase.h"
#include "locker/FileLocker.h"

namespace vaultmere {

// The list and the password in the program's registry keys.
class RegistryGuardStore final : public GuardStore {
public:
    std::vector<std::wstring> ReadItems() override;
    long SaveItems(const std::vector<std::wstring>& items) override;
    std::wstring ReadPassword() override;
    long SavePassword(const std::wstring& password) override;
};

// The checks of a path that the guard makes itself, whoever asks.
class GuardItemGate final : public ItemGate {
public:
    std::wstring RefusalFor(ConnectionId connection, const std::wstring& path) override;
};

class GuardService final : public ServiceBase {
public:
    GuardService();
    ~GuardService() override;

protected:
    DWORD OnStart() override;
    void OnStop() override;

private:
    static DWORD WINAPI LockInBackground(void* self);
    Bytes Answer(ConnectionId connection, const Bytes& message);

    FileLocker locker_;
    RegistryGuardStore store_;
    GuardItemGate gate_;
    GuardCore core_;
    GuardPipeServer server_;
    UniqueHandle starter_;
};

}  // namespace vaultmere
