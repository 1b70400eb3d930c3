// vaultmere.exe run as its own process, as an administrator's script runs
// it, against the guard as a real service: the lists read, a folder
// unlocked past the command's own connection and locked again, a new one
// locked and stored, and each failure with its exit code.
#include "channel/GuardPipe.h"
#include "forms/add/FolderItem.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/ServiceState.h"

using namespace testing_support;
using namespace vaultmere;

namespace {

struct CliRun {
    DWORD code = STILL_ACTIVE;
    std::string out;  // standard output and standard error
};

// A path as the JSON document writes it (the tests' paths are ASCII).
std::string Json(const std::wstring& path) {
    std::string json;
    for (const wchar_t ch : path) json += ch == L'\\' ? std::string("\\\\") : std::string(1, static_cast<char>(ch));
    return json;
}

class CommandLineServiceTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(WriteTextFile(b / L"doc.txt", "d"));
        ASSERT_TRUE(guard_.Install(BinaryFolder() + L"\\VaultmereGuard.exe")) << ::GetLastError();
        ASSERT_TRUE(WaitUntil([] { return ::WaitNamedPipeW(GuardPipeName().c_str(), 100) != FALSE; }, 10000));
        ASSERT_TRUE(WaitUntil([&] { return Locked(folder); }, 5000));
    }
    void TearDown() override {
        guard_.Remove();
        ProgramTest::TearDown();
    }
    static bool Locked(const TempFolder& folder) { return OpenHere(folder / L"doc.txt") == ERROR_SHARING_VIOLATION; }
    static bool Free(const TempFolder& folder) { return OpenHere(folder / L"doc.txt") == ERROR_SUCCESS; }

    // vaultmere.exe with arguments and input as its standard input, waited for.
    static CliRun Run(const std::wstring& arguments, const std::string& input = "") {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        UniqueHandle in[2];
        UniqueHandle out[2];
        CliRun run;
        DWORD bytes = 0;
        if (!::CreatePipe(in[0].Put(), in[1].Put(), &inherited, 1 << 16) ||
            !::CreatePipe(out[0].Put(), out[1].Put(), &inherited, 1 << 16) ||
            !::WriteFile(in[1].Get(), input.data(), static_cast<DWORD>(input.size()), &bytes, nullptr)) {
            return run;
        }
        in[1].Reset();
        ::SetHandleInformation(out[0].Get(), HANDLE_FLAG_INHERIT, 0);
        std::wstring commandLine = L"\"" + BinaryFolder() + L"\\vaultmere.exe\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in[0].Get();
        startup.hStdOutput = startup.hStdError = out[1].Get();
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &info)) {
            return run;
        }
        const UniqueHandle process(info.hProcess);
        ::CloseHandle(info.hThread);
        out[1].Reset();
        run.code = WaitForExit(process.Get(), 60000);
        char buffer[4096];
        while (run.code != STILL_ACTIVE && ::ReadFile(out[0].Get(), buffer, sizeof buffer, &bytes, nullptr) && bytes) {
            run.out.append(buffer, bytes);
        }
        return run;
    }
    static std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

    TempFolder b{L"cli-b"};
    TestService guard_{kGuardServiceName};
};

TEST_F(CommandLineServiceTest, ListsReadFolderUnlockedUntilRelockedNewOneLockedAndStoredAndNoGuardSaid) {
    const CliRun status = Run(L"status --json --password-stdin", "secret\n");
    EXPECT_EQ(0u, status.code) << status.out;
    EXPECT_NE(std::string::npos,
              status.out.find("{\"item\":\"" + Json(folder.Path()) + "\\\\*.*\",\"folder\":\"" + Json(folder.Path()) +
                              "\",\"subfolders\":false,\"state\":\"locked\",\"policy\":false,"
                              "\"note\":\"\",\"relockAt\":null}"))
        << status.out;

    const CliRun wrong = Run(L"unlock " + Quoted(folder.Path()) + L" --password-stdin", "guess\n");
    EXPECT_EQ(3u, wrong.code) << wrong.out;
    EXPECT_NE(std::string::npos, wrong.out.find("Wrong password.")) << wrong.out;
    EXPECT_TRUE(Locked(folder));

    // Free once the command has ended, and still for the next one.
    const CliRun unlock = Run(L"unlock " + Quoted(folder.Path()) + L" --password-stdin", "Secret\r\n");
    EXPECT_EQ(0u, unlock.code) << unlock.out;
    EXPECT_NE(std::string::npos, unlock.out.find("or sign out")) << unlock.out;
    EXPECT_TRUE(WaitUntil([&] { return Free(folder); }, 5000));
    const CliRun unlocked = Run(L"status --json --password-stdin", "secret\n");
    EXPECT_NE(std::string::npos, unlocked.out.find("\"state\":\"unlocked\"")) << unlocked.out;
    EXPECT_TRUE(Free(folder));

    const CliRun relock = Run(L"relock " + Quoted(folder.Path() + L"\\*.*") + L" --password-stdin", "secret\n");
    EXPECT_EQ(0u, relock.code) << relock.out;
    EXPECT_TRUE(WaitUntil([&] { return Locked(folder); }, 5000));

    const CliRun lock = Run(L"lock " + Quoted(b.Path()) + L" --password-stdin", "secret\n");
    EXPECT_EQ(0u, lock.code) << lock.out;
    EXPECT_TRUE(WaitUntil([&] { return Locked(b); }, 5000));
    EXPECT_EQ((std::vector<std::wstring>{folder.Path() + L"\\*.*", FolderItem(b.Path())}),
              Registry::ReadStoredItems(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath));

    // Refused with the add dialog's reason before any password is asked for.
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const CliRun critical = Run(L"lock " + Quoted(windows));
    EXPECT_EQ(4u, critical.code) << critical.out << critical.out;
    EXPECT_NE(std::string::npos, critical.out.find("Cannot lock this critical folder!")) << critical.out;

    // Every process is an elevated administrator under Wine (which shows the
    // guard its own token for every client): asked for no password.
    const CliRun elevated = Run(L"status");
    EXPECT_EQ(0u, elevated.code) << elevated.out;
    EXPECT_EQ(0u, elevated.out.find("locked    ")) << elevated.out;

    ASSERT_TRUE(guard_.Stop());
    const CliRun stopped = Run(L"relock --all --password-stdin", "secret\n");
    EXPECT_EQ(5u, stopped.code) << stopped.out;
    EXPECT_NE(std::string::npos, stopped.out.find("is not running")) << stopped.out;
    // Gone once no handle holds it.
    ASSERT_TRUE(guard_.Remove());
    const CliRun missing = Run(L"status");
    EXPECT_EQ(5u, missing.code) << missing.out;
    EXPECT_NE(std::string::npos, missing.out.find("not installed")) << missing.out;
}

}  // namespace
