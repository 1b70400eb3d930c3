// Runs arbitrary sequences of the configuration window's list commands
// against a recording locker and checks after every step that the persisted
// list holds exactly the locked and unlocked entries, that selections stay
// in range, that each command makes the lock calls it should, and that every
// path is locked exactly as often as the locked list shows it.
// Input: one byte per command (add, select in either list, unlock, relock,
// remove answered yes or no, remove with no one to answer), some followed by
// an operand byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/TextCase.h"
#include "forms/config/ItemLists.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

struct LockCall {
    std::wstring path;
    bool locked;
};

class RecordingLocker final : public vaultmere::ItemLocker {
public:
    void SetItemLocked(const std::wstring& path, bool locked) override {
        calls.push_back({path, locked});
        held[vaultmere::LowerCase(path)] += locked ? 1 : -1;
    }
    std::vector<LockCall> calls;
    // Locks minus unlocks per path, the path compared without regard to case.
    std::map<std::wstring, long> held;
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

// Count of entries per path as the locker keys it: without regard to case.
std::map<std::wstring, long> CountByPath(const std::vector<std::wstring>& entries) {
    std::map<std::wstring, long> counts;
    for (const auto& entry : entries) ++counts[vaultmere::LowerCase(entry)];
    return counts;
}

class Run {
public:
    void Step(Input& in) {
        const std::size_t before = locker_.calls.size();
        const std::vector<std::wstring> locked = lists_.lockedList.Entries();
        const std::vector<std::wstring> unlocked = lists_.unlockedList.Entries();
        const std::wstring lockedSelection = lists_.lockedList.SelectedText();
        const std::wstring unlockedSelection = lists_.unlockedList.SelectedText();

        switch (in.Next() % 8) {
        case 0: {
            const std::wstring path = in.NextPath();
            lists_.AddLockedItem(path);
            ExpectCalls(before, {{path, true}});
            Check(lists_.lockedList.Entries().back() == path, "added entry ends the locked list");
            break;
        }
        case 1:
            lists_.lockedList.SetListIndex(static_cast<std::int8_t>(in.Next()));
            ExpectCalls(before, {});
            break;
        case 2:
            lists_.unlockedList.SetListIndex(static_cast<std::int8_t>(in.Next()));
            ExpectCalls(before, {});
            break;
        case 3:
            lists_.UnlockSelected();
            if (lockedSelection.empty()) {
                ExpectCalls(before, {});
                Check(lists_.lockedList.Entries() == locked, "nothing to unlock leaves the lists");
            } else {
                ExpectCalls(before, {{vaultmere::LowerCase(lockedSelection), false}});
                Check(lists_.unlockedList.Entries().back() == lockedSelection, "unlocked entry ends the unlocked list");
                Check(lists_.lockedList.ListCount() + 1 == static_cast<int>(locked.size()), "unlocked entry leaves");
                balance_[vaultmere::LowerCase(lockedSelection)] += 1;
            }
            break;
        case 4:
            lists_.RelockSelected();
            if (unlockedSelection.empty()) {
                ExpectCalls(before, {});
                Check(lists_.unlockedList.Entries() == unlocked, "nothing to relock leaves the lists");
            } else {
                ExpectCalls(before, {{vaultmere::LowerCase(unlockedSelection), true}});
                Check(lists_.lockedList.Entries().back() == unlockedSelection, "relocked entry ends the locked list");
                Check(lists_.unlockedList.ListCount() + 1 == static_cast<int>(unlocked.size()),
                      "relocked entry leaves");
                balance_[vaultmere::LowerCase(unlockedSelection)] -= 1;
            }
            break;
        case 5:
        case 6: {
            const bool yes = (in.Next() & 1) != 0;
            std::wstring asked;
            bool wasAsked = false;
            lists_.RemoveSelected([&](const std::wstring& entry) {
                asked = entry;
                wasAsked = true;
                return yes;
            });
            Check(wasAsked == !lockedSelection.empty(), "asked only when an entry is selected");
            Check(asked == lockedSelection, "confirmation names the selected entry");
            if (lockedSelection.empty() || !yes) {
                ExpectCalls(before, {});
                Check(lists_.lockedList.Entries() == locked, "declined removal keeps the entry");
            } else {
                ExpectCalls(before, {{lockedSelection, false}});
                Check(lists_.lockedList.ListCount() + 1 == static_cast<int>(locked.size()), "removed entry leaves");
            }
            break;
        }
        case 7:
            // No one to confirm: nothing is removed.
            lists_.RemoveSelected(vaultmere::RemoveConfirmation());
            ExpectCalls(before, {});
            Check(lists_.lockedList.Entries() == locked, "unconfirmed removal keeps the entry");
            break;
        }
        CheckInvariants();
    }

private:
    void ExpectCalls(std::size_t before, const std::vector<LockCall>& expected) {
        Check(locker_.calls.size() - before == expected.size(), "number of lock calls");
        for (std::size_t i = 0; i < expected.size(); ++i) {
            Check(locker_.calls[before + i].path == expected[i].path, "lock call path");
            Check(locker_.calls[before + i].locked == expected[i].locked, "lock call state");
        }
    }

    void CheckInvariants() {
        std::vector<std::wstring> shown = lists_.lockedList.Entries();
        shown.insert(shown.end(), lists_.unlockedList.Entries().begin(), lists_.unlockedList.Entries().end());
        Check(Sorted(shown) == Sorted(lists_.storedList.Entries()), "persisted list is locked plus unlocked");
        CheckSelection(lists_.lockedList);
        CheckSelection(lists_.unlockedList);
        CheckSelection(lists_.storedList);

        // Unlock and relock balance per path: what unlock let go of and
        // relock has not taken back is what the unlocked list shows.
        std::map<std::wstring, long> open = balance_;
        for (const auto& [path, count] : CountByPath(lists_.unlockedList.Entries())) open[path] -= count;
        for (const auto& [path, count] : open) Check(count == 0, "unlock and relock balance per path");

        // Over all commands, each path is locked as often as it is listed
        // as locked.
        std::map<std::wstring, long> held = locker_.held;
        for (const auto& [path, count] : CountByPath(lists_.lockedList.Entries())) held[path] -= count;
        for (const auto& [path, count] : held) Check(count == 0, "locks held match the locked list");
    }

    RecordingLocker locker_;
    vaultmere::ItemLists lists_{locker_};
    std::map<std::wstring, long> balance_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Run run;
    while (!in.Empty()) run.Step(in);
    return 0;
}
