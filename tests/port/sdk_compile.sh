#!/usr/bin/env bash
# Compiles the two plug-ins' sources as a plug-in project on the platform
# would: against the SDK headers alone, laid out as the SDKs lay themselves
# out, with nothing of the hosts' view of them.
#
#   sdk_compile.sh layout  SOURCE_DIR CXX   every plug-in source passes -fsyntax-only, and
#                                          every header it names is its own, the bridge's
#                                          (bridge/, plain C++), a platform header, or a
#                                          header the real SDKs ship
#   sdk_compile.sh nodecl  SOURCE_DIR CXX [FILE...]
#                                          the sources (or FILEs) declare no SDK name
#                                          themselves: no SDK macro defined again, no SDK
#                                          function or variable declared again, no SDK type
#                                          name declared
set -uo pipefail
mode=$1 src=$2 cxx=$3
shift 3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The SDK trees as the SDKs ship them: FMWrapper/FMX*.h beside each other
# (the framework's Headers folder), and the Acrobat SDK's Headers/API and
# Headers/SDK folders.
fm_headers=(FMXExtern.h FMXClient.h FMXTypes.h FMXText.h FMXFixPt.h FMXDateTime.h FMXBinaryData.h FMXData.h
            FMXCalcEngine.h)
mkdir -p "$work/fmsdk/FMWrapper" "$work/acrosdk"
for h in "${fm_headers[@]}"; do cp "$src/platform/fmx/include/FMWrapper/$h" "$work/fmsdk/FMWrapper/"; done
cp -r "$src/platform/acrobat_sdk/Headers" "$work/acrosdk/"

# Header names the real SDKs ship that the plug-ins may name.
real_sdk_names=" ${fm_headers[*]/#/FMWrapper/} PIHeaders.h PIMain.h PICommon.h PIRequir.h PIVersn.h CorCalls.h ASCalls.h
  PDCalls.h AVCalls.h CosCalls.h ASExtraCalls.h FormsHFT.h AF_Sel.h AcroErr.h "
# The Mac platform's own headers (Foundation, Core Foundation, Carbon stand-ins).
platform_dirs=("$src/platform/foundation/include" "$src/platform/apple_events/include" "$src/platform/process/include")

# The bridge's words both plug-ins share: plain C++, part of either project.
bridge_dir=$src/bridge
# House code a plug-in builds in (plain POSIX C++), named as quill/<unit>/<header>.
house_dirs=("$src/common/paths/include")

platform_flags=()
for d in "${platform_dirs[@]}"; do platform_flags+=(-I "$d"); done
for d in "${house_dirs[@]}"; do platform_flags+=(-I "$d"); done
fm_flags=(-I "$work/fmsdk" -I "$src/fm_plugin" -I "$bridge_dir" "${platform_flags[@]}" -DQUILL_VERSION='"0"')
acro_flags=(-I "$work/acrosdk/Headers/API" -I "$work/acrosdk/Headers/SDK" -I
            "$src/acrobat_plugin/Samples/Starter_Torv/sources" -I "$bridge_dir" "${platform_flags[@]}" -DPLUGIN=1)
common=(-std=c++20 -fsyntax-only -Wall -Wextra -Wno-unused-parameter)

fm_sources=$(cd "$src" && find fm_plugin -name '*.cpp' | sort)
acro_sources=$(cd "$src" && find acrobat_plugin -name '*.cpp' | sort)
fm_files=$(cd "$src" && find fm_plugin -name '*.cpp' -o -name '*.h' | sort)
acro_files=$(cd "$src" && find acrobat_plugin -name '*.cpp' -o -name '*.h' | sort)

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# One compile per source, as many at once as there are processors.
compile_one() {  # source, compiler arguments...
    local f=$1
    shift
    "$@" || echo "FAIL: $f" >> "$work/failures"
}
compile_all() {  # extra flags...
    local f
    : > "$work/failures"
    for f in $fm_sources; do
        while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n; done
        compile_one "$f" "$cxx" "${common[@]}" "${fm_flags[@]}" "$@" "$src/$f" &
    done
    for f in $acro_sources $acrobat_pimain; do
        while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n; done
        compile_one "$f" "$cxx" -x c++ "${common[@]}" "${acro_flags[@]}" "$@" "$src/$f" &
    done
    wait
    if [ -s "$work/failures" ]; then
        cat "$work/failures"
        failed=1
    fi
}
acrobat_pimain=platform/acrobat_sdk/Headers/API/PIMain.c

