; The Windows setup program. makensis gets SALVORA_VERSION, SALVORA_FILE_VERSION (four numbers),
; SALVORA_PUBLISHER, SALVORA_FILES (what to install and delete, written at build time from the
; installed tree), SALVORA_ICON and SALVORA_OUTFILE from cmake/installer.cmake.
;
; Per user without administrator rights; per machine when elevated or with /ALLUSERS
; (/CURRENTUSER forces per user). /S runs silently, /D=folder chooses the folder. The uninstaller
; removes what the setup put there and leaves the program's settings (HKCU\SOFTWARE\Salvora).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include "${SALVORA_FILES}"

!define PRODUCT "Salvora"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Salvora"

Name "${PRODUCT} ${SALVORA_VERSION}"
OutFile "${SALVORA_OUTFILE}"
BrandingText "${PRODUCT} ${SALVORA_VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow
VIProductVersion "${SALVORA_FILE_VERSION}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${SALVORA_VERSION}"
VIAddVersionKey FileVersion "${SALVORA_VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} ${SALVORA_VERSION} setup"
VIAddVersionKey CompanyName "${SALVORA_PUBLISHER}"
VIAddVersionKey LegalCopyright "${SALVORA_PUBLISHER}"

Var AllUsers

!define MUI_ICON "${SALVORA_ICON}"
!define MUI_UNICON "${SALVORA_ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This will install ${PRODUCT} ${SALVORA_VERSION}, which repairs damaged dBASE, FoxBase, FoxPro and Visual FoxPro tables (.dbf) and their memo files.$\r$\n$\r$\nIt installs for you alone unless the setup runs as administrator. Your tables are not touched.$\r$\n$\r$\nClick Next to continue."
!define MUI_FINISHPAGE_RUN "$INSTDIR\salvora.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; SHCTX below is HKLM for all users, HKCU for the current user.
!macro ChooseContext
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/CURRENTUSER" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${Else}
    UserInfo::GetAccountType
    Pop $1
    ClearErrors
    ${GetOptions} $0 "/ALLUSERS" $2
    ${IfNot} ${Errors}
      ${If} $1 != "Admin"
        MessageBox MB_ICONSTOP|MB_OK "Installing for all users needs administrator rights: start the setup as administrator." /SD IDOK
        SetErrorLevel 740
        Quit
      ${EndIf}
      StrCpy $AllUsers 1
    ${ElseIf} $1 == "Admin"
      StrCpy $AllUsers 1
    ${Else}
      StrCpy $AllUsers 0
    ${EndIf}
  ${EndIf}
  !insertmacro ChooseContext
  ; An empty folder here means no /D=: take the folder of an earlier install, else the default.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $AllUsers == 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Salvora"
  SetOutPath "$INSTDIR"
  !insertmacro SalvoraInstallFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\salvora.exe" "" "$INSTDIR\salvora.exe" 0

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${SALVORA_VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${SALVORA_PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\salvora.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  ; The entry whose folder is this one says for whom it was installed.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} was installed for all users: start the uninstaller as administrator." /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  !insertmacro ChooseContext
FunctionEnd

Section "Uninstall"
  !insertmacro SalvoraUninstallFiles
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: files the user put there stay.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
