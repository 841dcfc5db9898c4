; Kantiq-Setup-<version>.exe: installs Kantiq for the user who runs it.
; Built by the CMake target "installer" (installer/CMakeLists.txt), which
; passes these definitions to makensis:
;   VERSION       the release's version ("1.1")
;   VERSION_QUAD  the same as four numbers ("1.1.0.0")
;   KANTIQ_EXE, CONFIG_EXE, SENDER_EXE, WACHE_EXE, SETUP_EXE
;                 the built Kantiq.exe, kantiq-config.exe, S.exe,
;                 KantiqWache.exe and Kantiq-Einrichtung.exe
;   TEXT_DIR      folder with kantiq.toml, S.toml and Kurzanleitung.txt
;                 (Windows line ends)
;   ICON          the program's icon
;   SIDE_BITMAP   the picture of the first and the last page (164x314)
;   OUTFILE       the setup program to write
;
; It runs without administrator rights: the program folder (C:\Kantiq by
; default, never under Program Files, because Kantiq reads its configuration
; and writes its log next to itself), the Start menu entries, the autostart
; value and the uninstall entry all belong to the user who logs in at the
; alarm PC. HKCU\Software is not redirected for 32-bit programs on 64-bit
; Windows, so the values land where Explorer looks for them.

Unicode true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh

!define PRODUCT "Brevalo Kantiq"
!define MAKER "Brevalo"
!define MENU_FOLDER "$SMPROGRAMS\Kantiq"
; The entries for editing the text files by hand, below the setup window's.
!define TEXT_MENU_FOLDER "${MENU_FOLDER}\Textdateien"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Kantiq"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kantiq"
!define UNINSTALLER "Deinstallation.exe"
; The caption and class of Kantiq's main window (and of its about box).
!define WINDOW_CLASS "#32770"
!define WINDOW_CAPTION "Brevalo Kantiq"
; The watchdog's hidden window, which ends the watchdog on WM_CLOSE (and
; leaves Kantiq running).
!define WACHE_CLASS "KantiqWache"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "C:\Kantiq"
; An upgrade offers the folder of the installed copy.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel user
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"

Var KantiqWasRunning

; --- pages --------------------------------------------------------------------

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SIDE_BITMAP}"
!define MUI_ABORTWARNING
; The description under the list, so that the list is wide enough for its
; entries' names.
!define MUI_COMPONENTSPAGE_SMALLDESC

!define MUI_WELCOMEPAGE_TEXT "Dieser Assistent installiert $(^NameDA).$\r$\n$\r$\nKantiq hört das Signal am Toneingang dieses PCs ab, erkennt die eingerichteten Alarmierungen und lässt sie vom Sendeprogramm S.exe per SMS weitermelden.$\r$\n$\r$\nIst Kantiq schon installiert, bleiben die Einrichtung, S.toml und die Protokolle erhalten. Ein laufendes Kantiq wird für die Installation beendet und danach wieder gestartet.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME

!define MUI_COMPONENTSPAGE_TEXT_TOP "Kantiq, das Einrichtungsprogramm, das Sendeprogramm, die Beispiele, die Kurzanleitung und die Einträge im Startmenü werden immer installiert."
!define MUI_COMPONENTSPAGE_TEXT_COMPLIST "Wählen Sie, was außerdem geschehen soll:"
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_DIRECTORYPAGE_TEXT_TOP "Kantiq liest seine Einrichtung aus seinem eigenen Ordner und schreibt dort seine Protokolle. Wählen Sie deshalb einen Ordner, in dem Sie schreiben dürfen, nicht unter $\"Programme$\" (Program Files).$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES

!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "$(^NameDA) ist installiert.$\r$\n$\r$\nRichten Sie es im Startmenü, Ordner Kantiq, mit $\"Einrichtung$\" ein; danach eine Test-SMS senden. Die Textdateien liegen unter Kantiq, Textdateien. Die Kurzanleitung erklärt jeden Schritt."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Kurzanleitung.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Kurzanleitung anzeigen"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(^NameDA) wird aus diesem Ordner entfernt. Die Einrichtung und die Protokolle bleiben dort, wenn Sie auf der nächsten Seite nichts anderes wählen."
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "Die Programme und die Einträge im Startmenü werden immer entfernt."
!define MUI_COMPONENTSPAGE_TEXT_COMPLIST "Wählen Sie, was außerdem gelöscht werden soll:"
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "German"

