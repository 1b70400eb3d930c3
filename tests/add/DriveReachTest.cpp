#include <gtest/gtest.h>

#include <map>
#include <string>

#include "forms/add/DriveReach.h"

namespace vaultmere {
namespace {

constexpr wchar_t kNetworkDrive[] = L"Cannot lock a folder on a network drive: it is connected for your sign-in only.";
constexpr wchar_t kLostSubst[] =
    L"Cannot lock this folder: its drive letter stands for a folder that cannot be reached.";

DriveFacts Subst(const std::wstring& target) { return DriveFacts{DriveKind::Fixed, L"\\??\\" + target}; }

TEST(DriveReach, AVolumeStaysASubstLetterStandsForItsFolderAndANetworkDriveIsRefused) {
    const std::map<wchar_t, DriveFacts> drives = {
        {L'c', DriveFacts{DriveKind::Fixed, L"\\Device\\HarddiskVolume1"}},
        {L'n', DriveFacts{DriveKind::Remote, L"\\Device\\LanmanRedirector\\;N:0000000000012345\\server\\share"}},
        {L'p', Subst(L"C:\\Projects")},
        {L'r', Subst(L"c:\\")},
        {L'q', Subst(L"P:\\Inner")},
        {L'm', Subst(L"N:\\Team")},
        {L'u', Subst(L"UNC\\server\\share\\docs")},
        {L'x', Subst(L"Y:\\")},
        {L'y', Subst(L"X:\\")},
        {L'z', Subst(L"relative")},
    };
    int asked = 0;
    const auto reach = [&](const std::wstring& folder) {
        return ReachableFolder(folder, [&](wchar_t letter) {
            ++asked;
            const auto found = drives.find(letter);
            return found == drives.end() ? DriveFacts() : found->second;
        });
    };
    EXPECT_EQ(L"C:\\Data", reach(L"C:\\Data").folder);
    EXPECT_TRUE(reach(L"C:\\Data").refusal.empty());
    // A letter the system says nothing about is taken as it is.
    EXPECT_EQ(L"k:\\x", reach(L"k:\\x").folder);
    EXPECT_EQ(kNetworkDrive, reach(L"N:\\Team\\Plans").refusal);
    EXPECT_EQ(L"", reach(L"n:\\Team").folder);

    // Through every subst letter on the way, whatever the case.
    EXPECT_EQ(L"C:\\Projects\\Plans", reach(L"p:\\Plans").folder);
    EXPECT_EQ(L"C:\\Projects", reach(L"P:\\").folder);
    EXPECT_EQ(L"c:\\a", reach(L"r:\\a").folder);
    EXPECT_EQ(L"C:\\Projects\\Inner\\deep", reach(L"q:\\deep").folder);
    EXPECT_EQ(L"\\\\server\\share\\docs\\2024", reach(L"u:\\2024").folder);
    // Onto a network drive, round in a circle, or to no folder at all: refused.
    EXPECT_EQ(kNetworkDrive, reach(L"m:\\x").refusal);
    EXPECT_EQ(kLostSubst, reach(L"x:\\loop").refusal);
    EXPECT_EQ(L"", reach(L"x:\\loop").folder);
    EXPECT_EQ(kLostSubst, reach(L"z:\\a").refusal);

    // Shares are not drive letters: left to the locker or the guard.
    asked = 0;
    EXPECT_EQ(L"\\\\server\\share\\x", reach(L"\\\\server\\share\\x").folder);
    EXPECT_EQ(0, asked);
}

}  // namespace
}  // namespace vaultmere
