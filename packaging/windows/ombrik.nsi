; The Windows installer of Ombrik (NSIS 3): installs for the current user without administrator
; rights, adds a Start-menu entry and an uninstaller, and registers it under Apps.
; Made by scripts/build-windows.sh:  makensis -DVERSION=... -DSTAGE=folder -DOUTFILE=setup.exe ombrik.nsi
Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define PRODUCT "Ombrik"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ombrik"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

!define MUI_ICON "${STAGE}\ombrik.ico"
!define MUI_UNICON "${STAGE}\ombrik.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\ombrik.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Ombrik"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}\ombrik.exe"
  File "${STAGE}\ombrik-cli.exe"
  File "${STAGE}\ombrik.ico"
  File "${STAGE}\README.txt"
  SetOutPath "$INSTDIR\help"
  File /r "${STAGE}\help\*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ombrik.exe" "" "$INSTDIR\ombrik.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvanti"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ombrik.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Only what the installer put there: a folder the user chose may hold files of theirs.
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\ombrik.exe"
  Delete "$INSTDIR\ombrik-cli.exe"
  Delete "$INSTDIR\ombrik.ico"
  Delete "$INSTDIR\README.txt"
  RMDir /r "$INSTDIR\help"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; The remembered choices (HKCU\Software\Corvanti\ombrik) are the user's and stay.
SectionEnd
