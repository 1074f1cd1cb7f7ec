; Tidewell-setup.exe: installs tidewell.exe for the current user, without administrator rights.
;   makensis -DEXE=build/tidewell.exe -DOUT=Tidewell-setup.exe -DVERSION=2.1.1 tidewell.nsi
; Silent: Tidewell-setup.exe /S [/ELEVATEDTASK] [/D=folder], and uninstall.exe /S (keeps
; Tidewell.ini). /ELEVATEDTASK ticks the log-on task's box (below); without it a silent install
; leaves a task made before as it is.
; A 64-bit installer for a 64-bit program (and Wine without its 32-bit half runs it).
Target amd64-unicode
!include "WinMessages.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "nsDialogs.nsh"
!include "StrFunc.nsh"
${Using:StrFunc} StrRep
!ifndef EXE | OUT | VERSION
  !error "define EXE, OUT and VERSION"
!endif
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell"
!define TASK_OPTION "Set the PC clock from log-on (asks for administrator rights once)"

Name "Tidewell"
OutFile "${OUT}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Tidewell"
; makensis works in this folder.
Icon "../../src/app/win32/tidewell.ico"
UninstallIcon "../../src/app/win32/tidewell.ico"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Tidewell"
VIAddVersionKey "FileDescription" "Tidewell setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Tidewell authors"

Page directory
Page custom TaskPage TaskPageLeave
Page instfiles
UninstPage components
UninstPage instfiles

