// Locking figures: a folder of N files (10,000 unless given) locked through
// SetItemLocked against a bare loop that lists and opens the same files the
// same way; private bytes per locked file; time from a file's appearance in
// a locked folder to its lock; handles and threads around locking and
// unlocking 1,000 items. Prints a table; asserts nothing.
//   lock_bench [files] [rounds]     (10000 files and 9 rounds by default)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "common/UniqueHandle.h"
#include "locker/FileLocker.h"
#include "tests/support/ProcessCounters.h"

using vaultmere::FileLocker;
using vaultmere::UniqueFindHandle;
using vaultmere::UniqueHandle;

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

bool WriteFile(const std::wstring& path) {
    UniqueHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const char text[] = "benchmark data\r\n";
    DWORD written = 0;
    return ::WriteFile(file.Get(), text, sizeof text - 1, &written, nullptr) != FALSE;
}

// Waits until the locker watches count folders; the time it took, or -1
// when that did not happen within ten seconds.
double UntilWatched(const FileLocker& locker, size_t count) {
    const LARGE_INTEGER start = Now();
    const ULONGLONG giveUp = ::GetTickCount64() + 10000;
    while (locker.Report().watchedFolders != count) {
        if (::GetTickCount64() > giveUp) return -1;
        ::Sleep(1);
    }
    return Milliseconds(start, Now());
}

// Locking returns at once and the locker's lane opens the files just
// after: a lock is timed until every file is held. False after a minute.
bool UntilHeld(const FileLocker& locker, size_t count) {
    const ULONGLONG giveUp = ::GetTickCount64() + 60000;
    while (locker.Report().lockedFiles < count) {
        if (::GetTickCount64() > giveUp) return false;
        ::Sleep(1);
    }
    return true;
}

std::wstring FileName(int index) {
    wchar_t name[32];
    std::swprintf(name, 32, L"document-%06d.txt", index);
    return name;
}

using bench::BareLock;
using bench::DeleteTree;
using bench::Format;
using bench::Median;
using bench::Percentile;
using bench::Row;

