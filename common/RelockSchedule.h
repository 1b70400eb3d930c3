#pragma once
// When unlocked items lock themselves again: at a locked session, and a set
// number of minutes after they were unlocked. No Windows headers. Times are
// UTC file times (100 ns units since 1601), as the windows show them.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vaultmere {

struct RelockSettings {
    bool onSessionLock = true;
    std::uint32_t minutes = 0;  // 0: never by time
};

// One value as found: nothing when missing or not a number.
struct RelockValues {
    std::optional<std::uint32_t> onSessionLock;
    std::optional<std::uint32_t> minutes;
};

// Each value from the policy where it gives one, else from the settings,
// else the default.
RelockSettings ChooseRelockSettings(const RelockValues& policy, const RelockValues& settings);

// Whether a session change (a WTS_* code) leaves the session to others: it
// was locked (7), or disconnected from the console (2, another user takes
// the screen) or from a remote client (4).
bool LeavesSessionToOthers(std::uint32_t sessionChange);
// Whether a session change ends the session's sign-in: it was signed out (6).
bool EndsSession(std::uint32_t sessionChange);

std::uint64_t UtcFileTimeNow();

class RelockSchedule {
public:
    // Unlocking again starts the time again.
    void Unlocked(const std::wstring& item, std::uint64_t now) { unlockedAt_[item] = now; }
    void Relocked(const std::wstring& item) { unlockedAt_.erase(item); }
    // When item locks itself again; 0 when never (not unlocked here, or no
    // time set).
    std::uint64_t DueAt(const std::wstring& item, std::uint32_t minutes) const;
    // The items due at now, earliest first.
    std::vector<std::wstring> Due(std::uint64_t now, std::uint32_t minutes) const;

private:
    std::map<std::wstring, std::uint64_t> unlockedAt_;
};

}  // namespace vaultmere
