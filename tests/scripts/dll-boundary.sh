#!/usr/bin/env bash
# TAVKO.SPI exports exactly the six entries, undecorated, under the name
# TAVKO.SPI, and imports nothing but Windows system DLLs.
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
name=$(sed -n 's/^Name[[:space:]]*[0-9a-f]*[[:space:]]*//p' <<<"$dump" | head -1)
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort -u | tr '\n' ' ')
imports=$(sed -n 's/.*DLL Name: //p' <<<"$dump" | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
echo "export name: $name"
echo "exports: $exports"
echo "imports: $imports"
status=0
[ "$name" = "TAVKO.SPI" ] || { echo "export directory name is '$name'"; status=1; }
[ "$exports" = "ConfigurationDlg GetPicture GetPictureInfo GetPluginInfo GetPreview IsSupported " ] ||
  { echo "unexpected export list"; status=1; }
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) echo "imports a DLL that is not a Windows system DLL: $dll"; status=1 ;;
  esac
done
file "$1" | grep -q "PE32 executable (DLL).*Intel 80386" || { echo "not a 32-bit PE DLL"; status=1; }
exit $status
