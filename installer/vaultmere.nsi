; Vaultmere setup: installs brwaddon.exe per machine, starts it at every logon
; through a Task Scheduler task, registers and starts the guard service
; (VaultmereGuard.exe), installs the command line (vaultmere.exe) beside them,
; and registers an uninstaller. Built by the `installer` CMake target:
;   makensis -DEXE=<brwaddon.exe> -DGUARD=<VaultmereGuard.exe> -DCLI=<vaultmere.exe>
;   -DHELPER=<setuphelper.exe> -DOUTFILE=<setup.exe> installer/vaultmere.nsi
; Silent use: setup.exe /S [/D=<folder>]; uninstall.exe /S [/REMOVESETTINGS].
;
; Both the setup and the program are 32-bit, so on 64-bit Windows every
; registry key below lies in the same 32-bit view the program itself reads.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
; A program file that cannot be written is never left behind unsaid.
AllowSkipFiles off

!ifndef EXE
  !error "Pass the program with -DEXE=<path to brwaddon.exe>"
!endif
!ifndef GUARD
  !error "Pass the guard service with -DGUARD=<path to VaultmereGuard.exe>"
!endif
!ifndef CLI
  !error "Pass the command line with -DCLI=<path to vaultmere.exe>"
!endif
!ifndef HELPER
  !error "Pass the setup helper with -DHELPER=<path to setuphelper.exe>"
!endif
!ifndef OUTFILE
  !define OUTFILE "Vaultmere-setup.exe"
!endif
; With -DSIGN_SCRIPT=<scripts/sign.sh> the setup and its uninstaller are
; signed as they are written; the script takes the certificate from the
; environment.
!ifdef SIGN_SCRIPT
  !finalize 'bash "${SIGN_SCRIPT}" "%1"' = 0
  !uninstfinalize 'bash "${SIGN_SCRIPT}" "%1"' = 0
!endif

; One version for the program and the setup: the program's own version record.
!searchparse /file "../app/Version.h" `#define VAULTMERE_VERSION_TEXT "` VERSION `"`
!searchparse /file "../app/Version.h" `#define VAULTMERE_COPYRIGHT "` COPYRIGHT `"`

!define PRODUCT "Vaultmere"
!define PUBLISHER "Brackwater Software"
!define PROGRAM_FILE "brwaddon.exe"
!define UNINSTALLER_FILE "uninstall.exe"
!define GUARD_FILE "VaultmereGuard.exe"
!define CLI_FILE "vaultmere.exe"
!define GUARD_SERVICE "VaultmereGuard"
!define GUARD_DISPLAY_NAME "Vaultmere Guard"
!define GUARD_DESCRIPTION "Keeps the folders chosen in ${PRODUCT} locked for every user of this computer and checks the password before any of them is unlocked."
; The helper's service commands exit with the Win32 error of the step that failed.
!define ERROR_SERVICE_DOES_NOT_EXIST 1060
!define ERROR_SERVICE_MARKED_FOR_DELETE 1072
!define MARKED_FOR_DELETE_TEXT "The ${GUARD_DISPLAY_NAME} service is being removed, but another program still has it open (the Services window, say), so Windows keeps it until that program is closed or Windows restarts."
!define HELD_FILE_TEXT "A program file in $INSTDIR is held open by another program and cannot be replaced. Close that program (or restart Windows) and run Setup again."
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define TASK_NAME "${PRODUCT}"
!define TASK_FILE "vaultmere-task.xml" ; kept in the install folder
!define SCHTASKS '"$SYSDIR\schtasks.exe"'
; The Windows Installer package's UpgradeCode (installer/msi/vaultmere.wxs).
!define PACKAGE_UPGRADE_CODE "{E683B94D-0FC3-4884-8D96-10E05081D214}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define STORE_KEY "SOFTWARE\Brackwater\Addon"
!define STORE_PARENT_KEY "SOFTWARE\Brackwater"
; The guard's entries in the Application event log take their texts from its program file.
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${GUARD_SERVICE}"
; "Lock with Vaultmere" on every folder in Explorer: the program locks the
; folder after asking for the password.
!define FOLDER_VERB_KEY "SOFTWARE\Classes\Directory\shell\Vaultmere"
!define HELPER_FILE "setuphelper.exe" ; run from $PLUGINSDIR only

