// The command line's plain parts: its arguments, the items it names and
// its JSON.
#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/CommandRun.h"
#include "cli/StatusReport.h"

using namespace vaultmere;

namespace {

using Arguments = std::vector<std::wstring>;

bool Parses(const Arguments& arguments, CommandLine& command) {
    std::wstring error;
    const bool parsed = ParseCommandLine(arguments, command, error);
    EXPECT_EQ(parsed, error.empty()) << error;
    return parsed;
}

}  // namespace

TEST(CommandLineTest, EachCommandTakesItsOwnOptionsAndOneTarget) {
    CommandLine command;
    ASSERT_TRUE(Parses({L"lock", L"--password-stdin", L"c:\\data", L"--subfolders"}, command));
    EXPECT_EQ(CommandLine::Command::Lock, command.command);
    EXPECT_EQ(L"c:\\data", command.target);
    EXPECT_TRUE(command.subfolders && command.passwordStdin && !command.json);
    ASSERT_TRUE(Parses({L"relock", L"--all"}, command));
    EXPECT_TRUE(command.all && command.target.empty());
    ASSERT_TRUE(Parses({L"unlock", L"--", L"-odd folder"}, command));
    EXPECT_EQ(L"-odd folder", command.target);
    ASSERT_TRUE(Parses({L"status", L"--json"}, command));
    EXPECT_TRUE(command.json);
    ASSERT_TRUE(Parses({L"remove", L"x", L"/?"}, command));
    EXPECT_EQ(CommandLine::Command::Help, command.command);

    for (const Arguments& wrong : std::vector<Arguments>{{},
                                                         {L"open", L"x"},
                                                         {L"lock"},
                                                         {L"lock", L"a", L"b"},
                                                         {L"status", L"x"},
                                                         {L"unlock", L"--subfolders", L"x"},
                                                         {L"relock", L"--all", L"x"}}) {
        EXPECT_FALSE(Parses(wrong, command)) << (wrong.empty() ? L"" : wrong.front());
    }
}

TEST(CommandLineTest, AnItemIsNamedByItselfOrByItsFolderAndTheListsPrintAsJson) {
    GuardMessage lists;
    lists.kind = GuardMessageKind::Lists;
    ItemStatus waiting;
    waiting.locked = true;
    waiting.filesWaiting = 2;
    waiting.setByPolicy = true;
    lists.locked = {{L"C:\\Data\\*.*", waiting}, {L"c:\\data\\**\\*.*", ItemStatus()}, {L"q\"\u00e9\x01", {}}};
    lists.unlocked = {L"d:\\x\\*.*"};
    lists.unlockedRelockAt = {133897197000000000};  // 2025-04-21T14:35:00Z

    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Data\\*.*"}), ItemsNamed(lists, L"c:\\DATA\\.\\*.*", L""));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Data\\*.*", L"c:\\data\\**\\*.*"}),
              ItemsNamed(lists, L"c:\\data", L"c:\\data"));
    EXPECT_EQ((std::vector<std::wstring>{L"d:\\x\\*.*"}), ItemsNamed(lists, L"x", L"D:\\X"));
    EXPECT_TRUE(ItemsNamed(lists, L"c:\\data\\sub", L"c:\\data\\sub").empty());

    EXPECT_EQ(
        L"{\"items\":["
        L"{\"item\":\"C:\\\\Data\\\\*.*\",\"folder\":\"C:\\\\Data\",\"subfolders\":false,\"state\":\"locked\","
        L"\"policy\":true,\"note\":\"2 files in use\",\"relockAt\":null},"
        L"{\"item\":\"c:\\\\data\\\\**\\\\*.*\",\"folder\":\"c:\\\\data\",\"subfolders\":true,\"state\":"
        L"\"locked\",\"policy\":false,\"note\":\"\",\"relockAt\":null},"
        L"{\"item\":\"q\\\"\\u00e9\\u0001\",\"folder\":null,\"subfolders\":false,\"state\":\"locked\","
        L"\"policy\":false,\"note\":\"\",\"relockAt\":null},"
        L"{\"item\":\"d:\\\\x\\\\*.*\",\"folder\":\"d:\\\\x\",\"subfolders\":false,\"state\":\"unlocked\","
        L"\"policy\":false,\"note\":\"\",\"relockAt\":\"2025-04-21T14:35:00Z\"}"
        L"],\"relocksOnSessionLock\":false}\n",
        StatusJson(lists));
    EXPECT_EQ(
        L"locked    C:\\Data\\*.*  (set by your administrator, 2 files in use)\n"
        L"locked    c:\\data\\**\\*.*  (with subfolders)\n"
        L"locked    q\"\u00e9\x01\n"
        L"unlocked  d:\\x\\*.*  (until then)\n",
        StatusText(lists, [](std::uint64_t at) { return at != 0 ? L"until then" : L""; }));
}
