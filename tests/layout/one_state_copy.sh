#!/usr/bin/env bash
# Checks that one process holds one copy of each platform library's state.
#
#   one_state_copy.sh --libs LIB... --with FILE...
#
# Every LIB is a platform library as it is loaded (a shared object); every
# FILE is something loaded into the same process (the host, a plug-in
# bundle). A global variable of a LIB (a data or bss symbol, a function's
# static, an inline variable) that is also defined in another LIB or in a
# FILE is a second copy of that state: the two copies drift apart (a
# reference registered in one is unknown to the other). Each such symbol is
# listed and the check fails.
set -euo pipefail

libs=()
with=()
mode=""
for a in "$@"; do
  case "$a" in
    --libs) mode=libs ;;
    --with) mode=with ;;
    *)
      [[ -n "$mode" ]] || { echo "usage: $0 --libs LIB... --with FILE..." >&2; exit 2; }
      if [[ $mode == libs ]]; then libs+=("$a"); else with+=("$a"); fi
      ;;
  esac
done
[[ ${#libs[@]} -gt 0 ]] || { echo "no library to check" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The demangled names of the data symbols a file defines, without what the
# toolchain puts into every object (section markers, exception-handling
# references, the guard of a translation unit's thread-local objects, the standard library's own
# statics, type information).
state_of() {
  local out
  out=$(nm -C --defined-only "$1" 2>&1) || { echo "nm cannot read $1: $out" >&2; return 1; }
  [[ -n "$out" ]] || { echo "$1 has no symbol table (stripped?)" >&2; return 1; }
  printf '%s\n' "$out" | awk '$2 ~ /^[bBdDuV]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
    grep -Ev '^(DW\.ref\.|_DYNAMIC$|_GLOBAL_OFFSET_TABLE_$|__TMC_END__$|__bss_start$|_edata$|_end$|completed\.[0-9]+$|__tls_guard$|__dso_handle$|__frame_dummy_init_array_entry$|__do_global_dtors_aux_fini_array_entry$|typeinfo |vtable |VTT |construction vtable |std::|__gnu_cxx::|guard variable for std::)' |
    sort -u || true
}

i=0
for f in "${libs[@]}" "${with[@]}"; do
  state_of "$f" > "$tmp/$i" || exit 1
  names[$i]="$f"
  i=$((i + 1))
done

failed=0
for ((l = 0; l < ${#libs[@]}; l++)); do
  count=$(wc -l < "$tmp/$l")
  for ((o = 0; o < i; o++)); do
    [[ $o -eq $l ]] && continue
    dup=$(comm -12 "$tmp/$l" "$tmp/$o")
    if [[ -n "$dup" ]]; then
      echo "FAIL: $(basename "${names[$o]}") holds its own copy of state of $(basename "${names[$l]}"):"
      printf '  %s\n' "$dup" | head -20
      failed=1
    fi
  done
  echo "$(basename "${names[$l]}"): $count globals, checked against $((i - 1)) other files"
done
exit $failed