Var OldInstallFolder ; where an earlier version was installed, if elsewhere
Var TaskRegistered ; "yes" once the logon task is registered
Var GuardFound ; the helper's answer when asked to stop the service: 0 when it was there

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"

!define MUI_ICON "../app/brwaddon.ico"
!define MUI_UNICON "../app/brwaddon.ico"
!define MUI_ABORTWARNING

!define MUI_DIRECTORYPAGE_TEXT_TOP "${PRODUCT} is installed in Program Files, where only administrators can change it: its service runs with the system's rights."
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been installed: its service keeps the chosen folders locked from startup, and the program starts at every logon. It runs hidden: to open its configuration, choose ${PRODUCT} in the Start menu while it runs."
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "${PRODUCT} and its service will be ended and removed. Folders it keeps locked are unlocked."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COPYRIGHT}"

; The helper, extracted to this run's own folder, which only this account
; and administrators can write.
!macro DEFINE_HELPER un
Function ${un}ExtractHelper
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=${HELPER_FILE}" "${HELPER}"
FunctionEnd

; Ends every running copy of the program, in every session and of every
; user, found by its program file's path: "$INSTDIR\${PROGRAM_FILE}" and
; the one of $0 when it is not empty (the folder of an earlier install).
; Their locks end with them. Pushes "none", "ended" or "failed" (a copy runs
; that could not be ended).
Function ${un}EndProgramCopies
  Push $1
  Call ${un}ExtractHelper
  ${If} $0 == ""
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" end "$INSTDIR\${PROGRAM_FILE}"'
  ${Else}
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" end "$INSTDIR\${PROGRAM_FILE}" "$0\${PROGRAM_FILE}"'
  ${EndIf}
  Pop $1
  ${If} $1 == 0
    StrCpy $1 "none"
  ${ElseIf} $1 == 1
    StrCpy $1 "ended"
  ${Else}
    StrCpy $1 "failed"
  ${EndIf}
  Exch $1
FunctionEnd
!macroend
!insertmacro DEFINE_HELPER ""
!insertmacro DEFINE_HELPER "un."

; Deletes the program files an update renamed aside (brwaddon.exe.1.old,
; ...) in folder $0 that nothing holds any more; the others go at the next
; restart.
!macro DEFINE_DELETE_ASIDE un
Function ${un}DeleteAsideFiles
  Push $1
  Push $2
  FindFirst $1 $2 "$0\*.old"
  ${DoWhile} $2 != ""
    Delete /REBOOTOK "$0\$2"
    FindNext $1 $2
  ${Loop}
  FindClose $1
  Pop $2
  Pop $1
FunctionEnd
!macroend
!insertmacro DEFINE_DELETE_ASIDE ""
!insertmacro DEFINE_DELETE_ASIDE "un."

!macro REQUIRE_ADMIN
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed for every user of this computer: run this as an administrator." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro REQUIRE_ADMIN
  ; The Windows Installer package keeps its own record of what it installed:
  ; setup never installs over it.
  System::Call 'msi::MsiEnumRelatedProductsW(w "${PACKAGE_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
  ${If} $0 == 0
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} was installed from its Windows Installer package. Update it with a newer package, or uninstall it under Apps first." /SD IDOK
    SetErrorLevel 1638 ; ERROR_PRODUCT_VERSION: another version of this product is installed
    Quit
  ${EndIf}
  ; An update goes where the earlier version is, unless that lies outside
  ; Program Files: then it moves to Program Files.
  ReadRegStr $OldInstallFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $OldInstallFolder != ""
  ${AndIf} $INSTDIR == $OldInstallFolder
    Push $OldInstallFolder
    Call FolderPlace
    Pop $0
    ${If} $0 != "inside"
      StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro REQUIRE_ADMIN
FunctionEnd

