; SPDX-License-Identifier: MIT
; The Windows installer. packaging/windows/make-installer.sh defines VERSION, ICON, STAGE (the
; installed layout), OUTFILE and FILES/UNFILES (what to put in place and what to take away).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define NAME "Bondara"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Bondara"

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
; An upgrade goes where the last install went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${NAME}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\bondara.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; The catalogue's size and time stamp as this installer left it: a different one on the next
; run means the user has edited it.
Function CatalogueStamp
    Push $R0
    Push $R1
    Push $R2
    Push $R3
    FileOpen $R2 "$INSTDIR\Config\DeviceConfig.json" r
    FileSeek $R2 0 END $R3
    FileClose $R2
    GetFileTime "$INSTDIR\Config\DeviceConfig.json" $R0 $R1
    StrCpy $0 "$R3:$R0:$R1"
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

Section "Install"
    SetShellVarContext all
    SetRegView 64

    !include "${FILES}"

    SetOutPath "$INSTDIR\Config"
    IfFileExists "$INSTDIR\Config\DeviceConfig.json" 0 catalogue_fresh
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "CatalogueStamp"
    Call CatalogueStamp
    StrCmp $0 $1 catalogue_fresh
    ; Edited by the user: it stays, and this release's catalogue lands beside it.
    File "/oname=DeviceConfig.json.new" "${STAGE}/Config/DeviceConfig.json"
    DetailPrint "Kept the edited $INSTDIR\Config\DeviceConfig.json; this release's is DeviceConfig.json.new"
    Goto catalogue_done
catalogue_fresh:
    File "${STAGE}/Config/DeviceConfig.json"
    Delete "$INSTDIR\Config\DeviceConfig.json.new"
    Call CatalogueStamp
    WriteRegStr HKLM "${UNINSTALL_KEY}" "CatalogueStamp" "$0"
catalogue_done:

    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\bondara.exe" "" "$INSTDIR\bondara.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bondara.exe,0"
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
    SetShellVarContext all
    SetRegView 64

    Delete "$SMPROGRAMS\${NAME}.lnk"
    ; Only what the installer put there: a folder the user chose may hold other things.
    !include "${UNFILES}"
    Delete "$INSTDIR\Config\DeviceConfig.json"
    Delete "$INSTDIR\Config\DeviceConfig.json.new"
    RMDir "$INSTDIR\Config"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
