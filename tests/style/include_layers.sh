#!/usr/bin/env bash
# Checks that the include graph keeps its layers: a lower folder never names a
# header of the folder above it, so the two never form a cycle.
#
#   include_layers.sh SOURCE_DIR
#
# Each rule is "lower upper": no file of the lower folder (its own files, not
# subfolders) includes a header found in the upper folder. A header is taken
# by the name the #include gives, resolved as the compiler would: beside the
# including file first, then in the folder where such a header lives.
set -uo pipefail
src=${1:?usage: include_layers.sh SOURCE_DIR}
cd "$src" || exit 2

rules=(
    "fm_plugin/frame fm_plugin/link"           # the link builds on the frame
    "hosts/acrobat hosts/acrobat/api"          # the API tables build on the host
)

failed=0
for rule in "${rules[@]}"; do
    read -r lower upper <<<"$rule"
    for f in "$lower"/*.h "$lower"/*.cpp; do
        [ -e "$f" ] || continue
        while read -r name; do
            base=${name##*/}
            # A name that resolves beside the includer is the includer's own.
            [ -e "$(dirname "$f")/$name" ] && [ "$(cd "$(dirname "$f")/$(dirname "$name")" && pwd)" != "$(cd "$upper" && pwd)" ] && continue
            if [ -e "$upper/$base" ]; then
                echo "FAIL: $f includes \"$name\" of $upper, the layer above it"
                failed=1
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
    done
done
[ $failed = 0 ] && echo "include layers hold: ${#rules[@]} rules"
exit $failed
