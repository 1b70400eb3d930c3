#pragma once
// A fixture for tests that run the real program as separate processes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ResidentWindow.h"
#include "common/AppState.h"
#include "forms/config/ConfigWindow.h"
#include "store/Registry.h"
#include "tests/support/TestSupport.h"

namespace testing_support {

using vaultmere::ConfigWindow;
using vaultmere::ResidentWindow;

// Real processes of the program: the resident copy, second starts, the
// relaunch on close. Uses the prefix's HKEY_LOCAL_MACHINE keys, which the
// test owns while it runs; the stored password is "secret" and File0 is a
// folder holding doc.txt.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        EndStrayCopies();
        Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
        ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath,
                                               Registry::kPasswordValueName,
                                               Registry::RegistryValue::FromText(QuickVerifier(L"secret"))));
        ASSERT_TRUE(WriteTextFile(folder / L"doc.txt", "d"));
        ASSERT_TRUE(Registry::SetRegistryValue(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath, L"File0",
                                               Registry::RegistryValue::FromText(folder.Path() + L"\\*.*")));
    }
    void TearDown() override {
        EndStrayCopies();
        Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kFilesKeyPath);
        Registry::DeleteRegistryValue(HKEY_LOCAL_MACHINE, Registry::kSettingsKeyPath, Registry::kPasswordValueName);
    }
    static void EndStrayCopies() {
        for (const wchar_t* title : {vaultmere::kResidentMarkerTitle, vaultmere::kShowRequestTitle, L"ooh! "}) {
            while (HWND window = ::FindWindowW(nullptr, title)) {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(window, &pid);
                vaultmere::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
                if (!process) break;
                ::TerminateProcess(process.Get(), 1);
                ::WaitForSingleObject(process.Get(), 5000);
            }
        }
    }
    HANDLE Start(const std::wstring& currentFolder = L"") {
        processes.push_back(StartProcess(programFolder + L"\\brwaddon.exe", L"", false, currentFolder));
        return processes.back().Get();
    }
    static HWND Resident() { return ::FindWindowW(ui::kFormClass, vaultmere::kResidentMarkerTitle); }
    static HWND Configuration() { return ::FindWindowW(nullptr, L"Vaultmere Configuration"); }
    static HWND PromptField() { return ::GetDlgItem(Resident(), ResidentWindow::IDC_PASSWORD_EDIT); }
    static HWND LockedList(HWND configuration) {
        return ::GetDlgItem(::GetDlgItem(configuration, ConfigWindow::IDC_LIST_PANEL), ConfigWindow::IDC_LOCKED_LIST);
    }
    static std::vector<std::wstring> ListEntries(HWND list) { return ListBoxEntries(list); }
    // A second start, and the resident copy's prompt shown for it. A new
    // process under Wine on a loaded machine may take seconds to start.
    void RequestPrompt() {
        HANDLE second = Start();
        ASSERT_TRUE(WaitUntil([] { return ::FindWindowW(nullptr, vaultmere::kShowRequestTitle) != nullptr; }, 15000));
        ASSERT_TRUE(WaitUntil([] { return ::IsWindowVisible(Resident()) != FALSE; }, 15000));
        EXPECT_EQ(0u, WaitForExit(second, 15000));
    }
    static HWND Window(const wchar_t* title) { return ::FindWindowW(nullptr, title); }
    // Clicks a button that opens a window until that window is there; a
    // second click on such a button does no harm.
    static HWND ClickToOpen(HWND button, const wchar_t* title) {
        HWND opened = nullptr;
        ClickUntil(
            button, [&] { return (opened = Window(title)) != nullptr; }, 3, 2000);
        return opened;
    }
    // A control of another process's window, once that window has made it.
    static HWND WaitForControl(HWND window, int id) {
        HWND control = nullptr;
        WaitUntil([&] { return (control = FindDescendant(window, id)) != nullptr; }, 5000);
        return control;
    }
    void EnterPassword(const std::wstring& password) {
        ::SendMessageW(PromptField(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password.c_str()));
        ClickCentre(::GetDlgItem(Resident(), ResidentWindow::IDC_CONTINUE_BUTTON));
    }

    // Where the program started comes from: the build, or an installation.
    std::wstring programFolder = BinaryFolder();
    TempFolder folder{L"handoff"};
    std::vector<vaultmere::UniqueHandle> processes;
};

}  // namespace testing_support
