#include <gtest/gtest.h>

#include <map>
#include <string>

#include "forms/add/DriveReach.h"

namespace vaultmere {
namespace {

constexpr wchar_t kNetworkDrive[] = L"Cannot lock a folder on a network drive: it is connected for your sign-in only.";
constexpr wchar_t kLostSubst[] =
    L"Cannot lock this folder: its drive letter stands for a folder that cannot be reached.";

class DriveReachTest : public ::testing::Test {
protected:
    FolderReach Reach(const std::wstring& folder) {
        return ReachableFolder(folder, [this](wchar_t letter) {
            ++asked;
            const auto found = drives.find(letter);
            return found == drives.end() ? DriveFacts() : found->second;
        });
    }
    static DriveFacts Volume(int number) {
        return DriveFacts{DriveKind::Fixed, L"\\Device\\HarddiskVolume" + std::to_wstring(number)};
    }
    static DriveFacts Subst(const std::wstring& target) { return DriveFacts{DriveKind::Fixed, L"\\??\\" + target}; }

    std::map<wchar_t, DriveFacts> drives = {
        {L'c', Volume(1)},
        {L'e', DriveFacts{DriveKind::Removable, L"\\Device\\HarddiskVolume7"}},
        {L'n', DriveFacts{DriveKind::Remote, L"\\Device\\LanmanRedirector\\;N:0000000000012345\\server\\share"}},
        {L'p', Subst(L"C:\\Projects")},
        {L'r', Subst(L"c:\\")},
        {L'q', Subst(L"P:\\Inner")},
        {L'm', Subst(L"N:\\Team")},
        {L'u', Subst(L"UNC\\server\\share\\docs")},
        {L'x', Subst(L"Y:\\")},
        {L'y', Subst(L"X:\\")},
        {L'z', Subst(L"relative")},
        {L'v', DriveFacts{DriveKind::Fixed, L"\\Device\\VeraCryptVolumeV"}},
    };
    int asked = 0;
};

TEST_F(DriveReachTest, AFolderOnAVolumeStaysAsItIsAndOneOnANetworkDriveIsRefused) {
    EXPECT_EQ(L"C:\\Data", Reach(L"C:\\Data").folder);
    EXPECT_EQ(L"e:\\", Reach(L"e:\\").folder);
    EXPECT_EQ(L"v:\\x", Reach(L"v:\\x").folder);
    // A letter the system says nothing about is taken as it is.
    EXPECT_EQ(L"k:\\x", Reach(L"k:\\x").folder);
    EXPECT_TRUE(Reach(L"C:\\Data").refusal.empty());

    const FolderReach network = Reach(L"n:\\Team\\Plans");
    EXPECT_EQ(L"", network.folder);
    EXPECT_EQ(kNetworkDrive, network.refusal);
    // Shares are not drive letters: the dialog leaves them to the locker or the guard.
    asked = 0;
    EXPECT_EQ(L"\\\\server\\share\\x", Reach(L"\\\\server\\share\\x").folder);
    EXPECT_EQ(0, asked);
}

TEST_F(DriveReachTest, ASubstLetterStandsForItsFolderThroughEveryLetterOnTheWay) {
    EXPECT_EQ(L"C:\\Projects\\Plans", Reach(L"p:\\Plans").folder);
    EXPECT_EQ(L"C:\\Projects", Reach(L"p:\\").folder);
    EXPECT_EQ(L"c:\\a", Reach(L"r:\\a").folder);
    EXPECT_EQ(L"C:\\Projects\\Inner\\deep", Reach(L"q:\\deep").folder);
    EXPECT_EQ(L"\\\\server\\share\\docs\\2024", Reach(L"u:\\2024").folder);

    // Through a network drive, or round in a circle, or to no folder at all: refused.
    EXPECT_EQ(kNetworkDrive, Reach(L"m:\\x").refusal);
    const FolderReach circle = Reach(L"x:\\loop");
    EXPECT_EQ(L"", circle.folder);
    EXPECT_EQ(kLostSubst, circle.refusal);
    EXPECT_EQ(kLostSubst, Reach(L"z:\\a").refusal);
}

}  // namespace
}  // namespace vaultmere
