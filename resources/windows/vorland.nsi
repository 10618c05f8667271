; The Windows installer, built by scripts/windows.sh with makensis from the
; staged install tree. Per user, no administrator rights: the program goes to
; %LOCALAPPDATA%\Programs\Vorland, its settings to HKEY_CURRENT_USER. It adds
; a Start-menu entry, the .big and .tpi file types with their icons and
; descriptions (no "open" verb: the viewer takes no arguments), and, if
; chosen (or given /PATH), vorland-cli on the user's PATH. The uninstaller
; removes exactly what was installed: the files listed at build time, the
; folders it made, and the keys and PATH entry only while they are still the
; ones it made.
;
; Defines from the command line: VERSION, ARCH (x86-64 or i686), STAGE (the
; staged tree), FILES (the generated lists of files and folders), OUTFILE.

Unicode true
!if "${ARCH}" == "x86-64"
    Target amd64-unicode ; a 64-bit installer for the 64-bit programs
!endif
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"
!include "StrFunc.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
${StrStr}
${UnStrRep}

Name "Vorland ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vorland"
InstallDirRegKey HKCU "Software\Vorland" "InstallDir"
BrandingText "Vorland ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorland"
!define MUI_ICON "${STAGE}/icons/org.vorland.Vorland.ico"
!define MUI_UNICON "${STAGE}/icons/org.vorland.Vorland.ico"
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; One file type: extension, class, description, icon.
!macro FileType EXT CLASS DESCRIPTION ICON
    WriteRegStr HKCU "Software\Classes\${EXT}" "" "${CLASS}"
    WriteRegStr HKCU "Software\Classes\${CLASS}" "" "${DESCRIPTION}"
    WriteRegStr HKCU "Software\Classes\${CLASS}\DefaultIcon" "" "$INSTDIR\icons\${ICON},0"
!macroend
!macro RemoveFileType EXT CLASS
    ReadRegStr $0 HKCU "Software\Classes\${EXT}" ""
    ${If} $0 == "${CLASS}"
        DeleteRegKey HKCU "Software\Classes\${EXT}"
    ${EndIf}
    DeleteRegKey HKCU "Software\Classes\${CLASS}"
!macroend

; An installed Vorland, of either build, is uninstalled first, by its own
; uninstaller (run in place), so that no file of its list stays behind; a
; folder it made is still remembered as made.
Function RemovePrevious
    ReadRegStr $R0 HKCU "Software\Vorland" "InstallDir"
    ${If} $R0 == ""
    ${OrIfNot} ${FileExists} "$R0\uninstall.exe"
        Return
    ${EndIf}
    ReadRegStr $R1 HKCU "Software\Vorland" "MadeFolder"
    ExecWait '"$R0\uninstall.exe" /S _?=$R0'
    Delete "$R0\uninstall.exe"
    RMDir "$R0"
    ${If} $R1 != ""
        WriteRegStr HKCU "Software\Vorland" "MadeFolder" "$R1"
    ${EndIf}
FunctionEnd

Section "Vorland" SecProgram
    SectionIn RO
    Call RemovePrevious
    ; The folder the program's folder goes in, when it is made here, goes
    ; again with it if nothing else came to be in it.
    ${GetParent} "$INSTDIR" $0
    ReadRegStr $1 HKCU "Software\Vorland" "MadeFolder"
    ${IfNot} ${FileExists} "$0\*.*"
    ${OrIf} $1 == $0
        WriteRegStr HKCU "Software\Vorland" "MadeFolder" "$0"
    ${Else}
        DeleteRegValue HKCU "Software\Vorland" "MadeFolder"
    ${EndIf}
    !include "${FILES}.install.nsh"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Vorland.lnk" "$INSTDIR\vorland.exe"
    WriteRegStr HKCU "Software\Vorland" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vorland"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Vorland developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vorland.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "File types .big and .tpi" SecTypes
    !insertmacro FileType ".big" "Vorland.Archive" "BIG archive" "application-x-vorland-big.ico"
    !insertmacro FileType ".tpi" "Vorland.Picture" "TPI picture" "image-x-vorland-tpi.ico"
    WriteRegDWORD HKCU "Software\Vorland" "FileTypes" 1
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section /o "vorland-cli on PATH" SecPath
    ReadRegStr $0 HKCU "Environment" "Path"
    ${StrStr} $1 ";$0;" ";$INSTDIR;"
    ${If} $1 == ""
        ${If} $0 == ""
            WriteRegExpandStr HKCU "Environment" "Path" "$INSTDIR"
            WriteRegDWORD HKCU "Software\Vorland" "MadePath" 1
        ${Else}
            WriteRegExpandStr HKCU "Environment" "Path" "$0;$INSTDIR"
        ${EndIf}
        WriteRegDWORD HKCU "Software\Vorland" "OnPath" 1
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
    ${EndIf}
SectionEnd

; /PATH on the command line (with /S, say) chooses "vorland-cli on PATH".
Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PATH" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ReadRegDWORD $0 HKCU "Software\Vorland" "OnPath"
    ${If} $0 == 1
        ReadRegStr $1 HKCU "Environment" "Path"
        ${UnStrRep} $2 ";$1;" ";$INSTDIR;" ";"
        ; Take off the separators added around it.
        StrCpy $2 $2 "" 1
        StrCpy $2 $2 -1
        ReadRegDWORD $3 HKCU "Software\Vorland" "MadePath"
        ${If} $2 == ""
        ${AndIf} $3 == 1
            DeleteRegValue HKCU "Environment" "Path" ; the user had none
        ${Else}
            WriteRegExpandStr HKCU "Environment" "Path" "$2"
        ${EndIf}
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
    ${EndIf}
    ReadRegDWORD $0 HKCU "Software\Vorland" "FileTypes"
    ${If} $0 == 1
        !insertmacro RemoveFileType ".big" "Vorland.Archive"
        !insertmacro RemoveFileType ".tpi" "Vorland.Picture"
        System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
    ${EndIf}
    Delete "$SMPROGRAMS\Vorland.lnk"
    !include "${FILES}.uninstall.nsh"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ReadRegStr $0 HKCU "Software\Vorland" "MadeFolder"
    ${If} $0 != ""
        RMDir "$0" ; only when empty
    ${EndIf}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\Vorland"
    ; This uninstaller runs as a copy in a folder of its own in %TEMP%,
    ; which Windows would remove only at the next start, and then only the
    ; copy, leaving its folder: a hidden command removes both once this
    ; process has ended, trying for up to 10 s.
    StrLen $1 "$TEMP\~nsu"
    StrCpy $0 "$EXEDIR" $1
    ${If} $0 == "$TEMP\~nsu"
        SetOutPath "$TEMP" ; the command's working folder, which it cannot remove
        ExecShell "open" "$SYSDIR\cmd.exe" \
            '/d /c for /l %i in (1,1,10) do (rmdir /s /q "$EXEDIR" 2>nul & if not exist "$EXEDIR" exit /b 0 & ping -n 2 127.0.0.1 >nul)' \
            SW_HIDE
    ${EndIf}
SectionEnd
