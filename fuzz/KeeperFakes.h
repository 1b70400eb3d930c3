#pragma once
// What the fuzz targets that drive the keeper share: a failed invariant
// ends the run, the list kept in memory, and a gate that accepts every path.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "guard/ListKeeper.h"

namespace fuzzing {

inline void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

class MemoryStore final : public vaultmere::ListStore {
public:
    long ReadItems(std::vector<std::wstring>& items) override {
        items = items_;
        return 0;
    }
    long SaveItems(const std::vector<std::wstring>& items) override {
        items_ = items;
        return 0;
    }
    long ReadPassword(std::wstring& password) override {
        password.clear();
        return 0;
    }
    long SavePassword(const std::wstring&) override { return 0; }

private:
    std::vector<std::wstring> items_;
};

class OpenGate final : public vaultmere::ItemGate {
public:
    std::wstring RefusalFor(vaultmere::ConnectionId, const std::wstring&) override { return std::wstring(); }
};

}  // namespace fuzzing
