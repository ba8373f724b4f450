; The Windows installer of scripts/windows-package.sh (makensis from Debian's nsis):
;   makensis -DVERSION=1.0 -DSOURCE=<the shipped folder> -DOUTFILE=<setup.exe> windows-installer.nsi
; Installs for the current user only (no administrator needed), under
; %LOCALAPPDATA%\Programs\mirka, with a Start-menu entry and an uninstaller that the
; Settings' app list shows. The settings stay in %APPDATA%\mirka when it is removed.
Unicode true
!include "MUI2.nsh"

Name "ミルカ ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\mirka"
InstallDirRegKey HKCU "Software\mirka" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define MUI_ICON "${SOURCE}\mirka.ico"
!define MUI_UNICON "${SOURCE}\mirka.ico"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\mirka"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Section "Install"
    SetOutPath "$INSTDIR"
    File /r "${SOURCE}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The shortcut starts the program in its own folder, which holds no conf.txt: the
    ; settings then go to %APPDATA%\mirka.
    CreateShortCut "$SMPROGRAMS\ミルカ.lnk" "$INSTDIR\mirka.exe" "" "$INSTDIR\mirka.ico" 0
    WriteRegStr HKCU "Software\mirka" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "ミルカ"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mirka.ico"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\ミルカ.lnk"
    RMDir /r "$INSTDIR\translations"
    Delete "$INSTDIR\mirka.exe"
    Delete "$INSTDIR\mirka-cli.exe"
    Delete "$INSTDIR\mirka.ico"
    Delete "$INSTDIR\qt.conf"
    Delete "$INSTDIR\changelog.txt"
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\help.html"
    Delete "$INSTDIR\send.wav"
    Delete "$INSTDIR\stat_chg.wav"
    Delete "$INSTDIR\file_receive.wav"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\mirka"
SectionEnd
