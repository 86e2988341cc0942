; The Windows installer of My Zeroconf Neighborhood, built by makensis from the packaging
; project (packaging/CMakeLists.txt), which defines VERSION, X86_64_DIR, I686_DIR and
; OUTFILE.
;
; On 64-bit Windows the x86_64 DLLs go under Program Files and are registered by the
; 64-bit regsvr32 (System32), the i686 ones under Program Files (x86), registered by the
; 32-bit one (SysWOW64): 64-bit Explorer and 32-bit programs' file dialogs both see the
; folder. On 32-bit Windows the i686 DLLs only. Silent use:
;   ZeroconfNeighborhood-VERSION-setup.exe /S [/ATTACH=thispc|desktop|none]
;   "...\uninstall.exe" /S
; Explorer keeps the DLLs loaded once it has shown the folder: a DLL in use is renamed
; aside (Windows lets a loaded image be renamed), the new one takes its name, and the old
; one is deleted at the next restart; then the exit code is 3010. A DLL that can be
; neither replaced nor renamed stops the install with exit code 4, nothing changed.
Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma
; The files get the time of the install, so the installer does not depend on the build's.
SetDateSave off
RequestExecutionLevel admin

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define PRODUCT "My Zeroconf Neighborhood"
!define PUBLISHER "My Zeroconf Neighborhood developers"
!define FOLDER_NAME "Zeroconf Neighborhood"
!define CLSID "{7AB84743-C00F-461C-A671-C7D161463E51}"
!define CLASS_KEY "Software\Classes\CLSID\${CLSID}"
!define EXPLORER_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZeroconfNeighborhood"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${FOLDER_NAME}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT licence, ${PUBLISHER}"

Var Attach        ; thispc, desktop or none
Var Dir64         ; the x86_64 DLLs' folder; empty on 32-bit Windows
Var Dir32         ; the i686 DLLs' folder
Var Regsvr32For32 ; the regsvr32 that loads 32-bit DLLs
Var RestartNeeded ; 1 when a file in use is left to be deleted at the next restart
Var Aside64Folder ; where each earlier DLL went aside during the install; empty when there
Var Aside64Mdns   ; was none, or when it has been put back
Var Aside32Folder
Var Aside32Mdns
Var RadioThisPc
Var RadioDesktop
Var RadioNone

Page custom AttachPage AttachPageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The folders and registry view of this machine; the uninstaller lives with the DLLs that
; Explorer loads.
!macro FindFolders
  ${If} ${RunningX64}
    SetRegView 64
    StrCpy $Dir64 "$PROGRAMFILES64\${FOLDER_NAME}"
    StrCpy $Dir32 "$PROGRAMFILES32\${FOLDER_NAME}"
    StrCpy $Regsvr32For32 "$WINDIR\SysWOW64\regsvr32.exe"
    StrCpy $INSTDIR $Dir64
  ${Else}
    StrCpy $Dir64 ""
    StrCpy $Dir32 "$PROGRAMFILES32\${FOLDER_NAME}"
    StrCpy $Regsvr32For32 "$WINDIR\System32\regsvr32.exe"
    StrCpy $INSTDIR $Dir32
  ${EndIf}
!macroend

; Runs a command of the native architecture (System32 unredirected); $0 is its exit code.
!macro ExecNative COMMAND
  ${DisableX64FSRedirection}
  ExecWait `${COMMAND}` $0
  ${EnableX64FSRedirection}
!macroend

; Deletes KEY under HKLM in the 64-bit and the 32-bit registry views (one on 32-bit Windows).
!macro DeleteKeyInEveryView KEY
  DeleteRegKey HKLM "${KEY}"
  ${If} ${RunningX64}
    SetRegView 32
    DeleteRegKey HKLM "${KEY}"
    SetRegView 64
  ${EndIf}
!macroend

!macro WriteAttachKey PLACE
  WriteRegStr HKLM "${EXPLORER_KEY}\${PLACE}\NameSpace\${CLSID}" "" "${PRODUCT}"
  ${If} ${RunningX64}
    SetRegView 32
    WriteRegStr HKLM "${EXPLORER_KEY}\${PLACE}\NameSpace\${CLSID}" "" "${PRODUCT}"
    SetRegView 64
  ${EndIf}
