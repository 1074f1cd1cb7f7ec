; Tidewell-setup.exe: installs tidewell.exe for the current user, without administrator rights.
;   makensis -DEXE=build/tidewell.exe -DOUT=Tidewell-setup.exe -DVERSION=2.1.1 tidewell.nsi
; Silent: Tidewell-setup.exe /S [/D=folder], and uninstall.exe /S (keeps Tidewell.ini).
; A 64-bit installer for a 64-bit program (and Wine without its 32-bit half runs it).
Target amd64-unicode
!include "WinMessages.nsh"
!ifndef EXE | OUT | VERSION
  !error "define EXE, OUT and VERSION"
!endif
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell"

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
Page instfiles
UninstPage components
UninstPage instfiles

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
SectionEnd

Section "un.Tidewell"
  SectionIn RO
  !insertmacro CloseRunning
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