; $INSTDIR as a full path: no "..", "." or "/" left in it.
Function NormalizeInstallFolder
  Push $0
  Push $1
  System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r0, p 0) i .r1'
  ${If} $1 > 0
  ${AndIf} $1 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $0
  ${EndIf}
  ; No trailing backslash.
  StrCpy $1 $INSTDIR 1 -1
  ${If} $1 == "\"
    StrCpy $INSTDIR $INSTDIR -1
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Pushes "inside" when $0 is a folder below Program Files (either view),
; where only administrators can create or change anything, else "outside".
!macro INSIDE_WHEN_UNDER folder
  StrLen $2 "${folder}\"
  StrCpy $3 "$0\" $2
  StrCpy $4 "$0\" "" $2
  ${If} $3 == "${folder}\" ; compares without case
  ${AndIf} $4 != ""
    StrCpy $1 "inside"
  ${EndIf}
!macroend
Function FolderPlace
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $1 "outside"
  !insertmacro INSIDE_WHEN_UNDER "$PROGRAMFILES"
  !insertmacro INSIDE_WHEN_UNDER "$PROGRAMFILES64"
  StrCpy $0 $1
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!define REFUSED_FOLDER_TEXT "${PRODUCT}'s service runs with the system's rights, so it is installed only in a folder of Program Files, which no other user can change. Choose a folder in $PROGRAMFILES."

Function DirectoryPageLeave
  Call NormalizeInstallFolder
  Push $INSTDIR
  Call FolderPlace
  Pop $0
  ${If} $0 != "inside"
    MessageBox MB_OK|MB_ICONEXCLAMATION "${REFUSED_FOLDER_TEXT}"
    Abort
  ${EndIf}
FunctionEnd

; Moves "$INSTDIR\$0" out of the way of the new file: renamed aside, and
; deleted now or, while something holds it, at the next restart. A running
; program allows that; a file held without delete sharing does not. Pushes
; the name it was renamed to, "" when there was no file, or "failed".
Function MoveAside
  Exch $0
  Push $1
  Push $2
  ${IfNot} ${FileExists} "$INSTDIR\$0"
    StrCpy $2 ""
  ${Else}
    StrCpy $2 "failed"
    ${For} $1 1 20
      ${IfNot} ${FileExists} "$INSTDIR\$0.$1.old"
        ClearErrors
        Rename "$INSTDIR\$0" "$INSTDIR\$0.$1.old"
        ${IfNot} ${Errors}
          StrCpy $2 "$0.$1.old"
        ${EndIf}
        ${Break}
      ${EndIf}
    ${Next}
  ${EndIf}
  StrCpy $0 $2
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; One start at logon: the task (registered by the helper, as the package
; does, its definition kept in $INSTDIR), or the Run entry only when the task
; cannot be registered. Registering removes the entry an earlier version wrote.
Function RegisterLogonStart
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" task-register "$INSTDIR\${PROGRAM_FILE}" "${TASK_NAME}"'
  Pop $0
  ${If} $0 == 0
    StrCpy $TaskRegistered "yes"
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  ${Else}
    WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM_FILE}"'
    DetailPrint "The logon task could not be registered ($0): ${PRODUCT} starts through the Run entry."
    MessageBox MB_OK|MB_ICONEXCLAMATION "The Task Scheduler did not take the task that starts ${PRODUCT} at logon ($0), so it is started through the registry's Run entry instead." /SD IDOK
  ${EndIf}
FunctionEnd

; Stops the guard service, if there is one, and waits until its process has
; ended, so that its program file can be replaced. The guard hands its locks
; to a holder as it stops, and the guard started after the update takes
; them: the folders stay locked all through. Sets $GuardFound to the
; helper's answer; stops setup, having changed nothing, when the service is
; marked for deletion or does not stop.
Function StopGuard
  Call ExtractHelper
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-handover "${GUARD_SERVICE}"'
  Pop $GuardFound
  ${If} $GuardFound == ${ERROR_SERVICE_MARKED_FOR_DELETE}
    DetailPrint "${MARKED_FOR_DELETE_TEXT}"
    MessageBox MB_OK|MB_ICONSTOP "${MARKED_FOR_DELETE_TEXT} Close that program (or restart Windows) and run Setup again." /SD IDOK
    SetErrorLevel 2
    Abort "The ${GUARD_DISPLAY_NAME} service is marked for deletion."
  ${ElseIf} $GuardFound != 0
  ${AndIf} $GuardFound != ${ERROR_SERVICE_DOES_NOT_EXIST}
    ; A stop that tried to end the process took the restart actions away.
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-recover "${GUARD_SERVICE}"'
    Pop $0
    MessageBox MB_OK|MB_ICONSTOP "The ${GUARD_DISPLAY_NAME} service could not be stopped (error $GuardFound). Restart Windows and run Setup again." /SD IDOK
    SetErrorLevel 2
    Abort "The ${GUARD_DISPLAY_NAME} service could not be stopped."
  ${EndIf}
