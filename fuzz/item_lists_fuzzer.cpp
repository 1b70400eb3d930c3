// Runs arbitrary sequences of the configuration window's list commands
// through the windows' book and its link to the keeper, against a recording
// locker, and checks after every step that the stored list holds exactly the
// locked and unlocked entries, each item once, that selections stay in range,
// and that every item is held exactly while the locked list shows it.
// Input: one byte per command (add, select in either list, unlock, relock,
// remove answered yes or no, remove with no one to answer), some followed by
// an operand byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/GuardBook.h"
#include "fuzz/KeeperFakes.h"
#include "guard/ListKeeper.h"
#include "locker/ItemPath.h"
#include "tests/support/QuickPasswordHash.h"

namespace {

using fuzzing::Check;
using fuzzing::MemoryStore;
using fuzzing::OpenGate;

std::wstring Key(const std::wstring& path) { return vaultmere::MakeItemKey(path).key; }

class RecordingLocker final : public vaultmere::ItemLocker {
public:
    void SetItemLocked(const vaultmere::Item& item, bool locked) override { held[item.Key()] += locked ? 1 : -1; }
    // Locks minus unlocks per item, as the locker knows items.
    std::map<std::wstring, long> held;
};

class KeeperLink final : public vaultmere::GuardLink {
public:
    explicit KeeperLink(vaultmere::ListKeeper& keeper) : keeper_(keeper) {}
    std::optional<vaultmere::GuardMessage> Exchange(const vaultmere::GuardMessage& request) override {
        return keeper_.Reply(1, request).message;
    }
    std::wstring Problem() const override { return std::wstring(); }

private:
    vaultmere::ListKeeper& keeper_;
};

// Paths as users add them: the same item in other cases, a file, a share,
// letters beyond ASCII, an empty entry, duplicates by position.
const wchar_t* const kPaths[] = {
    L"c:\\data\\*.*",
    L"C:\\Data\\*.*",
    L"c:\\data\\report.txt",
    L"\\\\srv\\share\\*.*",
    L"d:\\\u00c4rger\\*.*",
    L"d:\\\u00e4rger\\*.*",
    L"",
    L"C:\\DATA\\REPORT.TXT",
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    std::uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
    // A path from the list above, or a short one made of the input's bytes.
    std::wstring NextPath() {
        const std::uint8_t pick = Next();
        if (pick < 0xF0) return kPaths[pick % (sizeof(kPaths) / sizeof(kPaths[0]))];
        std::wstring path;
        for (std::size_t n = pick & 0x0Fu; n > 0 && !Empty(); --n) {
            const std::uint8_t low = Next();
            path.push_back(static_cast<wchar_t>(low | (Next() << 8)));
        }
        return path;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::vector<std::wstring> Sorted(std::vector<std::wstring> entries) {
    std::sort(entries.begin(), entries.end());
    return entries;
}

void CheckSelection(const vaultmere::ItemList& list) {
    Check(list.ListIndex() >= -1 && list.ListIndex() < list.ListCount(), "selection is -1 or in range");
}

class Run {
public:
    Run() {
        keeper_.ServeOwnProcess();
        Check(book_.CheckPassword(L"").accepted, "no password is stored");
    }

    void Step(Input& in) {
        const std::vector<std::wstring> locked = book_.lockedList.Texts();
        const std::wstring lockedSelection = book_.lockedList.SelectedText();
        const std::wstring unlockedSelection = book_.unlockedList.SelectedText();

        switch (in.Next() % 8) {
        case 0: {
            const std::wstring path = in.NextPath();
            const bool wasLocked = IsLocked(path);
            const vaultmere::BookResult result = book_.LockNewItem(path, nullptr);
            Check(result.message.empty(), "nothing refuses here");
            Check(IsLocked(path), "added item is locked");
            Check(result.changed != wasLocked, "an item locked already changes nothing");
            break;
        }
        case 1:
            book_.lockedList.SetListIndex(static_cast<std::int8_t>(in.Next()));
            break;
        case 2:
            book_.unlockedList.SetListIndex(static_cast<std::int8_t>(in.Next()));
            break;
        case 3:
            book_.UnlockSelected();
            Check(lockedSelection.empty() || book_.unlockedList.Entries().back().Text() == lockedSelection,
                  "unlocked entry ends the unlocked list");
            break;
        case 4:
            book_.RelockSelected();
            Check(unlockedSelection.empty() || book_.lockedList.Entries().back().Text() == unlockedSelection,
                  "relocked entry ends the locked list");
            break;
        case 5:
        case 6: {
            const bool yes = (in.Next() & 1) != 0;
            std::wstring asked;
            book_.RemoveSelected([&](const std::wstring& entry) {
                asked = entry;
                return yes;
            });
            Check(asked == lockedSelection, "confirmation names the selected entry");
            Check(!yes || lockedSelection.empty() || !Listed(lockedSelection), "removed entry leaves");
            if (!yes) Check(book_.lockedList.Texts() == locked, "declined removal keeps the entry");
            break;
        }
        case 7:
            // No one to confirm: nothing is removed.
            book_.RemoveSelected(vaultmere::RemoveConfirmation());
            Check(book_.lockedList.Texts() == locked, "unconfirmed removal keeps the entry");
            break;
        }
        CheckInvariants();
    }

private:
    bool IsLocked(const std::wstring& path) const {
        const auto& entries = book_.lockedList.Entries();
        return std::any_of(entries.begin(), entries.end(),
                           [&](const vaultmere::Item& entry) { return entry.Key() == Key(path); });
    }
    bool Listed(const std::wstring& path) const {
        const auto& entries = book_.unlockedList.Entries();
        return IsLocked(path) || std::any_of(entries.begin(), entries.end(),
                                             [&](const vaultmere::Item& entry) { return entry.Key() == Key(path); });
    }

    void CheckInvariants() {
        std::vector<std::wstring> shown = book_.lockedList.Texts();
        const std::vector<std::wstring> unlocked = book_.unlockedList.Texts();
        shown.insert(shown.end(), unlocked.begin(), unlocked.end());
        Check(Sorted(shown) == Sorted(vaultmere::TextsOf(keeper_.Items())), "stored list is locked plus unlocked");
        CheckSelection(book_.lockedList);
        CheckSelection(book_.unlockedList);

        std::map<std::wstring, long> listed;
        for (const auto& entry : shown) Check(++listed[Key(entry)] == 1, "each item is listed once");
        // Each item is held once while it is locked, and not at all otherwise.
        std::map<std::wstring, long> held = locker_.held;
        for (const auto& entry : book_.lockedList.Entries()) held[entry.Key()] -= 1;
        for (const auto& [path, count] : held) Check(count == 0, "locks held match the locked list");
    }

    RecordingLocker locker_;
    MemoryStore store_;
    OpenGate gate_;
    vaultmere::QuickPasswordHash hash_;
    vaultmere::ListKeeper keeper_{locker_, store_, gate_, hash_};
    KeeperLink link_{keeper_};
    vaultmere::GuardBook book_{link_};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Run run;
    while (!in.Empty()) run.Step(in);
    return 0;
}
