#!/usr/bin/env bash
# Checks the Windows programs and libraries below FOLDER without running
# them: each is a PE file for TRIPLET's machine, each program is
# large-address-aware (Windows takes the flag from the program alone), each
# imports only Windows's own libraries and those in FOLDER, and GfxCore.dll
# exports its two unpacking functions under their plain names (the C calling
# convention), so that any program can find them.
#   scripts/check-pe.sh TRIPLET FOLDER
set -euo pipefail
triplet=$1 folder=$2
case $triplet in
i686-*) format=pei-i386 magic='(PE32)' ;;
x86_64-*) format=pei-x86-64 magic='(PE32+)' ;;
*) echo "check-pe.sh: unknown target $triplet" >&2; exit 2 ;;
esac
# Windows's own libraries, as the import tables name them (any case).
system='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|msvcrt|winmm|imm32|uxtheme|dwmapi|version|userenv|netapi32|mpr|wtsapi32|ws2_32|dxgi|d3d11|d3d9|shlwapi|setupapi|crypt32|bcrypt|secur32|winspool\.drv|comctl32|propsys|api-ms-win-[a-z0-9-]+)\.dll$'
status=0 checked=0 gfxcore=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    headers=$("$triplet-objdump" -p "$file")
    name=${file#"$folder"/}
    fault() { echo "$name: $*"; status=1; }
    grep -q "file format $format\$" <<<"$headers" || fault "not $format"
    grep -q "^Magic.*$magic" <<<"$headers" || fault "not $magic"
    case $file in
    *.exe | *.EXE)
        grep -q '^[[:space:]]*large address aware' <<<"$headers" || fault "not large-address-aware" ;;
    esac
    while read -r dll; do
        if ! grep -qiE "$system" <<<"$dll" && [ -z "$(find "$folder" -iname "$dll" -print -quit)" ]; then
            fault "imports $dll, which is neither Windows's nor shipped"
        fi
    done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
    if [ "$(basename "$file")" = GfxCore.dll ]; then
        gfxcore=1
        for symbol in GfxCore_UnpackedSize GfxCore_Unpack; do
            grep -qE "^[[:space:]]*\[ *[0-9]+\] $symbol\$" <<<"$headers" ||
                fault "does not export $symbol under that name"
        done
    fi
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ "$checked" -gt 0 ] || { echo "check-pe.sh: no programs or libraries in $folder"; exit 1; }
[ "$gfxcore" -eq 1 ] || { echo "check-pe.sh: no GfxCore.dll in $folder"; exit 1; }
[ "$status" -eq 0 ] && echo "PE headers of $checked files: $format, large-address-aware, imports Windows's and ours"
exit $status