FunctionEnd

; Setup stops without changing anything: the guard it stopped runs again,
; so the folders stay locked, with its restart actions, which a stop that
; had to end its process took away.
Function RestartStoppedGuard
  ${If} $GuardFound == 0
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-recover "${GUARD_SERVICE}"'
    Pop $0
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-start "${GUARD_SERVICE}"'
    Pop $0
  ${EndIf}
FunctionEnd

; Registers the guard service (or gives the one there the same
; configuration) and starts it. A service that cannot be registered or
; started is said plainly and makes setup exit with code 2.
Function RegisterGuard
  Call ExtractHelper
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-register "${GUARD_SERVICE}" "${GUARD_DISPLAY_NAME}" "${GUARD_DESCRIPTION}" "$INSTDIR\${GUARD_FILE}"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The ${GUARD_DISPLAY_NAME} service could not be registered (error $0)."
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed, but its service, ${GUARD_DISPLAY_NAME}, could not be registered (error $0), so the folders are locked only while ${PRODUCT} runs for a signed-in user. Run Setup again." /SD IDOK
    SetErrorLevel 2
    Return
  ${EndIf}
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-start "${GUARD_SERVICE}"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The ${GUARD_DISPLAY_NAME} service could not be started (error $0)."
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed, but its service, ${GUARD_DISPLAY_NAME}, could not be started (error $0). Windows tries again at the next restart." /SD IDOK
    SetErrorLevel 2
    Return
  ${EndIf}
  DetailPrint "The ${GUARD_DISPLAY_NAME} service runs."
FunctionEnd

; Gives the stored list's key (made when missing) and every key below it
; the descriptor that lets only the system and administrators read or
; change it. A key that cannot be given it is said plainly and makes setup
; exit with code 2; the guard tries again whenever it starts.
Function ProtectStore
  Call ExtractHelper
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" store-protect'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The stored list's registry key could not be protected (error $0)."
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is installed, but its stored list and password in HKEY_LOCAL_MACHINE\${STORE_KEY} could not be closed to other users (error $0), so they may still read the password. Run Setup again." /SD IDOK
    SetErrorLevel 2
  ${EndIf}
FunctionEnd

; Puts a program file renamed aside by MoveAside back, after another could
; not be moved.
!macro PUT_BACK aside file
  ${If} ${aside} != "failed"
  ${AndIf} ${aside} != ""
    Rename "$INSTDIR\${aside}" "$INSTDIR\${file}"
  ${EndIf}
!macroend

