#pragma once
// The ids of the files held, by volume: a name that will not open because
// the component holds it under another is not waited for. Made the first
// time a name is in use, kept up from then on until nothing is held.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace vaultmere {

class HeldIds {
public:
    bool Kept() const { return kept_; }
    // Starts keeping the index: each(add) is to call add(volume, id) for
    // every file held now.
    template <typename Each>
    void Start(Each each) {
        if (kept_) return;
        kept_ = true;
        each([this](const std::wstring& volume, std::int64_t id) { Add(volume, id); });
    }
    // Both do nothing while the index is not kept, or for an unknown id (0).
    void Add(const std::wstring& volume, std::int64_t id) {
        if (kept_ && id != 0) ids_[volume].insert(id);
    }
    void Remove(const std::wstring& volume, std::int64_t id) {
        if (!kept_ || id == 0) return;
        const auto found = ids_.find(volume);
        if (found != ids_.end()) found->second.erase(id);
    }
    bool Holds(const std::wstring& volume, std::int64_t id) const {
        const auto found = ids_.find(volume);
        return found != ids_.end() && found->second.count(id) != 0;
    }
    // Nothing is held any more.
    void Clear() {
        ids_.clear();
        kept_ = false;
    }

private:
    std::unordered_map<std::wstring, std::unordered_set<std::int64_t>> ids_;
    bool kept_ = false;
};

}  // namespace vaultmere