VIAddVersionKey /LANG=${LANG_GERMAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileDescription" "Kantiq – Installation"
VIAddVersionKey /LANG=${LANG_GERMAN} "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=${LANG_GERMAN} "LegalCopyright" "© 2026 ${MAKER}"
VIAddVersionKey /LANG=${LANG_GERMAN} "OriginalFilename" "Kantiq-Setup-${VERSION}.exe"

; --- helpers --------------------------------------------------------------------

; Ends a running Kantiq and its watchdog (their files could not be replaced
; or removed while they run), after saying so: the watchdog first, so that
; it does not start Kantiq again, then Kantiq the way its close box does.
; Sets $KantiqWasRunning when either ran.
!macro DEFINE_CLOSE_KANTIQ un
Function ${un}CloseKantiq
  StrCpy $KantiqWasRunning 0
  FindWindow $R0 "${WINDOW_CLASS}" "${WINDOW_CAPTION}"
  FindWindow $R3 "${WACHE_CLASS}"
  ${If} $R0 == 0
  ${AndIf} $R3 == 0
    Return
  ${EndIf}
  StrCpy $KantiqWasRunning 1
  MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "Kantiq läuft gerade. Damit seine Dateien ersetzt oder entfernt werden können, wird es jetzt beendet.$\r$\n$\r$\nSolange Kantiq nicht läuft, werden keine Alarmierungen erkannt." /SD IDOK IDOK close
  Abort
close:
  StrCpy $R1 0
  ${Do}
    FindWindow $R3 "${WACHE_CLASS}"
    ${If} $R3 == 0
      ${Break}
    ${EndIf}
    ${If} $R1 >= 50
      Goto stuck
    ${EndIf}
    SendMessage $R3 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Sleep 200
    IntOp $R1 $R1 + 1
  ${Loop}
  ; The watchdog's window goes just before its process ends.
  ${If} ${FileExists} "$INSTDIR\KantiqWache.exe"
    StrCpy $R1 0
    ${Do}
      ClearErrors
      FileOpen $R2 "$INSTDIR\KantiqWache.exe" a
      ${IfNot} ${Errors}
        FileClose $R2
        ${Break}
      ${EndIf}
      ${If} $R1 >= 50
        Goto stuck
      ${EndIf}
      Sleep 200
      IntOp $R1 $R1 + 1
    ${Loop}
  ${EndIf}
  ; The about box has the same caption and lies above the main window: each
  ; round closes the topmost one.
  StrCpy $R1 0
  ${Do}
    FindWindow $R0 "${WINDOW_CLASS}" "${WINDOW_CAPTION}"
    ${If} $R0 == 0
      ${Break}
    ${EndIf}
    ${If} $R1 >= 50
      Goto stuck
    ${EndIf}
    SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    Sleep 200
    IntOp $R1 $R1 + 1
  ${Loop}
  ; The window is gone; the program file is free once the process has ended
  ; (a running program cannot be opened for writing).
  ${IfNot} ${FileExists} "$INSTDIR\Kantiq.exe"
    Return
  ${EndIf}
  StrCpy $R1 0
  ${Do}
    ClearErrors
    FileOpen $R2 "$INSTDIR\Kantiq.exe" a
    ${IfNot} ${Errors}
      FileClose $R2
      Return
    ${EndIf}
    ${If} $R1 >= 50
      Goto stuck
    ${EndIf}
    Sleep 200
    IntOp $R1 $R1 + 1
  ${Loop}
stuck:
  MessageBox MB_OK|MB_ICONSTOP "Kantiq lässt sich nicht beenden. Bitte schließen Sie Kantiq und versuchen Sie es noch einmal." /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_KANTIQ ""
!insertmacro DEFINE_CLOSE_KANTIQ "un."

; $R9 = 1 when the folder $R8 lies in, or is, the folder $R7.
Function IsInFolder
  StrCpy $R9 0
  StrLen $R6 $R7
  ${If} $R6 == 0
    Return
  ${EndIf}
  StrCpy $R5 $R8 $R6
  ${If} $R5 == $R7  ; case-insensitive
    StrCpy $R5 $R8 1 $R6
    ${If} $R5 == ""
    ${OrIf} $R5 == "\"
      StrCpy $R9 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; $R9 = 1 when $INSTDIR lies under one of the Program Files folders.
Function IsUnderProgramFiles
  StrCpy $R8 $INSTDIR
  StrCpy $R7 $PROGRAMFILES32
  Call IsInFolder
  ${If} $R9 == 0
    StrCpy $R7 $PROGRAMFILES64
    Call IsInFolder
  ${EndIf}
FunctionEnd

Function .onInit
  ; The directory page refuses such a folder; a silent run is told here.
  ${If} ${Silent}
    Call IsUnderProgramFiles
    ${If} $R9 == 1
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onVerifyInstDir
  Call IsUnderProgramFiles
  ${If} $R9 == 1
    Abort
  ${EndIf}
FunctionEnd

; --- installing -------------------------------------------------------------------

Section "Kantiq" SecProgram
  SectionIn RO
  Call CloseKantiq

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "/oname=Kantiq.exe" "${KANTIQ_EXE}"
  File "/oname=kantiq-config.exe" "${CONFIG_EXE}"
  File "/oname=S.exe" "${SENDER_EXE}"
  File "/oname=KantiqWache.exe" "${WACHE_EXE}"
  File "/oname=Kantiq-Einrichtung.exe" "${SETUP_EXE}"
  File "${TEXT_DIR}/Kurzanleitung.txt"
  ; The examples as shipped, always the newest ...
  SetOutPath "$INSTDIR\Beispiele"
  File "${TEXT_DIR}/kantiq.toml"
  File "${TEXT_DIR}/S.toml"
  ; ... and the user's own copies, made from them once and never replaced.
  ; The configuration files written from kantiq.toml (SMSConfig1.dat,
  ; SMSConfig2.dat) and the logs are not the installer's: it never touches
  ; them.
  SetOutPath "$INSTDIR"
  SetOverwrite off
  File "${TEXT_DIR}/kantiq.toml"
  File "${TEXT_DIR}/S.toml"
  SetOverwrite on

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kantiq.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SecProgram} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; The shortcuts start in the program folder. Kantiq is started through
  ; its watchdog, which keeps it running (a second start only brings its
  ; window to the front).
  CreateDirectory "${MENU_FOLDER}"
  ; The setup window is the way in; the text files are for whoever prefers
  ; them, one level down. An older version had their entries at the top.
  CreateShortCut "${MENU_FOLDER}\Einrichtung.lnk" "$INSTDIR\Kantiq-Einrichtung.exe"
  CreateShortCut "${MENU_FOLDER}\Kantiq.lnk" "$INSTDIR\KantiqWache.exe" "" "$INSTDIR\Kantiq.exe" 0
  Delete "${MENU_FOLDER}\Einrichtung bearbeiten.lnk"
  Delete "${MENU_FOLDER}\Einrichtung übernehmen.lnk"
  CreateDirectory "${TEXT_MENU_FOLDER}"
  CreateShortCut "${TEXT_MENU_FOLDER}\Einrichtung bearbeiten.lnk" "$WINDIR\notepad.exe" '"$INSTDIR\kantiq.toml"'
  ; The command windows stay open until a key is pressed, so that what the
  ; tool said can be read.
  CreateShortCut "${TEXT_MENU_FOLDER}\Einrichtung übernehmen.lnk" "$SYSDIR\cmd.exe" \
    '/c ""$INSTDIR\kantiq-config.exe" write "$INSTDIR\kantiq.toml" "$INSTDIR" && echo. && echo Die neue Einrichtung gilt ab dem nächsten Start von Kantiq. & echo. & pause"' \
    "$INSTDIR\kantiq-config.exe" 0
  CreateShortCut "${MENU_FOLDER}\Sendeprogramm prüfen.lnk" "$SYSDIR\cmd.exe" \
    '/c ""$INSTDIR\S.exe" --pruefen & echo. & pause"' "$INSTDIR\S.exe" 0
  CreateShortCut "${MENU_FOLDER}\Protokolle.lnk" "$INSTDIR"
  CreateShortCut "${MENU_FOLDER}\Kurzanleitung.lnk" "$INSTDIR\Kurzanleitung.txt"
  CreateShortCut "${MENU_FOLDER}\Kantiq deinstallieren.lnk" "$INSTDIR\${UNINSTALLER}"
