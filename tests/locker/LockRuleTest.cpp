// The rule of what is never locked, on Windows folders reached by other paths.
#include <gtest/gtest.h>

#include "locker/FileLocker.h"
#include "locker/LockRule.h"
#include "locker/SystemFolders.h"
#include "tests/support/TestSupport.h"

namespace vaultmere {
namespace {

// A local folder as a server's administrative share names it.
std::wstring OnShare(const std::wstring& server, const std::wstring& local) {
    return L"\\\\" + server + L"\\" + local.substr(0, 1) + L"$" + local.substr(2);
}

TEST(LockRuleTest, SharesOfThisComputerAreJudgedAsTheFolderTheyLeadTo) {
    const LockRule rule;
    const std::wstring system = SystemFolders().front() + L"\\System32";
    std::vector<std::wstring> servers = {L"localhost", L"LocalHost", L"127.0.0.1", L"[::1]", L"0--1.ipv6-literal.net"};
    wchar_t name[256] = {};
    DWORD size = 256;
    if (::GetComputerNameExW(ComputerNameNetBIOS, name, &size) && size > 0) servers.emplace_back(name);
    for (const std::wstring& server : servers) {
        EXPECT_FALSE(rule.AllowsFolder(OnShare(server, system), false)) << server;
        EXPECT_FALSE(rule.AllowsFolder(OnShare(server, system + L"\\drivers"), false)) << server;
        EXPECT_FALSE(rule.AllowsFolder(OnShare(server, system.substr(0, 3)), true)) << server;
    }
    EXPECT_TRUE(rule.AllowsFolder(OnShare(L"localhost", system.substr(0, 3)), false));
    EXPECT_FALSE(rule.AllowsFolder(L"\\\\localhost\\no-such-share\\data", false));
    // So is an item the locker is given.
    FileLocker locker;
    const std::vector<std::wstring> items = {OnShare(L"127.0.0.1", system) + L"\\*.*",
                                             OnShare(L"fileserver.invalid", system) + L"\\*.*"};
    for (const std::wstring& item : items) locker.SetItemLocked(item, true);
    ASSERT_TRUE(testing_support::Settle(locker));
    EXPECT_EQ(ItemStatus::Refusal::SystemFolder, locker.StatusOf(ItemsOf(items))[0].refusal);
    EXPECT_EQ(ItemStatus::Refusal::None, locker.StatusOf(ItemsOf(items))[1].refusal);
}

TEST(LockRuleTest, AFolderIsKnownByItsVolumeAndFileIdUnderAnyPath) {
    const UniqueHandle handle(::CreateFileW(SystemFolders().front().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FolderIdentity seen;
    ASSERT_TRUE(handle && ReadIdentity(handle.Get(), true, seen));
    seen.volume = VolumeSerialOf(handle.Get());
    ASSERT_NE(0u, seen.volume);
    seen.path = L"\\\\fileserver.invalid\\share\\elsewhere";
    EXPECT_FALSE(LockRule().Allows(seen, false));
    seen.volume ^= 1;  // the same number on another volume is another folder
    EXPECT_TRUE(LockRule().Allows(seen, false));
}

}  // namespace
}  // namespace vaultmere