; 1: make the log-on task; 0: none (one made before goes); empty: leave it as it is.
Var TaskChoice
; The executable a task made by this installer starts (in the Apps entry's key); empty: none.
Var TaskMade
Var TaskBox

; A running copy holds its executable: ask it to close, as the close box would (nothing saved).
!macro CloseRunning
  FindWindow $0 "TidewellWindow"
  StrCmp $0 0 +2
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
  FindWindow $0 "TidewellHeadless"
  StrCmp $0 0 +2
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
  Sleep 500
!macroend

; Runs $SYSDIR\schtasks.exe with the arguments $R1 through the "runas" verb, so Windows asks
; for administrator rights (this installer has none), and waits for it. $R2: its exit code, or
; "not started (error N)" when it did not start (the user said no). ExecShellWait cannot tell
; its exit code, hence ShellExecuteExW itself: SHELLEXECUTEINFOW, laid out for 64 bits.
!macro ElevatedSchtasks un
Function ${un}ElevatedSchtasks
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $R0 "$SYSDIR\schtasks.exe"
  ; cbSize, SEE_MASK_NOCLOSEPROCESS|SEE_MASK_NOASYNC, window, verb, file, arguments, folder,
  ; SW_HIDE and padding, then the fields Windows fills, hProcess last.
  System::Call '*(i 112, i 0x140, p $HWNDPARENT, w "runas", w R0, w R1, p 0, i 0, i 0, p 0, p 0, p 0, p 0, i 0, i 0, p 0, p 0) p .r0'
  System::Call 'shell32::ShellExecuteExW(p r0) i .r1 ?e'
  Pop $3
  ${If} $1 == 0
    StrCpy $R2 "not started (error $3)"
  ${Else}
    System::Call '*$0(i, i, p, p, p, p, p, i, i, p, p, p, p, i, i, p, p .r2)'
    System::Call 'kernel32::WaitForSingleObject(p r2, i -1)'
    System::Call 'kernel32::GetExitCodeProcess(p r2, *i .r1)'
    System::Call 'kernel32::CloseHandle(p r2)'
    StrCpy $R2 $1
  ${EndIf}
  System::Free $0
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro ElevatedSchtasks ""
!insertmacro ElevatedSchtasks "un."

Function .onInit
  ReadRegStr $TaskMade HKCU "${UNINSTALL_KEY}" "ElevatedTask"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ELEVATEDTASK" $1
  ${IfNot} ${Errors}
    StrCpy $TaskChoice 1
  ${ElseIf} ${Silent}
    StrCpy $TaskChoice ""
  ${ElseIf} $TaskMade != ""
    StrCpy $TaskChoice 1
  ${Else}
    StrCpy $TaskChoice 0
  ${EndIf}
FunctionEnd

Function TaskPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 40u "Tidewell sets the PC clock only when it runs with administrator rights, which Windows never gives a program that its $\"Auto-run at Windows Startup$\" box starts. Task Scheduler can start it with them at every log-on instead, in place of that box (turned off, so that one copy runs). Windows asks for administrator rights once, now, to set this up."
  Pop $0
  ${NSD_CreateCheckBox} 0 48u 100% 12u "${TASK_OPTION}"
  Pop $TaskBox
  ${If} $TaskChoice == 1
    ${NSD_Check} $TaskBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function TaskPageLeave
  ${NSD_GetState} $TaskBox $TaskChoice
FunctionEnd

Function XmlText  ; the top of the stack, escaped for XML text
  Exch $0
  ${StrRep} $0 $0 "&" "&amp;"
  ${StrRep} $0 $0 "<" "&lt;"
  ${StrRep} $0 $0 ">" "&gt;"
  Exch $0
FunctionEnd

; The task: at this user's log-on, tidewell.exe with the user's highest rights, in the user's
; session. Not schtasks /SC ONLOGON, whose task Task Scheduler stops after three days, never
; starts on battery power and runs at below-normal priority.
Function MakeTask
  ReadEnvStr $0 USERNAME
  ReadEnvStr $1 USERDOMAIN
  StrCmp $1 "" +2
  StrCpy $0 "$1\$0"
  Push $0
  Call XmlText
  Pop $0
  Push "$INSTDIR\tidewell.exe"
  Call XmlText
  Pop $1
  InitPluginsDir
  FileOpen $2 "$PLUGINSDIR\task.xml" w
  FileWriteUTF16LE /BOM $2 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $2 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $2 '  <RegistrationInfo><Description>Starts Tidewell with administrator rights at log-on, so that it can set the PC clock. Tidewell$\'s uninstaller removes it.</Description></RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $2 '  <Triggers><LogonTrigger><UserId>$0</UserId></LogonTrigger></Triggers>$\r$\n'
  FileWriteUTF16LE $2 '  <Principals><Principal id="User"><UserId>$0</UserId><LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel></Principal></Principals>$\r$\n'
  FileWriteUTF16LE $2 '  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy><DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Priority>5</Priority></Settings>$\r$\n'
  FileWriteUTF16LE $2 '  <Actions Context="User"><Exec><Command>$1</Command></Exec></Actions>$\r$\n'
  FileWriteUTF16LE $2 '</Task>$\r$\n'
  FileClose $2
  StrCpy $R1 '/Create /TN Tidewell /XML "$PLUGINSDIR\task.xml" /F'
  Call ElevatedSchtasks
  ${If} $R2 == 0
    StrCpy $TaskMade "$INSTDIR\tidewell.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "ElevatedTask" $TaskMade
    ; One copy at log-on: the task's. The program writes the Run value again at every start
    ; while its AutoStart setting is on, so that goes off too.
    DeleteRegValue HKCU "${RUN_KEY}" "Tidewell"
    WriteINIStr "$INSTDIR\Tidewell.ini" "GPS" "AutoStart" " 0"
    DetailPrint "Task Scheduler starts Tidewell with administrator rights at log-on."
  ${Else}
    MessageBox MB_OK|MB_ICONEXCLAMATION "The log-on task was not made: schtasks $R2. Tidewell is installed; auto-run is as it was." /SD IDOK
    SetErrorLevel 1
  ${EndIf}
FunctionEnd

!macro RemoveTask un
Function ${un}RemoveTask
  StrCpy $R1 "/Delete /TN Tidewell /F"
  Call ${un}ElevatedSchtasks
  ${If} $R2 == 0
    StrCpy $TaskMade ""
    DeleteRegValue HKCU "${UNINSTALL_KEY}" "ElevatedTask"
  ${Else}
    MessageBox MB_OK|MB_ICONEXCLAMATION "The log-on task Tidewell was not removed: schtasks $R2. From a Command Prompt run as administrator: schtasks /Delete /TN Tidewell" /SD IDOK
    SetErrorLevel 1
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RemoveTask ""
!insertmacro RemoveTask "un."

Section "Tidewell"
  !insertmacro CloseRunning
  SetOutPath "$INSTDIR"
  File "/oname=tidewell.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Tidewell.lnk" "$INSTDIR\tidewell.exe" "" "$INSTDIR\tidewell.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tidewell"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tidewell.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} $TaskChoice == 1
    Call MakeTask
  ${ElseIf} $TaskChoice == 0
  ${AndIf} $TaskMade != ""
    Call RemoveTask
  ${EndIf}
SectionEnd

Section "un.Tidewell"
  SectionIn RO
  !insertmacro CloseRunning
  ReadRegStr $TaskMade HKCU "${UNINSTALL_KEY}" "ElevatedTask"
  ${If} $TaskMade != ""
    Call un.RemoveTask
  ${EndIf}
  DeleteRegValue HKCU "${RUN_KEY}" "Tidewell"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\Tidewell.lnk"
  Delete "$INSTDIR\tidewell.exe"
  Delete "$INSTDIR\uninstall.exe"  ; last: a caller waits for it to go
  RMDir "$INSTDIR"  ; stays while the settings do
SectionEnd

Section /o "un.Settings (Tidewell.ini)"
  Delete "$INSTDIR\Tidewell.ini"
  RMDir "$INSTDIR"
SectionEnd
