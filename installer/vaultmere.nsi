; Vaultmere setup: installs brwaddon.exe per machine, starts it at logon, and
; registers an uninstaller. Built by the `installer` CMake target:
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

; One version for the program and the setup: the program's own version record.
!searchparse /file "../app/Version.h" `#define VAULTMERE_VERSION_TEXT "` VERSION `"`
!searchparse /file "../app/Version.h" `#define VAULTMERE_COPYRIGHT "` COPYRIGHT `"`

!define PRODUCT "Vaultmere"
!define PUBLISHER "Brackwater Software"
!define PROGRAM_FILE "brwaddon.exe"
!define UNINSTALLER_FILE "uninstall.exe"
!define RESIDENT_TITLE "Vaultmere " ; the running copy's hidden window
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
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

  SetOutPath "$INSTDIR"
  File "/oname=${PROGRAM_FILE}" "${EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_FILE}"

  ; A start while the program runs opens its password prompt and configuration.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" "$INSTDIR\${PROGRAM_FILE}" 0 \
    SW_SHOWNORMAL "" "Open the ${PRODUCT} configuration"
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM_FILE}"'

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
