; Vaultmere setup: installs brwaddon.exe per machine, starts it at every logon
; through a Task Scheduler task, and registers an uninstaller. Built by the
; `installer` CMake target:
;   makensis -DEXE=<brwaddon.exe> -DOUTFILE=<setup.exe> installer/vaultmere.nsi
; Silent use: setup.exe /S [/D=<folder>]; uninstall.exe /S [/REMOVESETTINGS].
;
; Both the setup and the program are 32-bit, so on 64-bit Windows every
; registry key below lies in the same 32-bit view the program itself reads.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef EXE
  !error "Pass the program with -DEXE=<path to brwaddon.exe>"
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
!define RESIDENT_TITLE "Vaultmere " ; the running copy's hidden window
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define TASK_NAME "${PRODUCT}"
!define TASK_FILE "vaultmere-task.xml" ; kept in the install folder
!define SCHTASKS '"$SYSDIR\schtasks.exe"'
; What Program Files gives: SYSTEM and Administrators full control, Users
; read and execute; nothing inherited from the folder above.
!define FOLDER_SDDL "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
!define SE_FILE_OBJECT 1
!define PROTECTED_DACL 0x80000004 ; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define STORE_KEY "SOFTWARE\Brackwater\Addon"
!define STORE_PARENT_KEY "SOFTWARE\Brackwater"
!define PROCESS_TERMINATE 0x0001
!define SYNCHRONIZE 0x00100000

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

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been installed and starts at every logon. It runs hidden: to open its configuration, choose ${PRODUCT} in the Start menu while it runs."
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "${PRODUCT} will be ended and removed. Folders it keeps locked are unlocked."
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

; Ends the running copy of the program, found by its window title. Its window
; ignores WM_CLOSE, so the process is terminated; its locks end with it. A
; relaunch may just be starting another copy, so a few rounds are tried.
; Pushes "none", "ended" or "failed" (a copy runs that could not be ended).
!macro DEFINE_END_RESIDENT_COPY un
Function ${un}EndResidentCopy
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 "none"
  ${For} $3 1 10
    System::Call 'user32::FindWindowW(p 0, w "${RESIDENT_TITLE}") p .r0'
    ${If} $0 P= 0
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i ${PROCESS_TERMINATE}|${SYNCHRONIZE}, i 0, i r1) p .r2'
    ${If} $2 P= 0
      StrCpy $4 "failed"
      ${Break}
    ${EndIf}
    System::Call 'kernel32::TerminateProcess(p r2, i 1)'
    System::Call 'kernel32::WaitForSingleObject(p r2, i 10000)'
    System::Call 'kernel32::CloseHandle(p r2)'
    StrCpy $4 "ended"
  ${Next}
  System::Call 'user32::FindWindowW(p 0, w "${RESIDENT_TITLE}") p .r0'
  ${If} $0 P<> 0
    StrCpy $4 "failed"
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro DEFINE_END_RESIDENT_COPY ""
!insertmacro DEFINE_END_RESIDENT_COPY "un."

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
FunctionEnd

Function un.onInit
  !insertmacro REQUIRE_ADMIN
FunctionEnd

; Pushes "inside" when $INSTDIR lies in Program Files, where the folder
; inherits the permissions it needs, else "outside".
!macro INSIDE_WHEN_INSTDIR_UNDER folder
  StrLen $1 "${folder}\"
  StrCpy $2 "$INSTDIR\" $1
  ${If} $2 == "${folder}\" ; compares without case
    StrCpy $0 "inside"
  ${EndIf}
!macroend
Function InstallFolderPlace
  Push $0
  Push $1
  Push $2
  StrCpy $0 "outside"
  !insertmacro INSIDE_WHEN_INSTDIR_UNDER "$PROGRAMFILES"
  !insertmacro INSIDE_WHEN_INSTDIR_UNDER "$PROGRAMFILES64"
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Pushes "yes" when $INSTDIR holds something other than this program's files:
; its permissions are not ours to replace then.
Function InstallFolderHoldsOthers
  Push $0
  Push $1
  Push $2
  StrCpy $2 "no"
  FindFirst $0 $1 "$INSTDIR\*"
  ${DoWhile} $1 != ""
    ${If} $1 != "."
    ${AndIf} $1 != ".."
    ${AndIf} $1 != "${PROGRAM_FILE}"
    ${AndIf} $1 != "${UNINSTALLER_FILE}"
    ${AndIf} $1 != "${TASK_FILE}"
      StrCpy $2 "yes"
      ${Break}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
  StrCpy $0 $2
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Gives $INSTDIR the permissions of Program Files, so that no user can replace
; the program or put a DLL beside it. Pushes 1 on success, else 0.
Function SecureInstallFolder
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $0 0
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${FOLDER_SDDL}", i 1, *p .r1, p 0) i .r2'
  ${If} $2 <> 0
    System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r3, *i .r2) i .r2'
    ${If} $2 <> 0
      System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i ${SE_FILE_OBJECT}, i ${PROTECTED_DACL}, p 0, p 0, p r3, p 0) i .r2'
      ${If} $2 = 0
        StrCpy $0 1
      ${EndIf}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r1)'
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Writes the logon task's definition to $INSTDIR, UTF-16LE with a byte order
; mark as the Task Scheduler reads it. Any user's logon starts the program
; with the highest rights that user has, in parallel for several users, with
; no time limit, on batteries too, at normal priority.
Function WriteTaskFile
  Push $0
  Push $1
  ${WordReplace} "$INSTDIR" "&" "&amp;" "+" $1
  FileOpen $0 "$INSTDIR\${TASK_FILE}" w
  FileWriteUTF16LE /BOM $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '    <Author>${PUBLISHER}</Author>$\r$\n'
  FileWriteUTF16LE $0 '    <Description>Starts ${PRODUCT} at every logon.</Description>$\r$\n'
  FileWriteUTF16LE $0 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $0 '    <LogonTrigger>$\r$\n'
  FileWriteUTF16LE $0 '      <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '    </LogonTrigger>$\r$\n'
  FileWriteUTF16LE $0 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals>$\r$\n'
  FileWriteUTF16LE $0 '    <Principal id="Users">$\r$\n'
  FileWriteUTF16LE $0 '      <GroupId>S-1-5-32-545</GroupId>$\r$\n'
  FileWriteUTF16LE $0 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $0 '    </Principal>$\r$\n'
  FileWriteUTF16LE $0 '  </Principals>$\r$\n'
  FileWriteUTF16LE $0 '  <Settings>$\r$\n'
  FileWriteUTF16LE $0 '    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $0 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $0 '    <Priority>4</Priority>$\r$\n'
  FileWriteUTF16LE $0 '    <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '  </Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Users">$\r$\n'
  FileWriteUTF16LE $0 '    <Exec>$\r$\n'
  FileWriteUTF16LE $0 '      <Command>"$1\${PROGRAM_FILE}"</Command>$\r$\n'
  FileWriteUTF16LE $0 '      <WorkingDirectory>$1</WorkingDirectory>$\r$\n'
  FileWriteUTF16LE $0 '    </Exec>$\r$\n'
  FileWriteUTF16LE $0 '  </Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
  Pop $1
  Pop $0
