#!/usr/bin/env bash
# Checks that a Windows program folder is whole: every DLL that each .exe and
# .dll in it imports is either in the folder (beside the programs) or one of
# Windows' own DLLs. Fails naming what is missing, so a folder that would
# fail to start on a clean Windows is never shipped.
#   check-windows-imports.sh FOLDER
set -euo pipefail
folder=$1
objdump=x86_64-w64-mingw32-objdump

# Windows' own DLLs the programs and Qt may import: all are part of every
# Windows 7 and later installation (api-ms-win-* are its API sets).
system_dll() {
  case "${1,,}" in
    kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll | advapi32.dll | shell32.dll | ole32.dll | \
      oleaut32.dll | uxtheme.dll | dwmapi.dll | imm32.dll | winmm.dll | version.dll | comdlg32.dll | \
      wtsapi32.dll | netapi32.dll | userenv.dll | mpr.dll | shlwapi.dll | ws2_32.dll | comctl32.dll | \
      setupapi.dll | shcore.dll | dwrite.dll | d3d9.dll | d3d11.dll | dxgi.dll | crypt32.dll | \
      bcrypt.dll | ntdll.dll | api-ms-win-*.dll) return 0 ;;
  esac
  return 1
}

shipped=$(cd "$folder" && find . -maxdepth 1 -type f -iname '*.dll' -printf '%f\n' | tr 'A-Z' 'a-z')
missing=0
checked=0
while IFS= read -r -d '' binary; do
  checked=$((checked + 1))
  while read -r dll; do
    if system_dll "$dll"; then continue; fi
    if grep -qxF "${dll,,}" <<<"$shipped"; then continue; fi
    echo "check-windows-imports: ${binary#$folder/} imports $dll, which is neither in the folder nor part of Windows" >&2
    missing=$((missing + 1))
  done < <("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)

if [ "$checked" -eq 0 ]; then
  echo "check-windows-imports: no program or DLL in $folder" >&2
  exit 1
fi
if [ "$missing" -ne 0 ]; then
  exit 1
fi
echo "check-windows-imports: $checked programs and DLLs, every import found" >&2
