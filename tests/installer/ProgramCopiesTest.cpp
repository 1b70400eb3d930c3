#include <gtest/gtest.h>

#include "installer/helper/ProgramCopies.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using vaultmere::EndOutcome;
using vaultmere::StartOutcome;

namespace {

std::wstring Upper(std::wstring text) {
    ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

TEST(ProgramCopiesTest, EveryCopyOfTheProgramFileIsEndedAndNoOtherProgram) {
    TempFolder folder(L"copies");
    const std::wstring program = BinaryFolder() + L"\\keeper.exe";
    const std::wstring other = folder / L"keeper.exe";
    ASSERT_TRUE(::CopyFileW(program.c_str(), other.c_str(), TRUE));
    ASSERT_TRUE(WriteTextFile(folder / L"held.txt", "h"));
    const std::wstring held = L"\"" + (folder / L"held.txt") + L"\" delete";
    vaultmere::UniqueHandle first = StartProcess(program, held);
    vaultmere::UniqueHandle second = StartProcess(program, L"");
    vaultmere::UniqueHandle bystander = StartProcess(other, held);
    ASSERT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(first.Get(), 300));
    ASSERT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(bystander.Get(), 0));

    // Found by the program file's path, written in any case.
    EXPECT_TRUE(vaultmere::AnyProgramCopyRuns({folder / L"missing.exe", Upper(program)}));
    EXPECT_EQ(EndOutcome::Ended, vaultmere::EndProgramCopies({Upper(program)}));
    EXPECT_EQ(1u, WaitForExit(first.Get(), 0));
    EXPECT_EQ(1u, WaitForExit(second.Get(), 0));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), WaitForExit(bystander.Get(), 200));
    EXPECT_FALSE(vaultmere::AnyProgramCopyRuns({program}));
    EXPECT_EQ(EndOutcome::NoneRan, vaultmere::EndProgramCopies({program}));

    // Started for the signed-in user: through the task, or where there is none
    // (Wine runs no tasks) with the session shell's rights.
    EXPECT_EQ(StartOutcome::Started, vaultmere::StartForSignedInUser(program, L"Vaultmere test: no such task"));
    EXPECT_TRUE(WaitUntil([&] { return vaultmere::AnyProgramCopyRuns({program}); }, 5000));
    EXPECT_EQ(EndOutcome::Ended, vaultmere::EndProgramCopies({program, other}));
    EXPECT_EQ(1u, WaitForExit(bystander.Get(), 0));
}

}  // namespace
