; The Windows installer: both programs under Program Files, a Start-menu entry, an uninstaller
; that takes everything away again, the licence page and the licences of the libraries built in.
;   makensis -DSOURCE=DIR -DBUILD=DIR -DOUTFILE=FILE -DVERSION=1.3.0.96 -DPRODUCT_VERSION="1.3 Build 96"
;     -DCOMPANY=NAME velomark.nsi
; A 64-bit installer, like the programs it carries.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velomark"

Name "Velomark"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velomark"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Velomark"
VIAddVersionKey /LANG=1033 "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "Velomark Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "GNU General Public License, version 3 or later"

!define MUI_ICON "${SOURCE}/resources/icons/vantrix.ico"
!define MUI_UNICON "${SOURCE}/resources/icons/vantrix.ico"
!insertmacro MUI_PAGE_LICENSE "${SOURCE}/COPYING"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Velomark"
  SetOutPath "$INSTDIR"
  File "${BUILD}/src/app/velomark.exe"
  File "${BUILD}/src/cli/velomark-cli.exe"
  SetOutPath "$INSTDIR\licences"
  File "/oname=Velomark (GPL-3.0-or-later).txt" "${SOURCE}/COPYING"
  File "/oname=Qt (LGPL-3.0).txt" "/usr/share/common-licenses/LGPL-3"
  File "/oname=Qt (GPL-3.0).txt" "/usr/share/common-licenses/GPL-3"
  File "/oname=OpenSSL (Apache-2.0).txt" "/usr/share/common-licenses/Apache-2.0"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Velomark"
  CreateShortcut "$SMPROGRAMS\Velomark\Velomark.lnk" "$INSTDIR\velomark.exe"
  CreateShortcut "$SMPROGRAMS\Velomark\Uninstall Velomark.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velomark"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velomark.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

; Only what the installer put there: the data files and downloads of users stay where they are.
Section "Uninstall"
  Delete "$INSTDIR\velomark.exe"
  Delete "$INSTDIR\velomark-cli.exe"
  Delete "$INSTDIR\licences\*.txt"
  RMDir "$INSTDIR\licences"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Velomark\Velomark.lnk"
  Delete "$SMPROGRAMS\Velomark\Uninstall Velomark.lnk"
  RMDir "$SMPROGRAMS\Velomark"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