// Time from a file's appearance to its lock, for count files: created in
// place (the creator's own handle is open for a moment) or moved in whole.
std::vector<double> AppearanceToLock(const std::wstring& root, bool moveIn, int count, int& missed) {
    const std::wstring folder = root + (moveIn ? L"\\moved-in" : L"\\created");
    const std::wstring staging = root + L"\\staging";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::CreateDirectoryW(staging.c_str(), nullptr);
    const std::wstring folderPrefix = folder + L"\\";
    const std::wstring stagingPrefix = staging + L"\\";
    std::vector<double> times;
    FileLocker locker;
    locker.SetItemLocked(folder + L"\\*.*", true);
    UntilWatched(locker, 1);
    for (int i = 0; i < count; ++i) {
        // Both paths are made before the clock starts: the time is the
        // file system's and the locker's alone.
        const std::wstring name = FileName(i);
        const std::wstring staged = stagingPrefix + name;
        const std::wstring target = folderPrefix + name;
        if (moveIn) WriteFile(staged);
        const LARGE_INTEGER start = Now();
        if (moveIn) {
            ::MoveFileW(staged.c_str(), target.c_str());
        } else {
            WriteFile(target);
        }
        const ULONGLONG giveUp = ::GetTickCount64() + 5000;
        bool locked = false;
        while (!(locked = locker.Report().lockedFiles == static_cast<size_t>(i) + 1) && ::GetTickCount64() < giveUp) {
            ::Sleep(1);
        }
        if (locked) {
            times.push_back(Milliseconds(start, Now()));
        } else {
            ++missed;
        }
    }
    locker.SetItemLocked(folder + L"\\*.*", false);
    return times;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int files = argc > 1 ? std::max(1, _wtoi(argv[1])) : 10000;
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 9;
    const size_t threadsIdle = testing_support::ProcessThreadCount();

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring root = std::wstring(temp) + L"vm-lock-bench-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring folder = root + L"\\many";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < files; ++i) WriteFile(folder + L"\\" + FileName(i));
    const std::wstring item = folder + L"\\*.*";

    // Memory first, while nothing freed earlier can be handed out again. An
    // empty item locked and watched before keeps the locker's threads
    // running, so that their stacks are not counted against the files.
    double bytesPerFile = 0;
    {
        const std::wstring empty = root + L"\\empty";
        ::CreateDirectoryW(empty.c_str(), nullptr);
        FileLocker locker;
        locker.SetItemLocked(empty + L"\\*.*", true);
        UntilWatched(locker, 1);
        const size_t before = testing_support::ProcessPrivateBytes();
        locker.SetItemLocked(item, true);
        UntilHeld(locker, static_cast<size_t>(files));
        const size_t after = testing_support::ProcessPrivateBytes();
        const size_t locked = locker.Report().lockedFiles;
        if (locked > 0) bytesPerFile = (static_cast<double>(after) - static_cast<double>(before)) / locked;
        locker.SetItemLocked(item, false);
        locker.SetItemLocked(empty + L"\\*.*", false);
    }

    // Lock time against the bare loop, after one pass of each to warm the
    // caches; which of the two goes first alternates from round to round.
    std::vector<double> bare;
    std::vector<double> locking;
    std::vector<double> unlocking;
    std::vector<double> ratios;
    std::vector<double> untilWatched;
    size_t bareCount = 0;
    size_t lockedCount = 0;
    FileLocker locker;
    for (int round = -1; round < rounds; ++round) {
        double bareMs = 0;
        double lockMs = 0;
        double unlockMs = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 0)) {
                std::vector<UniqueHandle> handles;
                const LARGE_INTEGER start = Now();
                bareCount = BareLock(folder, handles);
                bareMs = Milliseconds(start, Now());
            } else {
                LARGE_INTEGER start = Now();
                locker.SetItemLocked(item, true);
                UntilHeld(locker, static_cast<size_t>(files));
                lockMs = Milliseconds(start, Now());
                lockedCount = locker.Report().lockedFiles;
                // The watch starts on the locker's own thread once lock calls
                // pause; not part of the call, but waited for here so that it
                // does not run into the next measurement.
                untilWatched.push_back(UntilWatched(locker, 1));
                start = Now();
                locker.SetItemLocked(item, false);
                unlockMs = Milliseconds(start, Now());
            }
        }
        if (round < 0) continue;
        bare.push_back(bareMs);
        locking.push_back(lockMs);
        unlocking.push_back(unlockMs);
        if (bareMs > 0) ratios.push_back(lockMs / bareMs);
    }
    // Each round's two runs lie close in time, so the ratio of a round is
    // little touched by other load on the machine; its median is reported.
    const double ratio = Median(ratios);

    int missedCreated = 0;
    int missedMoved = 0;
    const std::vector<double> created = AppearanceToLock(root, false, 100, missedCreated);
    const std::vector<double> moved = AppearanceToLock(root, true, 100, missedMoved);

    // 1,000 items, one folder of two files each: what each folder costs
    // beyond its files (its pinned handle and watch), against the bare loop
    // over the same folders, fastest of three.
    constexpr int kItems = 1000;
    std::vector<std::wstring> items;
    std::vector<std::wstring> itemFolders;
    for (int i = 0; i < kItems; ++i) {
        const std::wstring itemFolder = root + L"\\item" + std::to_wstring(i);
        ::CreateDirectoryW(itemFolder.c_str(), nullptr);
        WriteFile(itemFolder + L"\\one.txt");
        WriteFile(itemFolder + L"\\two.txt");
        itemFolders.push_back(itemFolder);
        items.push_back(itemFolder + L"\\*.*");
    }
    double bareItemsMs = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<UniqueHandle> handles;
        const LARGE_INTEGER start = Now();
        for (const std::wstring& each : itemFolders) BareLock(each, handles);
        const double ms = Milliseconds(start, Now());
        bareItemsMs = round == 0 ? ms : std::min(bareItemsMs, ms);
    }
    double lockItemsMs = 0;
    double unlockItemsMs = 0;
    size_t memoryBefore = 0;
    double untilItemsWatchedMs = 0;
    size_t memoryLocked = 0;
    for (int round = 0; round < 2; ++round) {
        if (round == 0) memoryBefore = testing_support::ProcessPrivateBytes();
        LARGE_INTEGER start = Now();
        for (const std::wstring& each : items) locker.SetItemLocked(each, true);
        UntilHeld(locker, 2 * kItems);
        const double ms = Milliseconds(start, Now());
        if (round == 0) memoryLocked = testing_support::ProcessPrivateBytes();
        lockItemsMs = round == 0 ? ms : std::min(lockItemsMs, ms);
        untilItemsWatchedMs = UntilWatched(locker, kItems);
        start = Now();
        for (const std::wstring& each : items) locker.SetItemLocked(each, false);
        unlockItemsMs = Milliseconds(start, Now());
    }
    // The lane's thread ends on its own once nothing is locked, after
    // letting go of the folders it watched.
    const auto untilIdle = [threadsIdle] {
        for (int i = 0; i < 5000 && testing_support::ProcessThreadCount() > threadsIdle; ++i) ::Sleep(1);
    };
    untilIdle();
    const size_t handlesBefore = testing_support::ProcessHandleCount();
    const size_t threadsBefore = testing_support::ProcessThreadCount();
    LARGE_INTEGER start = Now();
    for (const std::wstring& each : items) locker.SetItemLocked(each, true);
    UntilHeld(locker, 2 * kItems);
    lockItemsMs = std::min(lockItemsMs, Milliseconds(start, Now()));
    UntilWatched(locker, kItems);
    const size_t handlesLocked = testing_support::ProcessHandleCount();
    const size_t threadsLocked = testing_support::ProcessThreadCount();
    const vaultmere::LockerReport itemsReport = locker.Report();
    for (const std::wstring& each : items) locker.SetItemLocked(each, false);
    untilIdle();
    const size_t handlesAfter = testing_support::ProcessHandleCount();
    const size_t threadsAfter = testing_support::ProcessThreadCount();

    DeleteTree(root);

    bench::TableHeader();
    Row("files in the folder", std::to_string(files));
    Row("bare list and open, median of rounds (ms)", Format("%.1f", Median(bare)));
    Row("SetItemLocked until held, median of rounds (ms)", Format("%.1f", Median(locking)));
    Row("lock time / bare time, median of rounds", Format("%.3f", ratio), "<= 1.15");
    // Other load only ever adds time, so the fastest runs come nearest to
    // the true cost.
    Row("lock time / bare time, fastest run of each",
        Format("%.3f", Percentile(bare, 0.0) > 0 ? Percentile(locking, 0.0) / Percentile(bare, 0.0) : 0.0), "<= 1.15");
    Row("lock time / bare time, best and worst round",
        Format("%.3f", Percentile(ratios, 0.0)) + " / " + Format("%.3f", Percentile(ratios, 1.0)));
    Row("files held -> folder watched, median (ms)", Format("%.1f", Median(untilWatched)));
    Row("unlock, median of rounds (ms)", Format("%.1f", Median(unlocking)));
    Row("files opened: bare / locker", std::to_string(bareCount) + " / " + std::to_string(lockedCount));
    Row("private bytes per locked file", Format("%.0f", bytesPerFile), "< 200");
    Row("created in place -> locked, median of 100 (ms)", Format("%.1f", Median(created)), "about 1 s");
    Row("created in place -> locked, 90th percentile (ms)", Format("%.1f", Percentile(created, 0.9)));
    Row("created in place -> locked, slowest (ms)", Format("%.1f", Percentile(created, 1.0)));
    Row("moved in -> locked, median of 100 (ms)", Format("%.1f", Median(moved)), "about 1 s");
    Row("moved in -> locked, slowest (ms)", Format("%.1f", Percentile(moved, 1.0)));
    Row("files not locked within 5 s", std::to_string(missedCreated + missedMoved), "0");
    Row("1,000 items: bare list and open, fastest of 3 (ms)", Format("%.0f", bareItemsMs));
    Row("1,000 items: lock all, fastest of 2 (ms)", Format("%.0f", lockItemsMs));
    Row("1,000 items: lock time / bare time", Format("%.3f", bareItemsMs > 0 ? lockItemsMs / bareItemsMs : 0.0));
    Row("1,000 items: all held -> all watched (ms)", Format("%.0f", untilItemsWatchedMs));
    Row("1,000 items: unlock all (ms)", Format("%.0f", unlockItemsMs));
    Row("1,000 items: files locked, folders watched",
        std::to_string(itemsReport.lockedFiles) + ", " + std::to_string(itemsReport.watchedFolders));
    Row("1,000 items: private bytes per item",
        Format("%.0f", (static_cast<double>(memoryLocked) - static_cast<double>(memoryBefore)) / kItems));
    Row("handles before / locked / after unlocking",
        std::to_string(handlesBefore) + " / " + std::to_string(handlesLocked) + " / " + std::to_string(handlesAfter),
        "after = before");
    Row("threads before / locked / after unlocking",
        std::to_string(threadsBefore) + " / " + std::to_string(threadsLocked) + " / " + std::to_string(threadsAfter),
        "after = before");
    return 0;
}
