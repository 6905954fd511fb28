; The Windows installer of Glimmerwall, built with makensis:
;   makensis -DSCR=<Glimmerwall.scr> -DOUTFILE=<setup.exe> [-DFREEIMAGE=<FreeImage.dll>] glimmerwall.nsi
; Installs for the current user without administrator rights; /ALLUSERS, when run elevated,
; installs for every user. /S installs silently.
Target amd64-unicode
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!ifndef SCR
  !error "SCR must name Glimmerwall.scr"
!endif
!ifndef OUTFILE
  !define OUTFILE "Glimmerwall-setup.exe"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerwall"

Name "Glimmerwall"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Glimmerwall"
SetCompressor /SOLID lzma
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var AllUsers

Function .onInit
  SetRegView 64
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 == "Admin"
      StrCpy $AllUsers 1
      SetShellVarContext all
      StrCpy $INSTDIR "$PROGRAMFILES64\Glimmerwall"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Glimmerwall"
  SetOutPath "$INSTDIR"
  File "/oname=Glimmerwall.scr" "${SCR}"
!ifdef FREEIMAGE
  File "/oname=FreeImage.dll" "${FREEIMAGE}"
!endif
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The installing user's screen saver, whoever else the program is for.
  WriteRegStr HKCU "Control Panel\Desktop" "SCRNSAVE.EXE" "$INSTDIR\Glimmerwall.scr"
  WriteRegStr HKCU "Control Panel\Desktop" "ScreenSaveActive" "1"

  ; The user's own settings, from the example, only where there are none yet.
  SetShellVarContext current
  ${IfNot} ${FileExists} "$APPDATA\Glimmerwall\Glimmerwall.cfg"
    SetOutPath "$APPDATA\Glimmerwall"
    File "/oname=Glimmerwall.cfg" "Glimmerwall.example.cfg"
    FileOpen $0 "$APPDATA\Glimmerwall\Glimmerwall.cfg" a
    FileSeek $0 0 END
    FileWrite $0 "dossier $PICTURES$\r$\n"
    FileClose $0
  ${EndIf}
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${EndIf}

  ${If} $AllUsers == 1
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Glimmerwall"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /ALLUSERS'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /ALLUSERS /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Glimmerwall.scr"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Glimmerwall"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${Else}
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Glimmerwall"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Glimmerwall.scr"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Glimmerwall"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    SetShellVarContext all
  ${EndIf}
FunctionEnd

; What the installer put in place goes; the user's settings stay.
Section "Uninstall"
  ReadRegStr $0 HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${If} $0 == "$INSTDIR\Glimmerwall.scr"
    DeleteRegValue HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${EndIf}
  Delete "$INSTDIR\Glimmerwall.scr"
  Delete "$INSTDIR\FreeImage.dll"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $AllUsers == 1
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Else}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