!macroend

!macro Detach
  !insertmacro DeleteKeyInEveryView "${EXPLORER_KEY}\MyComputer\NameSpace\${CLSID}"
  !insertmacro DeleteKeyInEveryView "${EXPLORER_KEY}\Desktop\NameSpace\${CLSID}"
!macroend

; Renames the file $R0 aside, to the first free name $R0.oldN, given in $R1; $R1 is empty
; when there is no such file, and the error flag is set when it cannot be renamed.
!macro MoveAsideFunction UN
  Function ${UN}MoveAside
    StrCpy $R1 ""
    ClearErrors
    ${IfNot} ${FileExists} $R0
      Return
    ${EndIf}
    StrCpy $R2 1
    ${While} ${FileExists} "$R0.old$R2"
      IntOp $R2 $R2 + 1
    ${EndWhile}
    Rename $R0 "$R0.old$R2"
    ${IfNot} ${Errors}
      StrCpy $R1 "$R0.old$R2"
    ${Else}
      SetErrors ; testing it cleared it
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro MoveAsideFunction ""
!insertmacro MoveAsideFunction "un."

; Deletes the file $R0. One in use is deleted at the next restart, under another name, so
; that a version installed before then keeps its files.
!macro RemoveFileFunction UN
  Function ${UN}RemoveFile
    Delete $R0
    ${If} ${FileExists} $R0
      Call ${UN}MoveAside
      ${If} $R1 == ""
        StrCpy $R1 $R0
      ${EndIf}
      Delete /REBOOTOK $R1
      DetailPrint "$R0 is in use: it is deleted when Windows restarts"
      StrCpy $RestartNeeded 1
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro RemoveFileFunction ""
!insertmacro RemoveFileFunction "un."

; A folder that still holds files in use goes at the next restart, after them.
!macro RemoveFolder DIR
  RMDir "${DIR}"
  ${If} ${FileExists} "${DIR}\*.*"
    RMDir /REBOOTOK "${DIR}"
  ${EndIf}
!macroend

; Unregisters both DLLs and removes every file, the class keys and the uninstall entry.
; A DLL that cannot be loaded any more cannot unregister itself: its class keys go anyway.
!macro RemoveEverything UN
  ${If} $Dir64 != ""
  ${AndIf} ${FileExists} "$Dir64\ZeroconfNeighborhood.dll"
    !insertmacro ExecNative '"$WINDIR\System32\regsvr32.exe" /s /u "$Dir64\ZeroconfNeighborhood.dll"'
  ${EndIf}
  ${If} ${FileExists} "$Dir32\ZeroconfNeighborhood.dll"
    ExecWait '"$Regsvr32For32" /s /u "$Dir32\ZeroconfNeighborhood.dll"' $0
  ${EndIf}
  !insertmacro DeleteKeyInEveryView "${CLASS_KEY}"
  !insertmacro Detach
  !insertmacro ForEachDll RemoveDll "${UN}"
  Delete "$INSTDIR\uninstall.exe"
  !insertmacro RemoveFolder "$Dir32"
  !insertmacro RemoveFolder "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
!macroend
!macro RemoveDll DLL ASIDE UN
  StrCpy $R0 "${DLL}"
  Call ${UN}RemoveFile
!macroend

; Expands MACRO DLL ASIDE ARGUMENT for each installed DLL and the variable that holds where
; it went aside.
!macro ForEachDll MACRO ARGUMENT
  ${If} $Dir64 != ""
    !insertmacro ${MACRO} "$Dir64\ZeroconfNeighborhood.dll" $Aside64Folder "${ARGUMENT}"
    !insertmacro ${MACRO} "$Dir64\mDNS.dll" $Aside64Mdns "${ARGUMENT}"
  ${EndIf}
  !insertmacro ${MACRO} "$Dir32\ZeroconfNeighborhood.dll" $Aside32Folder "${ARGUMENT}"
  !insertmacro ${MACRO} "$Dir32\mDNS.dll" $Aside32Mdns "${ARGUMENT}"
