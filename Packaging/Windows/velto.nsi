; The Windows installer: a per-user install of the client, without
; administrator rights (docs/windows-installer.md).
;
; Built by the CMake target velto_installer, which writes the build's values
; (version, client, icon, output) into a small header named by BUILD_VALUES:
;   makensis -DBUILD_VALUES=<header> velto.nsi
; -DVERSION=... and -DOUTFILE=... on the command line take precedence, which
; is how the tests build an older installer from the same files.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all

!ifndef BUILD_VALUES
  !error "BUILD_VALUES must name the header the build writes (see velto_installer)"
!endif
!include "${BUILD_VALUES}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Velto Chat"
!define PUBLISHER "Velto"
!define CLIENT "velto.exe"
!define UNINSTALLER "uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velto"
; The client's app data directory (App/Platform/Win32/PlatformWin32.cpp);
; the client reads and writes it but never creates it.
!define APP_DATA "$APPDATA\VeltoChat"
!define RUNTIME_KEY "Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
!define RUNTIME_PAGE "https://developer.microsoft.com/microsoft-edge/webview2/"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Velto"
; An upgrade goes where the previous version went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VI_VERSION}"
VIFileVersion "${VI_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${CLIENT}"
!define MUI_UNCOMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; The client speaks Russian; English where the system asks for it.
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

LangString NoRuntime ${LANG_RUSSIAN} "Для работы ${PRODUCT} нужна среда WebView2 Runtime, её можно скачать на ${RUNTIME_PAGE}"
LangString NoRuntime ${LANG_ENGLISH} "${PRODUCT} needs the WebView2 Runtime, available from ${RUNTIME_PAGE}"
LangString ClientRunning ${LANG_RUSSIAN} "${PRODUCT} запущен: закройте его и нажмите «Повторить»."
LangString ClientRunning ${LANG_ENGLISH} "${PRODUCT} is running: close it and press Retry."
LangString ProgramSection ${LANG_RUSSIAN} "Программа"
LangString ProgramSection ${LANG_ENGLISH} "Program"
LangString UserDataSection ${LANG_RUSSIAN} "Настройки и данные пользователя"
LangString UserDataSection ${LANG_ENGLISH} "Settings and user data"

; Whether the runtime the client hosts is registered where the client looks
; for it (machine-wide first, then per user): a non-empty version that is not
; the "0.0.0.0" an uninstall leaves. Answers 1 or 0 on the stack.
Function RuntimeRegistered
  Push $0
  ReadRegStr $0 HKLM "SOFTWARE\WOW6432Node\${RUNTIME_KEY}" "pv"
  ${If} $0 == ""
  ${OrIf} $0 == "0.0.0.0"
    ReadRegStr $0 HKLM "SOFTWARE\${RUNTIME_KEY}" "pv"
  ${EndIf}
  ${If} $0 == ""
  ${OrIf} $0 == "0.0.0.0"
    ReadRegStr $0 HKCU "SOFTWARE\${RUNTIME_KEY}" "pv"
  ${EndIf}
  ${If} $0 == ""
  ${OrIf} $0 == "0.0.0.0"
    StrCpy $0 0
  ${Else}
    StrCpy $0 1
  ${EndIf}
  Exch $0
FunctionEnd

; A running client cannot be replaced or removed: the user is asked to close
; it, or the run gives up with nothing changed (exit code 2 when silent).
!macro RemoveClientOrAbort
  ; Labels belong to their section, so each use has its own.
  retry:
  ClearErrors
  ${If} ${FileExists} "$INSTDIR\${CLIENT}"
    Delete "$INSTDIR\${CLIENT}"
  ${EndIf}
  ${If} ${Errors}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(ClientRunning)" /SD IDCANCEL IDRETRY retry
    DetailPrint "$(ClientRunning)"
    Abort
  ${EndIf}
!macroend

Section "-Program"
  ; Told first, never fetched: the client shows its own notice without it
  ; too.
  Call RuntimeRegistered
  Pop $0
  ${If} $0 == 0
    DetailPrint "$(NoRuntime)"
    MessageBox MB_OK|MB_ICONINFORMATION "$(NoRuntime)" /SD IDOK
  ${EndIf}

  SetOutPath "$INSTDIR"
  !insertmacro RemoveClientOrAbort
  File "/oname=${CLIENT}" "${CLIENT_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Created for the installing user; an existing one (an upgrade) is left
  ; exactly as it is.
  CreateDirectory "${APP_DATA}"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\${CLIENT}" "" "$INSTDIR\${CLIENT}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${CLIENT},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "un.$(ProgramSection)" UnProgram
  SectionIn RO
  !insertmacro RemoveClientOrAbort
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless the user ticks it; a silent uninstall never removes user data.
Section /o "un.$(UserDataSection)" UnUserData
  ${IfNot} ${Silent}
    RMDir /r "${APP_DATA}"
  ${EndIf}
SectionEnd
