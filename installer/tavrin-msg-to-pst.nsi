; The Windows installer, tavrin-msg-to-pst-setup.exe, made with NSIS's
; makensis (on Linux as well). installer/CMakeLists.txt runs:
;
;   makensis -DVERSION=6.4.0 -DBIN=<folder of the programs and help>
;            -DSOURCE=<top of the sources> -DOUTFILE=<setup.exe> this file
;
; It installs the wizard, msg2pst.exe and the help pages into
; Program Files\Tavrin MSG to PST Converter, adds a Start-menu entry and
; an entry in Apps & features, and writes the uninstaller, which takes all
; of it away again. /S installs (and uninstalls) without asking anything.

; A 64-bit installer, as the programs are: it runs on every Windows that
; can run them (and under 64-bit wine without its 32-bit half).
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Tavrin MSG to PST Converter"
!define COMPANY "Tavrin"
!define WIZARD "tavrin-msg-to-pst.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TavrinMsgToPst"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${COMPANY}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${COMPANY}"

!define MUI_ICON "${SOURCE}/resources/icons/tavrin-msg-to-pst.ico"
!define MUI_UNICON "${SOURCE}/resources/icons/tavrin-msg-to-pst.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${WIZARD}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${BIN}/${WIZARD}"
  File "${BIN}/msg2pst.exe"
  ; The help pages beside the wizard, where its links find them.
  SetOutPath "$INSTDIR\help"
  File /r /x ".copied" "${BIN}/help/*"
  SetOutPath "$INSTDIR"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${WIZARD}" "" "$INSTDIR\${WIZARD}" 0 \
    SW_SHOWNORMAL "" "Convert folders of Outlook message files (.msg) into Outlook data files (.pst)"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Apps & features (Programs and Features).
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${WIZARD},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\${WIZARD}"
  Delete "$INSTDIR\msg2pst.exe"
  RMDir /r "$INSTDIR\help"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: a folder the user chose may hold files of their own.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
