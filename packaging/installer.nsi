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

; Unregisters both DLLs and removes every file, the class keys and the uninstall entry.
; A DLL that cannot be loaded any more cannot unregister itself: its class keys go anyway.
!macro RemoveEverything
  ${If} $Dir64 != ""
  ${AndIf} ${FileExists} "$Dir64\ZeroconfNeighborhood.dll"
    !insertmacro ExecNative '"$WINDIR\System32\regsvr32.exe" /s /u "$Dir64\ZeroconfNeighborhood.dll"'
  ${EndIf}
  ${If} ${FileExists} "$Dir32\ZeroconfNeighborhood.dll"
    ExecWait '"$Regsvr32For32" /s /u "$Dir32\ZeroconfNeighborhood.dll"' $0
  ${EndIf}
  !insertmacro DeleteKeyInEveryView "${CLASS_KEY}"
  !insertmacro Detach
  ${If} $Dir64 != ""
    Delete "$Dir64\ZeroconfNeighborhood.dll"
    Delete "$Dir64\mDNS.dll"
  ${EndIf}
  Delete "$Dir32\ZeroconfNeighborhood.dll"
  Delete "$Dir32\mDNS.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$Dir32"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
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
  !insertmacro RemoveEverything
  !insertmacro TellTheShell
  MessageBox MB_ICONSTOP "${PRODUCT} could not be registered: regsvr32 failed on$\r$\n$R0$\r$\n(exit code $0). Nothing was installed." /SD IDOK
  SetErrorLevel 3
  Quit
FunctionEnd

Section "Install"
  ${If} $Dir64 != ""
    SetOutPath "$Dir64"
    File "${X86_64_DIR}/ZeroconfNeighborhood.dll"
    File "${X86_64_DIR}/mDNS.dll"
  ${EndIf}
  SetOutPath "$Dir32"
  File "${I686_DIR}/ZeroconfNeighborhood.dll"
  File "${I686_DIR}/mDNS.dll"

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
SectionEnd

Function un.onInit
  !insertmacro FindFolders
FunctionEnd

Section "Uninstall"
  !insertmacro RemoveEverything
  !insertmacro TellTheShell
SectionEnd
