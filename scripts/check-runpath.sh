#!/usr/bin/env bash
# Fails when any ELF file below the given folders has an empty or relative
# RUNPATH or RPATH entry: the loader reads those against the working folder,
# so a library planted there would be loaded into our programs.
#   scripts/check-runpath.sh FOLDER...
set -euo pipefail
status=0
checked=0
while IFS= read -r -d '' file; do
    [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    checked=$((checked + 1))
    paths=$(readelf -d "$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
    [ -n "$paths" ] || continue
    IFS=':' read -r -a entries <<<"$paths"
    # A trailing ":" leaves no element for read: count separators instead.
    if [ "${#entries[@]}" -ne $(($(tr -cd ':' <<<"$paths" | wc -c) + 1)) ]; then
        entries+=("")
    fi
    for entry in "${entries[@]}"; do
        case "$entry" in
        /* | '$ORIGIN' | '$ORIGIN/'*) ;;
        *)
            echo "$file: RUNPATH '$paths' has the entry '$entry', read from the working folder"
            status=1
            ;;
        esac
    done
done < <(find "$@" -type f -print0)
if [ "$checked" -eq 0 ]; then
    echo "no ELF files found in $*"
    exit 1
fi
[ "$status" -eq 0 ] && echo "RUNPATH of $checked ELF files: every entry absolute or \$ORIGIN"
exit $status
