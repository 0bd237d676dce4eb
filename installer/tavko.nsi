; The TAVKO installer: the Susie plug-ins, both tavko commands and both QVX
; codecs for the Windows imaging component, into one folder, with the
; codecs registered for 32- and 64-bit programs and an uninstaller listed
; in Apps & Features. A 64-bit installer (64-bit Windows only; the zip
; serves 32-bit Windows). Made by scripts/package-windows.sh:
;   makensis -DVERSION=1.0.0 -DSTAGE=folder -DOUTFILE=tavko-1.0.0-setup.exe tavko.nsi
; /S installs or uninstalls silently; /D=folder (last) picks the folder.
; Without /D an installed copy is upgraded in its own folder.
; Exit codes (of the uninstaller too, run as uninstall.exe /S _?=folder):
;   0     done
;   2     a file could not be written or a codec could not be registered
;         (installer); a codec could not be unregistered, and then nothing
;         was removed (uninstaller)
;   3010  done, but a file a running program holds is replaced or removed
;         only when Windows restarts
Unicode true
Target amd64-unicode
!include LogicLib.nsh
!include FileFunc.nsh
SetCompressor /SOLID lzma
; No file dates in setup.exe: two builds of the same files are the same bytes.
SetDateSave off

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TAVKO"
!define CODEC_SERVER "Software\Classes\CLSID\{77230C5A-8A0D-49F3-A6B1-F977416E7BFF}\InprocServer32"
!define REGSVR64 "$WINDIR\System32\regsvr32.exe"
!define REGSVR32 "$WINDIR\SysWOW64\regsvr32.exe"

Name "TAVKO ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\TAVKO"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "TAVKO"
VIAddVersionKey "CompanyName" "TAVKO"
VIAddVersionKey "FileDescription" "TAVKO ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 the TAVKO authors. MIT licence"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Failed     ; a file could not be written, or a codec (un)registered
Var Restart    ; a file waits for Windows to restart

; Runs regsvr32 silently on a codec; a failure is noted in $Failed.
!macro Register REGSVR DLL OPTION
  ClearErrors
  ExecWait '"${REGSVR}" /s ${OPTION} "${DLL}"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "regsvr32 ${OPTION} failed for ${DLL} ($0)"
    StrCpy $Failed 1
  ${EndIf}
!macroend

; Puts a program file in place. One that a running program holds (a WIC
; client, Explorer's thumbnail host, a Susie host) cannot be overwritten
; but can be renamed: it is moved aside, removed when Windows restarts,
; and the new file takes its name at once. Where even that fails the new
; file takes its place at the restart. A file that cannot be written at
; all is noted in $Failed.
!macro Put NAME
  SetOverwrite try
  ClearErrors
  File "${STAGE}\${NAME}"
  ${If} ${Errors}
    StrCpy $R0 0  ; whether the new file is in place
    Delete "$INSTDIR\${NAME}.old"
    ClearErrors
    Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.old"
    ${IfNot} ${Errors}
      File "${STAGE}\${NAME}"
      ${If} ${Errors}
        Rename "$INSTDIR\${NAME}.old" "$INSTDIR\${NAME}"
      ${Else}
        StrCpy $R0 1
        Delete /REBOOTOK "$INSTDIR\${NAME}.old"
        DetailPrint "${NAME} was in use: replaced; its old copy goes when Windows restarts"
      ${EndIf}
    ${EndIf}
    ${If} $R0 == 0
      ClearErrors
      File "/oname=$INSTDIR\${NAME}.new" "${STAGE}\${NAME}"
      ${If} ${Errors}
        DetailPrint "${NAME} could not be written"
        StrCpy $Failed 1
      ${Else}
        Rename /REBOOTOK "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
        DetailPrint "${NAME} is in use by a running program: it is replaced when Windows restarts"
        StrCpy $Restart 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  SetOverwrite on
!macroend

Section "TAVKO"
  SetRegView 64
  StrCpy $Failed 0
  StrCpy $Restart 0
  SetOutPath "$INSTDIR"
  !insertmacro Put TAVKO.SPI
  !insertmacro Put TAVKO.SPH
  !insertmacro Put tavko.exe
  !insertmacro Put tavko64.exe
  !insertmacro Put TAVKOWIC32.dll
  !insertmacro Put TAVKOWIC64.dll
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\THIRD-PARTY-NOTICES.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "TAVKO ${VERSION} (QVX pictures)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the TAVKO authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavko64.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; What the folder holds, in KiB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  !insertmacro Register "${REGSVR64}" "$INSTDIR\TAVKOWIC64.dll" ""
  !insertmacro Register "${REGSVR32}" "$INSTDIR\TAVKOWIC32.dll" ""
  ${If} $Failed == 1
    SetErrorLevel 2
  ${ElseIf} $Restart == 1
    DetailPrint "Restart Windows to finish the installation."
    SetErrorLevel 3010
  ${EndIf}
SectionEnd

; Unregisters a codec when its registration (in the registry's VIEW) names
; this folder's file; another folder's registration is left alone.
!macro Unregister VIEW REGSVR DLL
  SetRegView ${VIEW}
  ReadRegStr $1 HKLM "${CODEC_SERVER}" ""
  SetRegView 64
  ${If} $1 == "${DLL}"
    !insertmacro Register "${REGSVR}" "${DLL}" "/u"
  ${EndIf}
!macroend

!macro Remove NAME
  Delete /REBOOTOK "$INSTDIR\${NAME}"
  Delete /REBOOTOK "$INSTDIR\${NAME}.old"
!macroend

Section "Uninstall"
  SetRegView 64
  StrCpy $Failed 0
  !insertmacro Unregister 32 "${REGSVR32}" "$INSTDIR\TAVKOWIC32.dll"
  !insertmacro Unregister 64 "${REGSVR64}" "$INSTDIR\TAVKOWIC64.dll"
  ${If} $Failed == 1
    ; Files removed under a registration would leave Windows a codec it
    ; cannot load; the entry stays so that the uninstaller can be run again.
    DetailPrint "Nothing was removed: a codec could not be unregistered."
    DetailPrint "Install TAVKO again into $INSTDIR, then uninstall it."
    SetErrorLevel 2
  ${Else}
    !insertmacro Remove TAVKO.SPI
    !insertmacro Remove TAVKO.SPH
    !insertmacro Remove tavko.exe
    !insertmacro Remove tavko64.exe
    !insertmacro Remove TAVKOWIC32.dll
    !insertmacro Remove TAVKOWIC64.dll
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    ; The entry is this folder's only while it names this folder.
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 == $INSTDIR
      DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${EndIf}
    ${If} ${RebootFlag}
      DetailPrint "Files in use by a running program are removed when Windows restarts."
      SetErrorLevel 3010
    ${EndIf}
  ${EndIf}
SectionEnd