Section "${PRODUCT}" SectionProgram
  SectionIn RO

  ; Pages do not run when silent: the folder is checked again before
  ; anything is written.
  Call NormalizeInstallFolder
  Push $INSTDIR
  Call FolderPlace
  Pop $0
  ${If} $0 != "inside"
    MessageBox MB_OK|MB_ICONSTOP "${REFUSED_FOLDER_TEXT}" /SD IDOK
    SetErrorLevel 2
    Abort "$INSTDIR is not in Program Files."
  ${EndIf}
  ${If} $OldInstallFolder == $INSTDIR
    StrCpy $OldInstallFolder ""
  ${EndIf}

  ; A program file another program holds stops setup before anything is
  ; stopped or ended: the guard keeps running.
  Call ExtractHelper
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" replaceable "$INSTDIR\${PROGRAM_FILE}" "$INSTDIR\${GUARD_FILE}" "$INSTDIR\${CLI_FILE}" "$INSTDIR\${UNINSTALLER_FILE}"'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "${HELD_FILE_TEXT}" /SD IDOK
    SetErrorLevel 2
    Abort "A program file in $INSTDIR could not be replaced."
  ${EndIf}

  ; The program file of a running copy is replaced all the same, but the
  ; copy would keep running the old version.
  ${If} $OldInstallFolder == ""
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" running "$INSTDIR\${PROGRAM_FILE}"'
  ${Else}
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" running "$INSTDIR\${PROGRAM_FILE}" "$OldInstallFolder\${PROGRAM_FILE}"'
  ${EndIf}
  Pop $0
  ${If} $0 == 1
  ${AndIf} ${Cmd} `MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${PRODUCT} is running and is ended for the update, for every user of this computer. The folders it locks stay unlocked until it starts again." /SD IDOK IDCANCEL`
    Abort "Setup was cancelled while ${PRODUCT} was running."
  ${EndIf}
  Call StopGuard
  StrCpy $0 $OldInstallFolder
  Call EndProgramCopies
  Pop $R0
  ${If} $R0 == "failed"
    Call RestartStoppedGuard
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is running and could not be ended. End it (or restart Windows) and run Setup again." /SD IDOK
    SetErrorLevel 2
    Abort "${PRODUCT} could not be ended."
  ${EndIf}

  ; Every program file is replaced or setup says so and stops, keeping the
  ; version it found.
  Push "${PROGRAM_FILE}"
  Call MoveAside
  Pop $R2
  Push "${GUARD_FILE}"
  Call MoveAside
  Pop $R4
  Push "${CLI_FILE}"
  Call MoveAside
  Pop $R5
  Push "${UNINSTALLER_FILE}"
  Call MoveAside
  Pop $R3
  ${If} $R2 == "failed"
  ${OrIf} $R3 == "failed"
  ${OrIf} $R4 == "failed"
  ${OrIf} $R5 == "failed"
    !insertmacro PUT_BACK $R2 "${PROGRAM_FILE}"
    !insertmacro PUT_BACK $R4 "${GUARD_FILE}"
    !insertmacro PUT_BACK $R5 "${CLI_FILE}"
    !insertmacro PUT_BACK $R3 "${UNINSTALLER_FILE}"
    Call RestartStoppedGuard
    MessageBox MB_OK|MB_ICONSTOP "${HELD_FILE_TEXT}" /SD IDOK
    SetErrorLevel 2
    Abort "A program file in $INSTDIR could not be replaced."
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=${PROGRAM_FILE}" "${EXE}"
  File "/oname=${GUARD_FILE}" "${GUARD}"
  File "/oname=${CLI_FILE}" "${CLI}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_FILE}"
  ; The files renamed aside go now, or at the next restart while held; no
  ; restart is needed for the new version.
  StrCpy $0 $INSTDIR
  Call DeleteAsideFiles
  SetRebootFlag false

  ; An earlier install elsewhere (outside Program Files) is moved here.
  ${If} $OldInstallFolder != ""
    Delete /REBOOTOK "$OldInstallFolder\${PROGRAM_FILE}"
    Delete /REBOOTOK "$OldInstallFolder\${GUARD_FILE}"
    Delete /REBOOTOK "$OldInstallFolder\${CLI_FILE}"
    Delete /REBOOTOK "$OldInstallFolder\${UNINSTALLER_FILE}"
    Delete "$OldInstallFolder\${TASK_FILE}"
    StrCpy $0 $OldInstallFolder
    Call DeleteAsideFiles
    RMDir /REBOOTOK "$OldInstallFolder"
    SetRebootFlag false
  ${EndIf}

  ; A start while the program runs opens its password prompt and configuration.
  ; The entry's working folder is $OUTDIR: the profile of whoever starts it,
  ; which the shell expands at each start, so the add dialog opens there.
  Push $OUTDIR
  StrCpy $OUTDIR "%USERPROFILE%"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" "$INSTDIR\${PROGRAM_FILE}" 0 \
    SW_SHOWNORMAL "" "Open the ${PRODUCT} configuration"
  Pop $OUTDIR
  Call RegisterLogonStart

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${PROGRAM_FILE}",0'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_FILE}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_FILE}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  WriteRegStr HKLM "${FOLDER_VERB_KEY}" "" "Lock with ${PRODUCT}"
  WriteRegStr HKLM "${FOLDER_VERB_KEY}" "Icon" '"$INSTDIR\${PROGRAM_FILE}",0'
  WriteRegStr HKLM "${FOLDER_VERB_KEY}\command" "" '"$INSTDIR\${PROGRAM_FILE}" --lock "%1"'

  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\${GUARD_FILE}"
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

  ; The stored list and password only for the system and administrators,
  ; on a key an earlier version left as on a new one.
  Call ProtectStore

  ; The stored folders are locked from here on, whoever signs in.
  Call RegisterGuard

  ; An update ended the running copy: a silent one starts the new program at
  ; once, so the folders are not left unlocked until the next logon.
  ${If} ${Silent}
  ${AndIf} $R0 == "ended"
    Call StartProgram
  ${EndIf}
