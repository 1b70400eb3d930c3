// Runs the keeper of the list and the locker's state together: requests of
// a window, rewrites of the stored list and of the policy (the same items
// in other letter case, duplicates), disconnects and closes, and the lanes'
// work with files found, busy, denied or gone as the input says. Checks
// after every step that every item listed and not unlocked is locked in the
// state, that the state locks nothing else, and that every file token is
// held or handed back; at the end, that letting everything go leaves no
// token held.
// Input: one byte per step, most followed by operand bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/TextCase.h"
#include "fuzz/KeeperFakes.h"
#include "guard/ListKeeper.h"
#include "locker/ItemPath.h"
#include "locker/StateLocker.h"
#include "tests/support/QuickPasswordHash.h"

namespace {

using namespace vaultmere;

using fuzzing::Check;
using fuzzing::MemoryStore;
using fuzzing::OpenGate;

// Items as users, administrators and deployments write them: the same in
// other cases, a file, a tree and its folder, a share, letters beyond
// ASCII, an entry that is no path.
const wchar_t* const kPaths[] = {
    L"c:\\data\\*.*",       L"C:\\Data\\*.*",       L"c:\\data\\a.txt",     L"C:\\DATA\\A.TXT",
    L"c:\\data\\**\\*.*",   L"C:\\Data\\**\\*.*",   L"c:\\data\\s1\\*.txt", L"\\\\srv\\share\\*.*",
    L"d:\\\u00c4rger\\*.*", L"d:\\\u00e4rger\\*.*", L"data\\*.*",           L"c:\\data",
};
const wchar_t* const kNames[] = {L"a.txt", L"A.TXT", L"b.doc", L"s1", L"c~1.txt"};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    std::uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::wstring NextPath() { return kPaths[Next() % (sizeof(kPaths) / sizeof(kPaths[0]))]; }
    std::wstring NextName() { return kNames[Next() % (sizeof(kNames) / sizeof(kNames[0]))]; }
    std::vector<std::wstring> NextPaths() {
        std::vector<std::wstring> paths;
        for (std::size_t n = Next() % 5; n > 0; --n) paths.push_back(NextPath());
        return paths;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class Run {
public:
    explicit Run(Input& in) : in_(in) {
        keeper_.LockStoredItems();
        SignIn();
    }

    void Step() {
        switch (in_.Next() % 9) {
        case 0:
            Ask(GuardMessageKind::LockFolder, in_.NextPath());
            break;
        case 1:
            Ask((in_.Next() & 1) ? GuardMessageKind::UnlockItem : GuardMessageKind::UnlockForSession, in_.NextPath());
            break;
        case 2:
            Ask(GuardMessageKind::RelockItem, in_.NextPath());
            break;
        case 3:
            Ask(GuardMessageKind::RemoveItem, in_.NextPath());
            break;
        case 4:
            keeper_.ApplyStoredItems(in_.NextPaths());
            break;
        case 5:
            keeper_.ApplyPolicyItems(in_.NextPaths());
            break;
        case 6:
            // The window goes, by its Close (which saves) or by its pipe breaking.
            if (in_.Next() & 1) {
                Ask(GuardMessageKind::Close, std::wstring());
            } else {
                keeper_.Disconnect(1);
            }
            SignIn();
            break;
        default:
            locker_.Work(in_.Next() * 16u);
            break;
        }
        TakeReleased();
        CheckInvariants();
    }

    void End() {
        keeper_.ReleaseAll();
        locker_.Work(1000);
        TakeReleased();
        const LockerReport report = locker_.State().Report();
        Check(report.items == 0, "releasing everything leaves no item locked");
        Check(report.lockedFiles == 0 && outstanding_.empty(), "releasing everything leaves no token held");
    }

private:
    void SignIn() {
        keeper_.Connect(1);
        Check(Ask(GuardMessageKind::Authenticate, std::wstring()).kind == GuardMessageKind::Done,
              "no password is stored");
    }
    GuardMessage Ask(GuardMessageKind kind, const std::wstring& text) {
        return keeper_.Reply(1, GuardMessage::Request(kind, text)).message;
    }

    // What a lane finds: files opened (a fresh token), busy, denied or gone;
    // subfolders of a tree; the watch started or not.
    void Find(FolderJob& job) {
        job.watching = job.watch && (in_.Next() & 7) != 0;
        const std::size_t files = job.scan ? in_.Next() % 4 : 0;
        for (std::size_t i = 0; i < files + job.due.size() + job.look.size(); ++i) {
            FileOutcome outcome;
            outcome.name = i < files                    ? in_.NextName()
                           : i < files + job.due.size() ? job.due[i - files].first
                                                        : job.look[i - files - job.due.size()];
            outcome.lower = LowerCase(outcome.name);
            outcome.fileId = in_.Next() % 4;
            const std::uint8_t how = in_.Next() % 5;
            if (how < 2) {
                outcome.file = FileToken(++lastToken_);
                outcome.linkedElsewhere = how == 1 && (in_.Next() & 1);
                if (outcome.linkedElsewhere) outcome.file = FileToken();
                if (outcome.file) outstanding_.insert(outcome.file.Value());
            } else {
                outcome.error = how == 2 ? FileError::InUse : how == 3 ? FileError::Denied : FileError::Gone;
            }
            job.files.push_back(std::move(outcome));
        }
        if (job.tree && job.scan && (in_.Next() & 1)) job.subfolders.push_back({L"s1", L"s1", in_.Next() % 4});
        for (std::size_t i = 0; i < job.count.size(); ++i) job.counted.push_back(in_.Next());
        if (job.scan && (in_.Next() & 15) == 0) {
            job.presenceKnown = true;
            job.presence = ItemStatus::Folder::Missing;
        }
    }

    void TakeReleased() {
        for (FileToken& token : locker_.TakeReleased()) {
            if (!token) continue;
            Check(outstanding_.erase(token.Release()) == 1, "a token is handed back once, and only one made");
        }
    }

    void CheckInvariants() {
        const GuardMessage lists = Ask(GuardMessageKind::ReadLists, std::wstring());
        Check(lists.kind == GuardMessageKind::Lists, "the lists are read");
        std::set<std::wstring> locked;
        for (const ListedItem& item : lists.locked) {
            const ItemStatus status = locker_.StatusOf({item.item})[0];
            Check(status.locked, "an item listed and not unlocked is locked in the state");
            locked.insert(item.item.Key());
        }
        Check(locker_.State().Report().items == locked.size(), "nothing is locked that is not listed");
        Check(locker_.State().Report().lockedFiles == outstanding_.size(), "every token is held or handed back");
    }

    Input& in_;
    StateLocker locker_{LockBudget{24, 12}, [this](FolderJob& job) { Find(job); }};
    MemoryStore store_;
    OpenGate gate_;
    QuickPasswordHash hash_;
    ListKeeper keeper_{locker_, store_, gate_, hash_, [] { return std::uint64_t{0}; }};
    std::set<std::uintptr_t> outstanding_;  // tokens made and not handed back
    std::uintptr_t lastToken_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    Run run(in);
    for (int steps = 0; steps < 64 && !in.Empty(); ++steps) run.Step();
    run.End();
    return 0;
}