!macroend

!macro SayRestartNeeded
  ${If} $RestartNeeded == 1
    DetailPrint "Restart Windows to finish: programs that have the folder open keep the earlier version until then"
    SetErrorLevel 3010
  ${EndIf}
!macroend

!macro TellTheShell
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
!macroend

Function .onInit
  !insertmacro FindFolders
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ATTACH=" $Attach
  ${If} ${Errors}
    ; Installing over an earlier version keeps where it was shown.
    StrCpy $Attach "thispc"
    ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    ${If} $R1 != ""
      StrCpy $Attach "none"
      ClearErrors
      ReadRegStr $R1 HKLM "${EXPLORER_KEY}\Desktop\NameSpace\${CLSID}" ""
      ${IfNot} ${Errors}
        StrCpy $Attach "desktop"
      ${EndIf}
      ClearErrors
      ReadRegStr $R1 HKLM "${EXPLORER_KEY}\MyComputer\NameSpace\${CLSID}" ""
      ${IfNot} ${Errors}
        StrCpy $Attach "thispc"
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $Attach != "thispc"
  ${AndIf} $Attach != "desktop"
  ${AndIf} $Attach != "none"
    MessageBox MB_ICONSTOP "/ATTACH= takes thispc, desktop or none, not $\"$Attach$\"." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Function AttachPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "Where should Explorer show ${PRODUCT}?"
  Pop $0
  ${NSD_CreateRadioButton} 10u 30u 100% 12u "Under This PC"
  Pop $RadioThisPc
  ${NSD_CreateRadioButton} 10u 46u 100% 12u "On the Desktop"
  Pop $RadioDesktop
  ${NSD_CreateRadioButton} 10u 62u 100% 12u "Nowhere (a folder junction can still open it)"
  Pop $RadioNone
  ${If} $Attach == "desktop"
    ${NSD_Check} $RadioDesktop
  ${ElseIf} $Attach == "none"
    ${NSD_Check} $RadioNone
  ${Else}
    ${NSD_Check} $RadioThisPc
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function AttachPageLeave
  StrCpy $Attach "thispc"
  ${NSD_GetState} $RadioDesktop $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Attach "desktop"
  ${EndIf}
  ${NSD_GetState} $RadioNone $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $Attach "none"
  ${EndIf}
FunctionEnd

; A registration that failed takes back everything, the files of an earlier version too,
; and stops with the reason.
Function RegistrationFailed
  Pop $R0
  DetailPrint "Registering $R0 failed (regsvr32 exit code $0); taking everything back"
  ; A folder that is the current directory cannot be removed.
  SetOutPath "$TEMP"
  !insertmacro RemoveEverything ""
  !insertmacro TellTheShell
  MessageBox MB_ICONSTOP "${PRODUCT} could not be registered: regsvr32 failed on$\r$\n$R0$\r$\n(exit code $0). Nothing was installed." /SD IDOK
  SetErrorLevel 3
  Quit
FunctionEnd

!macro PutBack DLL ASIDE UNUSED
  Delete "${DLL}.new"
  ${If} ${ASIDE} != ""
    Delete "${DLL}"
    Rename ${ASIDE} "${DLL}"
    StrCpy ${ASIDE} ""
  ${EndIf}
!macroend
; A DLL that could be neither written nor renamed ($R0) stops the install: every file goes
; back as it was, and the earlier version stays installed.
Function ReplacingFailed
  DetailPrint "$R0 could be neither written nor renamed; putting the installed files back"
  !insertmacro ForEachDll PutBack ""
  ; The folders go only when this install made them.
  SetOutPath "$TEMP"
  RMDir "$Dir32"
  ${If} $Dir64 != ""
    RMDir "$Dir64"
  ${EndIf}
  MessageBox MB_ICONSTOP "${PRODUCT} could not be installed: $R0 could be neither written nor renamed (a program holds it open). Nothing was changed: close that program, or restart Windows, and run setup again." /SD IDOK
  SetErrorLevel 4
  Quit
FunctionEnd

