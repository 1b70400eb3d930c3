// Run by setup and the uninstaller (extracted to their private folder):
//   setuphelper running PROGRAM...    exit 1 when a copy of any runs, else 0
//   setuphelper end PROGRAM...        exit 0 none ran, 1 all ended, 2 some remain
//   setuphelper start PROGRAM [TASK]  exit 0 started, 1 no signed-in user here, 2 failed
//   setuphelper service-register NAME DISPLAY-NAME DESCRIPTION PROGRAM
//   setuphelper service-start NAME
//   setuphelper service-stop NAME
//   setuphelper service-handover NAME  (stopped for an update: its locks
//       kept by a holder until the guard started next takes them)
//   setuphelper service-ask-handover NAME  (the same at its next stop,
//       whoever stops it)
//   setuphelper service-remove NAME
//   setuphelper service-recover NAME   (its restart actions given back)
//       exit 0 done, else the Win32 error of the step that failed
//       (1060: no such service; 1072: marked for deletion)
//   setuphelper replaceable FILE...
//       exit 0 when each existing FILE can be renamed aside, else the Win32
//       error of the first that cannot (32: held by another program)
//   setuphelper store-protect
//       gives the stored list's key (made when missing) and every key below
//       it the descriptor that lets only the system and administrators in;
//       exit 0 done, else the Win32 error of the first key that failed
//   setuphelper store-remove
//       deletes the stored list and password (and the publisher's key when
//       nothing else is left in it); exit 0 done or nothing there
//   setuphelper task-register PROGRAM TASK
//   setuphelper task-remove PROGRAM TASK
//       registers or deletes the logon task that starts PROGRAM, keeping its
//       definition beside it; exit 0 done, else the error of the failed step
// The package runs the same commands from the install folder.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "installer/helper/LogonTask.h"
#include "installer/helper/ProgramCopies.h"
#include "installer/helper/ServiceSetup.h"
#include "store/Registry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!arguments) return 3;
    std::vector<std::wstring> words(arguments, arguments + count);
    ::LocalFree(static_cast<HLOCAL>(arguments));
    if (words.size() == 2 && words[1] == L"store-protect") {
        return static_cast<int>(Registry::ProtectKeyTree(HKEY_LOCAL_MACHINE, Registry::kStoreKeyPath, true).code);
    }
    if (words.size() == 2 && words[1] == L"store-remove") {
        const Registry::RegistryStatus removed = Registry::DeleteRegistryTree(HKEY_LOCAL_MACHINE,
                                                                              Registry::kStoreKeyPath);
        if (!removed && removed.code != ERROR_FILE_NOT_FOUND) return static_cast<int>(removed.code);
        Registry::DeleteRegistryKey(HKEY_LOCAL_MACHINE, Registry::kPublisherKeyPath);
        return 0;
    }
    if (words.size() < 3) return 3;
    const std::wstring& command = words[1];
    const std::vector<std::wstring> programs(words.begin() + 2, words.end());
    if (command == L"running") return vaultmere::AnyProgramCopyRuns(programs) ? 1 : 0;
    if (command == L"end") return static_cast<int>(vaultmere::EndProgramCopies(programs));
    if (command == L"start")
        return static_cast<int>(vaultmere::StartForSignedInUser(words[2], words.size() > 3 ? words[3] : L""));
    if (command == L"service-register" && words.size() == 6)
        return static_cast<int>(vaultmere::RegisterService({words[2], words[3], words[4], words[5]}));
    if (command == L"service-start") return static_cast<int>(vaultmere::StartServiceAndWait(words[2]));
    if (command == L"service-stop") return static_cast<int>(vaultmere::StopServiceAndWait(words[2]));
    if (command == L"service-handover") return static_cast<int>(vaultmere::StopServiceForUpdate(words[2]));
    if (command == L"service-ask-handover") return static_cast<int>(vaultmere::AskForServiceHandOver(words[2]));
    if (command == L"service-remove") return static_cast<int>(vaultmere::RemoveService(words[2]));
    if (command == L"task-register" && words.size() == 4)
        return static_cast<int>(vaultmere::RegisterLogonTask(words[2], words[3]));
    if (command == L"task-remove" && words.size() == 4)
        return static_cast<int>(vaultmere::RemoveLogonTask(words[2], words[3]));
    if (command == L"service-recover") return static_cast<int>(vaultmere::RestoreRestartActions(words[2]));
    if (command == L"replaceable") return static_cast<int>(vaultmere::ProgramFilesReplaceable(programs));
    return 3;
}