SectionEnd

; A value in the user's Run key rather than a shortcut in the Startup folder:
; it cannot be deleted or moved by accident among the Start menu's entries,
; it names the program exactly, and the uninstaller removes exactly it. It
; starts the watchdog, which starts Kantiq and keeps it running.
Section "Kantiq beim Anmelden starten" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\KantiqWache.exe"'
SectionEnd

Section "-finish"
  ; Unticked on an upgrade: the user no longer wants it.
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  ; An alarm PC must not stay deaf after an upgrade: the watchdog starts
  ; Kantiq again (and keeps it running from now on).
  ${If} $KantiqWasRunning == 1
    Exec '"$INSTDIR\KantiqWache.exe"'
  ${EndIf}
SectionEnd

LangString DESC_SecProgram ${LANG_GERMAN} "Kantiq, seine Wache, die Einrichtung, kantiq-config, das Sendeprogramm S.exe, die Beispiele, die Kurzanleitung, das Startmenü."
LangString DESC_SecAutostart ${LANG_GERMAN} "Kantiq startet mit seiner Wache, sobald Sie sich anmelden; die Wache startet es nach einem Absturz neu. Wie Windows Sie von selbst anmeldet, sagt die Kurzanleitung."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_SecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecAutostart} $(DESC_SecAutostart)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; --- uninstalling -----------------------------------------------------------------

