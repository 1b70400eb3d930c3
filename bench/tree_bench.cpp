// A folder locked with its subfolders: a tree of 10,000 files in 1,000
// folders (10 x 10 x 10, ten files in each of the lowest) locked through
// SetItemLocked against a bare recursive loop that lists every folder and
// opens every file the same way; private bytes per locked file; time from a
// file's appearance to its lock at the top and five folders down. Prints a
// table; asserts nothing.
//   tree_bench [rounds] [appearances]     (15 rounds and 50 files by default)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "common/UniqueHandle.h"
#include "locker/FileLocker.h"
#include "tests/support/ProcessCounters.h"

using bench::Format;
using bench::Median;
using bench::Now;
using bench::Percentile;
using bench::Row;
using vaultmere::FileLocker;
using vaultmere::UniqueFindHandle;
using vaultmere::UniqueHandle;

namespace {

constexpr int kFanOut = 10;
constexpr int kFilesPerFolder = 10;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) { return 1000.0 * bench::Seconds(from, to); }

// The bare loop: lists each folder, opens each visible file as the locker
// does and goes into each visible subfolder, keeping the handles.
void BareTree(const std::wstring& folder, std::vector<UniqueHandle>& handles) {
    const std::wstring prefix = folder + L"\\";
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(::FindFirstFileExW((prefix + L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DEVICE)) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (found.cFileName[0] != L'.') BareTree(prefix + found.cFileName, handles);
            continue;
        }
        UniqueHandle file = bench::OpenFileLockedByName(prefix + found.cFileName);
        if (file) handles.push_back(std::move(file));
    } while (::FindNextFileW(search.Get(), &found));
}

// Report walks every folder of the tree under the locker's mutex: asked
// every 5 ms rather than every one, it takes less of the time it measures,
// which it overstates by 5 ms at most.
constexpr DWORD kPollMs = 5;

bool Held(const FileLocker& locker, size_t count) {
    const ULONGLONG giveUp = ::GetTickCount64() + 60000;
    while (locker.Report().lockedFiles < count) {
        if (::GetTickCount64() > giveUp) return false;
        ::Sleep(kPollMs);
    }
    return true;
}

// Every folder of the tree pinned and watched; the time it took, or -1.
double UntilWatched(const FileLocker& locker, size_t folders) {
    const LARGE_INTEGER start = Now();
    const ULONGLONG giveUp = ::GetTickCount64() + 60000;
    while (locker.Report().watchedFolders < folders) {
        if (::GetTickCount64() > giveUp) return -1;
        ::Sleep(kPollMs);
    }
    return Milliseconds(start, Now());
}

// The locker's lane ends on its own once nothing is locked, closing the
// folders' handles as it goes: waited for, so that it runs into neither the
// next measurement nor the deleting of the tree.
void UntilIdle(size_t threads) {
    for (int i = 0; i < 10000 && testing_support::ProcessThreadCount() > threads; ++i) ::Sleep(1);
}

