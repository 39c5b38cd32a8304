; Vistrel installer: puts the program in Program Files\Vistrel, installs and
; starts the camera service, adds a Start-menu entry and an uninstaller.
; The uninstaller removes the service and the program files; the data
; directory (settings, stored sessions) stays for a later install.
;
; Built by scripts/build-windows.sh:
;   makensis -DDIST=<folder with the program> -DOUTFILE=<setup.exe> [-DICON=<the program's .ico>] vistrel.nsi
; Silent use: vistrel-setup.exe /S, uninstall.exe /S.

; A 64-bit installer, like the program (it installs nothing 32-bit).
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef DIST
  !error "DIST (the folder holding zeb_onvif.exe) is not set"
!endif
!ifndef OUTFILE
  !define OUTFILE "vistrel-setup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif

!include LogicLib.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vistrel"

Name "Vistrel"
!ifdef ICON
  Icon "${ICON}"
  UninstallIcon "${ICON}"
!endif
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vistrel"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Ends the service and every running camera of this program, so that its
; files can be replaced or removed. The service's --uninstall-service waits
; until the service has stopped; a camera in a user's session outlives the
; service and is ended by name. The program is a console program: nsExec
; runs it without a console window and puts its output in the details.
!macro StopCamera EXE
  ${If} ${FileExists} "${EXE}"
    DetailPrint "Removing the camera service"
    nsExec::ExecToLog '"${EXE}" --uninstall-service'
    Pop $0
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /F /IM zeb_onvif.exe'
  Pop $0
!macroend

Function .onInit
  SetRegView 64
FunctionEnd

Section "Vistrel"
  SetShellVarContext all
  !insertmacro StopCamera "$INSTDIR\zeb_onvif.exe"

  SetOutPath "$INSTDIR"
  File "${DIST}\zeb_onvif.exe"
  File "${DIST}\openh264.dll"
  File "${DIST}\openh264-LICENSE.txt"
  File "/oname=README.txt" "${DIST}\README-Windows.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Vistrel"
  CreateShortcut "$SMPROGRAMS\Vistrel\Vistrel.lnk" "$INSTDIR\zeb_onvif.exe"
  CreateShortcut "$SMPROGRAMS\Vistrel\Uninstall Vistrel.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Vistrel"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\zeb_onvif.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1

  DetailPrint "Installing the camera service"
  nsExec::ExecToLog '"$INSTDIR\zeb_onvif.exe" --install-service'
  Pop $0
  ${If} $0 != 0
    SetErrorLevel 2
    MessageBox MB_ICONEXCLAMATION|MB_OK \
      "The camera service could not be installed (code $0). Start Vistrel from the Start menu instead." \
      /SD IDOK
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro StopCamera "$INSTDIR\zeb_onvif.exe"

  Delete "$INSTDIR\zeb_onvif.exe"
  Delete "$INSTDIR\openh264.dll"
  Delete "$INSTDIR\openh264-LICENSE.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\Vistrel\Vistrel.lnk"
  Delete "$SMPROGRAMS\Vistrel\Uninstall Vistrel.lnk"
  RMDir "$SMPROGRAMS\Vistrel"

  DeleteRegKey HKLM "${UNINST_KEY}"
  ; The settings in the data directory stay.
SectionEnd