SectionEnd

; Starts the program for the user signed in where setup runs, with that
; user's own rights and never with setup's: an administrator may have run
; setup for another user. Run as the system account (by a deployment tool)
; it starts nothing; the logon task starts the program at the next logon.
Function StartProgram
  Call ExtractHelper
  ${If} $TaskRegistered == "yes"
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" start "$INSTDIR\${PROGRAM_FILE}" "${TASK_NAME}"'
  ${Else}
    nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" start "$INSTDIR\${PROGRAM_FILE}"'
  ${EndIf}
  Pop $0
  ${If} $0 == 1
    DetailPrint "No user is signed in here: ${PRODUCT} starts at the next logon."
  ${ElseIf} $0 != 0
    DetailPrint "${PRODUCT} could not be started ($0): it starts at the next logon."
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $0 ""
  Call un.EndProgramCopies
  Pop $R0
  ${If} $R0 == "failed"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is running and could not be ended. End it (or restart Windows) and run the uninstaller again." /SD IDOK
    SetErrorLevel 2
    Abort "${PRODUCT} could not be ended."
  ${EndIf}

  ; The service is stopped, its process ended, and deleted before its file.
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" service-remove "${GUARD_SERVICE}"'
  Pop $R1
  ${If} $R1 == ${ERROR_SERVICE_MARKED_FOR_DELETE}
    DetailPrint "${MARKED_FOR_DELETE_TEXT}"
    MessageBox MB_OK|MB_ICONEXCLAMATION "The ${GUARD_DISPLAY_NAME} service is stopped. ${MARKED_FOR_DELETE_TEXT}" /SD IDOK
  ${ElseIf} $R1 != 0
  ${AndIf} $R1 != ${ERROR_SERVICE_DOES_NOT_EXIST}
    MessageBox MB_OK|MB_ICONSTOP "The ${GUARD_DISPLAY_NAME} service could not be stopped and removed (error $R1). Restart Windows and run the uninstaller again." /SD IDOK
    SetErrorLevel 2
    Abort "The ${GUARD_DISPLAY_NAME} service could not be removed."
  ${EndIf}

  ; A holder an update left (its guard never came back) ends with the
  ; guard; whatever still holds a program file goes at the next restart.
  nsExec::Exec '"$PLUGINSDIR\${HELPER_FILE}" end "$INSTDIR\VaultmereHold.exe"'
  Pop $0
  Delete /REBOOTOK "$INSTDIR\${PROGRAM_FILE}"
  Delete /REBOOTOK "$INSTDIR\${GUARD_FILE}"
  Delete /REBOOTOK "$INSTDIR\${CLI_FILE}"
  Delete /REBOOTOK "$INSTDIR\VaultmereHold.exe"
  Delete "$INSTDIR\${UNINSTALLER_FILE}"
  StrCpy $0 $INSTDIR
  Call un.DeleteAsideFiles
  nsExec::ExecToLog '${SCHTASKS} /Delete /F /TN "${TASK_NAME}"'
  Pop $0
  Delete "$INSTDIR\${TASK_FILE}"
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  DeleteRegKey HKLM "${FOLDER_VERB_KEY}"

  ; The stored list and password stay unless the user or /REMOVESETTINGS says otherwise.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
  ${OrIf} ${Cmd} `MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON1 "Keep the list of locked folders and the password, for when ${PRODUCT} is installed again?" /SD IDYES IDNO`
    DeleteRegKey HKLM "${STORE_KEY}"
    DeleteRegKey /ifempty HKLM "${STORE_PARENT_KEY}"
  ${EndIf}

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Done, but the service goes only once nothing has it open, at the
  ; latest at the next restart (ERROR_SUCCESS_REBOOT_REQUIRED).
  ${If} $R1 == ${ERROR_SERVICE_MARKED_FOR_DELETE}
    SetErrorLevel 3010
  ${EndIf}
SectionEnd