std::wstring Name(const wchar_t* stem, int index) { return stem + std::to_wstring(index); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 15;
    const int appearances = argc > 2 ? std::max(1, _wtoi(argv[2])) : 50;
    const size_t threadsIdle = testing_support::ProcessThreadCount();

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring root = std::wstring(temp) + L"vm-tree-bench-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring top = root + L"\\tree";
    ::CreateDirectoryW(root.c_str(), nullptr);
    ::CreateDirectoryW(top.c_str(), nullptr);
    size_t folders = 1;
    size_t files = 0;
    for (int a = 0; a < kFanOut; ++a) {
        const std::wstring first = top + L"\\" + Name(L"part", a);
        ::CreateDirectoryW(first.c_str(), nullptr);
        for (int b = 0; b < kFanOut; ++b) {
            const std::wstring second = first + L"\\" + Name(L"year", b);
            ::CreateDirectoryW(second.c_str(), nullptr);
            for (int c = 0; c < kFanOut; ++c) {
                const std::wstring third = second + L"\\" + Name(L"album", c);
                ::CreateDirectoryW(third.c_str(), nullptr);
                for (int f = 0; f < kFilesPerFolder; ++f)
                    bench::WriteEmptyFile(third + L"\\" + Name(L"photo", f) + L".jpg");
                files += kFilesPerFolder;
                ++folders;
            }
            ++folders;
        }
        ++folders;
    }
    const std::wstring item = vaultmere::TreeItem(top);

    // Memory first, while nothing freed earlier can be handed out again; an
    // empty item keeps the locker's thread running, so its stack is not
    // counted against the files.
    double bytesPerFile = 0;
    {
        const std::wstring empty = root + L"\\empty";
        ::CreateDirectoryW(empty.c_str(), nullptr);
        FileLocker locker;
        locker.SetItemLocked(empty + L"\\*.*", true);
        UntilWatched(locker, 1);
        const size_t before = testing_support::ProcessPrivateBytes();
        locker.SetItemLocked(item, true);
        Held(locker, files);
        UntilWatched(locker, folders + 1);
        const size_t after = testing_support::ProcessPrivateBytes();
        const size_t locked = locker.Report().lockedFiles;
        if (locked > 0) bytesPerFile = (static_cast<double>(after) - static_cast<double>(before)) / locked;
        locker.SetItemLocked(item, false);
        locker.SetItemLocked(empty + L"\\*.*", false);
    }
    UntilIdle(threadsIdle);

    // Lock time against the bare loop, after one pass of each to warm the
    // caches; which goes first alternates from round to round.
    std::vector<double> bare, locking, unlocking, ratios, watched;
    size_t bareCount = 0;
    size_t lockedCount = 0;
    size_t watchedFolders = 0;
    std::vector<double> atTop, fiveDown;
    int missed = 0;
    {
        FileLocker locker;
        for (int round = -1; round < rounds; ++round) {
            double bareMs = 0;
            double lockMs = 0;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == (round % 2 == 0)) {
                    std::vector<UniqueHandle> handles;
                    handles.reserve(files);
                    const LARGE_INTEGER start = Now();
                    BareTree(L"\\\\?\\" + top, handles);
                    bareMs = Milliseconds(start, Now());
                    bareCount = handles.size();
                } else {
                    LARGE_INTEGER start = Now();
                    locker.SetItemLocked(item, true);
                    Held(locker, files);
                    lockMs = Milliseconds(start, Now());
                    lockedCount = locker.Report().lockedFiles;
                    // The subfolders are pinned and watched on the locker's own
                    // thread once every file is held; waited for here so that it
                    // does not run into the next measurement.
                    watched.push_back(UntilWatched(locker, folders));
                    watchedFolders = locker.Report().watchedFolders;
                    start = Now();
                    locker.SetItemLocked(item, false);
                    if (round >= 0) unlocking.push_back(Milliseconds(start, Now()));
                    UntilIdle(threadsIdle);
                }
            }
            if (round < 0) continue;
            bare.push_back(bareMs);
            locking.push_back(lockMs);
            if (bareMs > 0) ratios.push_back(lockMs / bareMs);
        }

        // A new file at the top and five folders down, in turn: the time from
        // its creation to its lock.
        std::wstring deep = top;
        for (int level = 1; level <= 5; ++level) {
            deep += L"\\" + Name(L"level", level);
            ::CreateDirectoryW(deep.c_str(), nullptr);
        }
        locker.SetItemLocked(item, true);
        Held(locker, files);
        UntilWatched(locker, folders + 5);
        for (int i = 0; i < 2 * appearances; ++i) {
            const std::wstring path = (i % 2 ? deep : top) + L"\\" + Name(L"new", i) + L".txt";
            const size_t before = locker.Report().lockedFiles;
            const LARGE_INTEGER start = Now();
            bench::WriteEmptyFile(path);
            const ULONGLONG giveUp = ::GetTickCount64() + 5000;
            while (locker.Report().lockedFiles == before && ::GetTickCount64() < giveUp) ::Sleep(1);
            if (locker.Report().lockedFiles == before) {
                ++missed;
                continue;
            }
            (i % 2 ? fiveDown : atTop).push_back(Milliseconds(start, Now()));
        }
        locker.SetItemLocked(item, false);
    }
    UntilIdle(threadsIdle);
    bench::DeleteTree(root);

    bench::TableHeader();
    Row("tree: files, folders", std::to_string(files) + ", " + std::to_string(folders));
    Row("tree: bare recursive list and open, median (ms)", Format("%.1f", Median(bare)));
    Row("tree: SetItemLocked until held, median (ms)", Format("%.1f", Median(locking)));
    Row("tree: lock time / bare time, median of rounds", Format("%.3f", Median(ratios)), "<= 1.1");
    Row("tree: lock time / bare time, fastest run of each",
        Format("%.3f", Percentile(bare, 0.0) > 0 ? Percentile(locking, 0.0) / Percentile(bare, 0.0) : 0.0), "<= 1.1");
    Row("tree: lock time / bare time, best and worst round",
        Format("%.3f", Percentile(ratios, 0.0)) + " / " + Format("%.3f", Percentile(ratios, 1.0)));
    Row("tree: files held -> all folders watched, median (ms)", Format("%.1f", Median(watched)));
    Row("tree: unlock, median (ms)", Format("%.1f", Median(unlocking)));
    Row("tree: files opened bare / locker, folders watched",
        std::to_string(bareCount) + " / " + std::to_string(lockedCount) + ", " + std::to_string(watchedFolders));
    Row("tree: private bytes per locked file", Format("%.0f", bytesPerFile));
    Row("tree: new file at the top -> locked, median (ms)", Format("%.1f", Median(atTop)));
    Row("tree: new file 5 folders down -> locked, median (ms)", Format("%.1f", Median(fiveDown)), "as at the top");
    Row("tree: new file 5 folders down -> locked, worst (ms)", Format("%.1f", Percentile(fiveDown, 1.0)));
    Row("tree: new files not locked within 5 s", std::to_string(missed), "0");
    return 0;
}