check_include_names() {  # plug-in folder, files
    local root=$1 f name
    shift
    for f in "$@"; do
        while read -r name; do
            [ -e "$(dirname "$src/$f")/$name" ] && continue
            find "$src/$root" -path "*/$name" | grep -q . && continue
            case "$real_sdk_names" in *" $name "*) continue ;; esac
            [ -e "$bridge_dir/$name" ] && continue
            local found=0 d
            for d in "${platform_dirs[@]}" "${house_dirs[@]}"; do [ -e "$d/$name" ] && found=1; done
            [ $found = 1 ] || fail "$f includes \"$name\", which is neither its own, a platform or house header nor an SDK header"
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$src/$f")
    done
}

case $mode in
layout)
    compile_all
    # The shared header stands alone: no include path, nothing but the standard library.
    for h in "$bridge_dir"/*.h; do
        printf '#include "%s"\n' "$(basename "$h")" > "$work/alone.cpp"
        "$cxx" "${common[@]}" -Werror -I "$bridge_dir" "$work/alone.cpp" || fail "$h needs more than the standard library"
    done
    check_include_names fm_plugin $fm_files
    check_include_names acrobat_plugin $acro_files
    ;;
nodecl)
    files=("$@")
    if [ ${#files[@]} -eq 0 ]; then
        # Every SDK function or variable declared again is an error here.
        compile_all -Werror=redundant-decls
        for f in $fm_files $acro_files; do files+=("$src/$f"); done
    else
        for f in "${files[@]}"; do
            "$cxx" -x c++ "${common[@]}" "${fm_flags[@]}" "${acro_flags[@]}" -Werror=redundant-decls "$f" ||
                fail "$f"
        done
    fi
    # Every name the SDK headers define as a macro, and every type name they
    # declare (comments stripped).
    printf '#include "FMWrapper/%s"\n' "${fm_headers[@]}" > "$work/all.cpp"
    printf '#include "%s"\n' PIHeaders.h PIMain.h FormsHFT.h >> "$work/all.cpp"
    "$cxx" -x c++ -std=c++20 -E -dM "${fm_flags[@]}" "${acro_flags[@]}" "$work/all.cpp" | awk '{print $2}' |
        sed 's/(.*//' | sort -u > "$work/sdk_all_macros"
    echo | "$cxx" -x c++ -std=c++20 -E -dM - | awk '{print $2}' | sed 's/(.*//' | sort -u > "$work/builtin"
    # Macros of the standard and platform headers the SDK pulls in are not the SDK's.
    printf '#include <%s>\n' cstddef cstdint memory new stdexcept string string_view vector > "$work/std.cpp"
    printf '#include "%s"\n' CFBundle.h CFURL.h NSString.h MacTypes.h >> "$work/std.cpp"
    "$cxx" -x c++ -std=c++20 -E -dM "${platform_flags[@]}" "$work/std.cpp" | awk '{print $2}' | sed 's/(.*//' |
        sort -u >> "$work/builtin"
    sort -u -o "$work/builtin" "$work/builtin"
    comm -23 "$work/sdk_all_macros" "$work/builtin" > "$work/sdk_macros"
    for h in "$work"/fmsdk/FMWrapper/*.h "$work"/acrosdk/Headers/*/*.h; do
        "$cxx" -x c++ -fpreprocessed -dD -E "$h" 2>/dev/null
    done | grep -oE '\b(struct|class|union|enum|typedef[^;(]*|using)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*' |
        awk '{print $NF}' | sort -u > "$work/sdk_types"
    # GCC finds no redundant variable declaration: the SDK's extern globals by name.
    cat "$work"/fmsdk/FMWrapper/*.h "$work"/acrosdk/Headers/*/*.h |
        sed -n 's/^[[:space:]]*extern[[:space:]][^;(]*[[:space:]*]\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*;.*/\1/p' |
        sort -u > "$work/sdk_globals"
    for f in "${files[@]}"; do
        stripped=$("$cxx" -x c++ -fpreprocessed -dD -E "$f" 2>/dev/null)
        for name in $(sed -n 's/^[[:space:]]*#[[:space:]]*define[[:space:]]\+\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p' <<<"$stripped"); do
            grep -qx "$name" "$work/sdk_macros" && fail "$f defines the SDK macro $name"
        done
        for name in $(grep -oE '\b(struct|class|union|enum|typedef[^;(]*|using)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*' \
                <<<"$stripped" | awk '{print $NF}' | sort -u); do
            grep -qx "$name" "$work/sdk_types" && fail "$f declares the SDK type $name"
        done
        for name in $(sed -n 's/^[[:space:]]*extern[[:space:]][^;(]*[[:space:]*]\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*;.*/\1/p' \
                <<<"$stripped"); do
            grep -qx "$name" "$work/sdk_globals" && fail "$f declares the SDK global $name"
        done
    done
    ;;
*)
    echo "usage: $0 layout|nodecl SOURCE_DIR CXX [FILE...]" >&2
    exit 2
    ;;
esac
[ $failed = 0 ] && echo "all plug-in sources pass ($mode)"
exit $failed