; Each new DLL is written beside the installed one first, as DLL.new.
!macro WriteNew SOURCE_DIR DIR NAME
  ClearErrors
  File "/oname=${NAME}.new" "${SOURCE_DIR}/${NAME}"
  ${If} ${Errors}
    StrCpy $R0 "${DIR}\${NAME}.new"
    Call ReplacingFailed
  ${EndIf}
!macroend
; Then every installed one goes aside: a loaded DLL cannot be overwritten, but renamed.
!macro SetAside DLL ASIDE UNUSED
  StrCpy $R0 "${DLL}"
  Call MoveAside
  StrCpy ${ASIDE} $R1
  ${If} ${Errors}
    Call ReplacingFailed
  ${EndIf}
!macroend
; Then the new ones take their names.
!macro PutInPlace DLL ASIDE UNUSED
  ClearErrors
  Rename "${DLL}.new" "${DLL}"
  ${If} ${Errors}
    StrCpy $R0 "${DLL}"
    Call ReplacingFailed
  ${EndIf}
!macroend
; Last the earlier ones go, or, where a program still has one loaded, at the next restart.
!macro DeleteAside DLL ASIDE UNUSED
  ${If} ${ASIDE} != ""
    Delete /REBOOTOK ${ASIDE}
    ${If} ${FileExists} ${ASIDE}
      DetailPrint "${DLL} is in use: the new version is in place, the one in use (${ASIDE}) is deleted when Windows restarts"
      StrCpy $RestartNeeded 1
    ${EndIf}
  ${EndIf}
!macroend

Section "Install"
  SetOverwrite try
  ${If} $Dir64 != ""
    SetOutPath "$Dir64"
    !insertmacro WriteNew "${X86_64_DIR}" "$Dir64" ZeroconfNeighborhood.dll
    !insertmacro WriteNew "${X86_64_DIR}" "$Dir64" mDNS.dll
  ${EndIf}
  SetOutPath "$Dir32"
  !insertmacro WriteNew "${I686_DIR}" "$Dir32" ZeroconfNeighborhood.dll
  !insertmacro WriteNew "${I686_DIR}" "$Dir32" mDNS.dll
  !insertmacro ForEachDll SetAside ""
  !insertmacro ForEachDll PutInPlace ""
  !insertmacro ForEachDll DeleteAside ""

  ${If} $Dir64 != ""
    !insertmacro ExecNative '"$WINDIR\System32\regsvr32.exe" /s "$Dir64\ZeroconfNeighborhood.dll"'
    ${If} $0 != 0
      Push "$Dir64\ZeroconfNeighborhood.dll"
      Call RegistrationFailed
    ${EndIf}
  ${EndIf}
  ExecWait '"$Regsvr32For32" /s "$Dir32\ZeroconfNeighborhood.dll"' $0
  ${If} $0 != 0
    Push "$Dir32\ZeroconfNeighborhood.dll"
    Call RegistrationFailed
  ${EndIf}

  !insertmacro Detach
  ${If} $Attach == "thispc"
    !insertmacro WriteAttachKey "MyComputer"
  ${ElseIf} $Attach == "desktop"
    !insertmacro WriteAttachKey "Desktop"
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${GetSize} "$Dir32" "/S=0K" $1 $2 $3
  ${If} $Dir64 != ""
    ${GetSize} "$Dir64" "/S=0K" $4 $2 $3
    IntOp $1 $1 + $4
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ZeroconfNeighborhood.dll,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro TellTheShell
  !insertmacro SayRestartNeeded
SectionEnd

Function un.onInit
  !insertmacro FindFolders
FunctionEnd

Section "Uninstall"
  !insertmacro RemoveEverything "un."
  !insertmacro TellTheShell
  !insertmacro SayRestartNeeded
  ; This runs as a copy of the uninstaller in a temporary folder of its own, which leaves
  ; the copy to be deleted at the next restart: the folder goes then too.
  ${GetFileName} "$EXEDIR" $R0
  StrCpy $R0 $R0 4
  ${If} $R0 == "~nsu"
    RMDir /REBOOTOK "$EXEDIR"
  ${EndIf}
SectionEnd