FunctionEnd

; One start at logon: the task, or the Run entry only when the task cannot
; be registered. Registering removes the entry an earlier version wrote.
Function RegisterLogonStart
  Call WriteTaskFile
  nsExec::ExecToLog '${SCHTASKS} /Create /F /TN "${TASK_NAME}" /XML "$INSTDIR\${TASK_FILE}"'
  Pop $0
  ${If} $0 == 0
    DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  ${Else}
    WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM_FILE}"'
    DetailPrint "The logon task could not be registered ($0): ${PRODUCT} starts through the Run entry."
    MessageBox MB_OK|MB_ICONEXCLAMATION "The Task Scheduler did not take the task that starts ${PRODUCT} at logon ($0), so it is started through the registry's Run entry instead. Started that way it has no administrator rights, and changes to the list or the password cannot be saved." /SD IDOK
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SectionIn RO

  ; The program file cannot be replaced while a copy of it runs.
  System::Call 'user32::FindWindowW(p 0, w "${RESIDENT_TITLE}") p .r0'
  ${If} $0 P<> 0
  ${AndIf} ${Cmd} `MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${PRODUCT} is running and is ended for the update. The folders it locks stay unlocked until it starts again." /SD IDOK IDCANCEL`
    Abort "Setup was cancelled while ${PRODUCT} was running."
  ${EndIf}
  Call EndResidentCopy
  Pop $R0
  ${If} $R0 == "failed"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is running and could not be ended. End it and run Setup again." /SD IDOK
    Abort "${PRODUCT} could not be ended."
  ${EndIf}

  ; Outside Program Files the folder gets Program Files' permissions before
  ; the program goes in, so that no user can replace what runs elevated.
  Call InstallFolderPlace
  Pop $R1
  ${If} $R1 == "outside"
    Call InstallFolderHoldsOthers
    Pop $0
    ${If} $0 == "yes"
      MessageBox MB_OK|MB_ICONSTOP "$INSTDIR holds other files. Outside Program Files, ${PRODUCT} is installed only in a new or empty folder, because that folder is given the permissions of Program Files." /SD IDOK
      Abort "The install folder holds other files."
    ${EndIf}
  ${EndIf}
  SetOutPath "$INSTDIR"
  ${If} $R1 == "outside"
    Call SecureInstallFolder
    Pop $0
    ${If} $0 != 1
      MessageBox MB_OK|MB_ICONSTOP "The permissions of $INSTDIR could not be set. Choose a folder in Program Files." /SD IDOK
      Abort "The permissions of the install folder could not be set."
    ${EndIf}
  ${EndIf}
  File "/oname=${PROGRAM_FILE}" "${EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_FILE}"

  ; A start while the program runs opens its password prompt and configuration.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" "$INSTDIR\${PROGRAM_FILE}" 0 \
    SW_SHOWNORMAL "" "Open the ${PRODUCT} configuration"
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

  ; An update ended the running copy: a silent one starts the new program at
  ; once, so the folders are not left unlocked until the next logon.
  ${If} ${Silent}
  ${AndIf} $R0 == "ended"
    Call StartProgram
  ${EndIf}
SectionEnd

Function StartProgram
  System::Call 'user32::FindWindowW(p 0, w "${RESIDENT_TITLE}") p .r0'
  ${If} $0 P= 0
    Exec '"$INSTDIR\${PROGRAM_FILE}"'
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.EndResidentCopy
  Pop $R0
  ${If} $R0 == "failed"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is running and could not be ended. End it and run the uninstaller again." /SD IDOK
    SetErrorLevel 2
    Abort "${PRODUCT} could not be ended."
  ${EndIf}

  ; A copy running in another user's session still holds the program file:
  ; it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\${PROGRAM_FILE}"
  Delete "$INSTDIR\${UNINSTALLER_FILE}"
  nsExec::ExecToLog '${SCHTASKS} /Delete /F /TN "${TASK_NAME}"'
  Pop $0
  Delete "$INSTDIR\${TASK_FILE}"
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"

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
SectionEnd