Section "un.Kantiq" UnSecProgram
  SectionIn RO
  Call un.CloseKantiq
  Delete "$INSTDIR\Kantiq.exe"
  Delete "$INSTDIR\kantiq-config.exe"
  Delete "$INSTDIR\S.exe"
  Delete "$INSTDIR\KantiqWache.exe"
  Delete "$INSTDIR\Kantiq-Einrichtung.exe"
  Delete "$INSTDIR\Kurzanleitung.txt"
  Delete "$INSTDIR\Beispiele\kantiq.toml"
  Delete "$INSTDIR\Beispiele\S.toml"
  RMDir "$INSTDIR\Beispiele"

  Delete "${MENU_FOLDER}\Einrichtung.lnk"
  Delete "${MENU_FOLDER}\Kantiq.lnk"
  Delete "${TEXT_MENU_FOLDER}\Einrichtung bearbeiten.lnk"
  Delete "${TEXT_MENU_FOLDER}\Einrichtung übernehmen.lnk"
  RMDir "${TEXT_MENU_FOLDER}"
  ; An older version's entries, had the upgrade not removed them.
  Delete "${MENU_FOLDER}\Einrichtung bearbeiten.lnk"
  Delete "${MENU_FOLDER}\Einrichtung übernehmen.lnk"
  Delete "${MENU_FOLDER}\Sendeprogramm prüfen.lnk"
  Delete "${MENU_FOLDER}\Protokolle.lnk"
  Delete "${MENU_FOLDER}\Kurzanleitung.lnk"
  Delete "${MENU_FOLDER}\Kantiq deinstallieren.lnk"
  RMDir "${MENU_FOLDER}"

  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\${UNINSTALLER}"
SectionEnd

Section /o "un.Einrichtung und Protokolle löschen" UnSecData
  Delete "$INSTDIR\SMSConfig1.dat"
  Delete "$INSTDIR\SMSConfig2.dat"
  Delete "$INSTDIR\kantiq.toml"
  Delete "$INSTDIR\S.toml"
  ; The copies the setup window keeps of hand-made files.
  Delete "$INSTDIR\kantiq (vorher).toml"
  Delete "$INSTDIR\S (vorher).toml"
  Delete "$INSTDIR\KantiqLog.txt"
  Delete "$INSTDIR\SendeLog.txt"
  Delete "$INSTDIR\SendeLog.alt.txt"
  Delete "$INSTDIR\KantiqWache.txt"
  Delete "$INSTDIR\KantiqWache.alt.txt"
  ; What S.exe keeps between runs: the SIM's state and the unsent messages.
  Delete "$INSTDIR\SIM-Status.txt"
  RMDir /r "$INSTDIR\Postausgang"
SectionEnd

LangString DESC_UnSecProgram ${LANG_GERMAN} "Die Programme, die Beispiele, die Kurzanleitung, das Startmenü und der Start beim Anmelden."
LangString DESC_UnSecData ${LANG_GERMAN} "Auch die Einrichtung (kantiq.toml, SMSConfig*.dat, die Kopien $\"(vorher)$\"), S.toml, die Protokolle, der SIM-Status und der Postausgang mit nicht gesendeten SMS. Ohne Haken bleiben sie."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} $(DESC_UnSecProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecData} $(DESC_UnSecData)
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Section "-un.folder"
  ; Only when nothing is left in it.
  RMDir "$INSTDIR"
SectionEnd
