; The TAVKO installer: the Susie plug-ins, both tavko commands and both QVX
; codecs for the Windows imaging component, into one folder, with the
; codecs registered for 32- and 64-bit programs and an uninstaller listed
; in Apps & Features. A 64-bit installer (64-bit Windows only; the zip
; serves 32-bit Windows). Made by scripts/package-windows.sh:
;   makensis -DVERSION=1.0.0 -DSTAGE=folder -DOUTFILE=tavko-1.0.0-setup.exe tavko.nsi
; /S installs or uninstalls silently; /D=folder (last) picks the folder.
; The exit code is 2 when a codec could not be registered.
Unicode true
Target amd64-unicode
!include LogicLib.nsh
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TAVKO"
!define REGSVR64 "$WINDIR\System32\regsvr32.exe"
!define REGSVR32 "$WINDIR\SysWOW64\regsvr32.exe"

Name "TAVKO ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\TAVKO"
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

; Runs regsvr32 silently on a codec; a failure sets the exit code to 2.
!macro Register REGSVR DLL OPTION
  ClearErrors
  ExecWait '"${REGSVR}" /s ${OPTION} "${DLL}"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "regsvr32 ${OPTION} failed for ${DLL} ($0)"
    SetErrorLevel 2
  ${EndIf}
!macroend

Section "TAVKO"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${STAGE}\TAVKO.SPI"
  File "${STAGE}\TAVKO.SPH"
  File "${STAGE}\tavko.exe"
  File "${STAGE}\tavko64.exe"
  File "${STAGE}\TAVKOWIC32.dll"
  File "${STAGE}\TAVKOWIC64.dll"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
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
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" 2048

  !insertmacro Register "${REGSVR64}" "$INSTDIR\TAVKOWIC64.dll" ""
  !insertmacro Register "${REGSVR32}" "$INSTDIR\TAVKOWIC32.dll" ""
SectionEnd

Section "Uninstall"
  SetRegView 64
  !insertmacro Register "${REGSVR32}" "$INSTDIR\TAVKOWIC32.dll" "/u"
  !insertmacro Register "${REGSVR64}" "$INSTDIR\TAVKOWIC64.dll" "/u"
  Delete "$INSTDIR\TAVKO.SPI"
  Delete "$INSTDIR\TAVKO.SPH"
  Delete "$INSTDIR\tavko.exe"
  Delete "$INSTDIR\tavko64.exe"
  Delete "$INSTDIR\TAVKOWIC32.dll"
  Delete "$INSTDIR\TAVKOWIC64.dll"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
