#!/usr/bin/env bash
# The plug-in exports exactly its entries, undecorated, under its own name,
# and imports nothing but Windows system DLLs.
#   dll-boundary.sh build/win32/TAVKO.SPI   (32-bit: the six entries)
#   dll-boundary.sh build/win64/TAVKO.SPH   (64-bit: the six and five wide ones)
#   dll-boundary.sh build/win*/TAVKOWIC.dll (the codec: COM's four entries)
set -euo pipefail
dll=$1
base=$(basename "$dll")
six="ConfigurationDlg GetPicture GetPictureInfo GetPluginInfo GetPreview IsSupported"
case $base in
  TAVKO.SPI) objdump=i686-w64-mingw32-objdump want="$six " format="PE32 executable (DLL).*Intel 80386" ;;
  TAVKO.SPH) objdump=x86_64-w64-mingw32-objdump format="PE32+ executable (DLL).*x86-64"
             want="$(printf '%s\n' $six GetPictureInfoW GetPictureW GetPluginInfoW GetPreviewW IsSupportedW | sort | tr '\n' ' ')" ;;
  TAVKOWIC.dll)
    want="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " system="OLE32.DLL SHELL32.DLL"
    if file "$dll" | grep -q x86-64; then objdump=x86_64-w64-mingw32-objdump format="PE32+ executable (DLL).*x86-64"
    else objdump=i686-w64-mingw32-objdump format="PE32 executable (DLL).*Intel 80386"; fi ;;
  *) echo "not a plug-in module: $dll"; exit 2 ;;
esac
dump=$($objdump -p "$dll")
name=$(sed -n 's/^Name[[:space:]]*[0-9a-f]*[[:space:]]*//p' <<<"$dump" | head -1)
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort -u | tr '\n' ' ')
imports=$(sed -n 's/.*DLL Name: //p' <<<"$dump" | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
echo "export name: $name"
echo "exports ($(wc -w <<<"$exports")): $exports"
echo "imports: $imports"
status=0
[ "$name" = "$base" ] || { echo "export directory name is '$name'"; status=1; }
[ "$exports" = "$want" ] || { echo "unexpected export list"; status=1; }
for import in $imports; do
  case " ${system:-} " in *" $import "*) continue ;; esac
  case "$import" in
    KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) echo "imports a DLL that is not a Windows system DLL: $import"; status=1 ;;
  esac
done
file "$dll" | grep -q "$format" || { echo "not the expected PE DLL: $(file "$dll")"; status=1; }
exit $status
