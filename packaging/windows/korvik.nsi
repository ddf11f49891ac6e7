; The Windows installer of the Korvik Checksum Utility: its licence shown
; first; korvik.exe, korvik.DLL and the licence in one folder under Program
; Files, a Start-menu shortcut, an entry in "Apps & features" with an
; uninstaller, and on request the folder on the system PATH.
;
;   makensis -DVERSION=1.0.0 -DBIN_DIR=FOLDER_WITH_THE_FILES \
;     -DOUT_FILE=korvik-1.0.0-setup.exe korvik.nsi
;
; Silent install: korvik-<version>-setup.exe /S [/PATH=1] [/D=C:\Folder]
; Silent uninstall: "<folder>\uninstall.exe" /S

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include StrFunc.nsh
!include WinMessages.nsh
${StrRep}
${UnStrRep}

!define PRODUCT "Korvik Checksum Utility"
!define PUBLISHER "Korvik"
!define UNINSTALL_KEY \
  "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvik"
!define ENVIRONMENT_KEY \
  "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Korvik"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} Setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
; A plain text with CR LF line ends, which the page shows as it is.
!insertmacro MUI_PAGE_LICENSE "${BIN_DIR}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

Section "${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}/korvik.exe"
  File "${BIN_DIR}/korvik.DLL"
  File "${BIN_DIR}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Started without arguments, the program offers its window.
  CreateShortcut "${SHORTCUT}" "$INSTDIR\korvik.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\korvik.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString \
    '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString \
    '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Section /o "Add the program folder to the PATH" SecPath
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" Path
  ; A PATH longer than NSIS's strings would come back cut short and be
  ; written back so: leave it alone then.
  StrLen $1 "$0;$INSTDIR"
  ${If} ${Errors}
  ${OrIf} $1 >= ${NSIS_MAX_STRLEN}
    DetailPrint "The PATH is too long to be changed here: add $INSTDIR by hand."
    Return
  ${EndIf}
  ${StrRep} $1 ";$0;" ";$INSTDIR;" ""
  ${If} $1 != ";$0;"
    Return  ; already there
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" Path "$0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" AddedToPath 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" \
    /TIMEOUT=5000
SectionEnd

Function .onInit
  SetRegView 64
  SetShellVarContext all
  ; /PATH=1 on the command line ticks the PATH box, for silent installs.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == "1"
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section Uninstall
  Delete "$INSTDIR\korvik.exe"
  Delete "$INSTDIR\korvik.DLL"
  Delete "$INSTDIR\LICENSE.txt"
  ; Started from the program folder, the uninstaller hands over to a copy of
  ; itself in the temporary folder and ends; its file may still be in use
  ; for a moment.
  StrCpy $0 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\uninstall.exe"
    ${IfNotThen} ${Errors} ${|} ${Break} ${|}
    IntOp $0 $0 + 1
    ${IfThen} $0 >= 50 ${|} ${Break} ${|}
    Sleep 100
  ${Loop}
  RMDir "$INSTDIR"  ; only if empty: files the user put there stay
  Delete "${SHORTCUT}"

  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" AddedToPath
  ${If} $0 == 1
    ClearErrors
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" Path
    StrLen $2 $0
    IntOp $2 $2 + 1
    ; Changed only when read whole (see the installer's PATH section).
    ${IfNot} ${Errors}
    ${AndIf} $2 < ${NSIS_MAX_STRLEN}
      ${UnStrRep} $1 ";$0;" ";$INSTDIR;" ";"
      ${If} $1 != ";$0;"
        StrCpy $1 $1 "" 1  ; the padding in front
        StrCpy $1 $1 -1    ; and behind
        WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" Path "$1"
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 \
          "STR:Environment" /TIMEOUT=5000
      ${EndIf}
    ${EndIf}
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd
