#!/usr/bin/env bash
# Relative paths in every path function name files in the folder
# filemaker-host runs in, whatever folder acrobat-host was started from: the
# plug-in sends the full path it checked, and acrobat-host works in "/".
# Real hosts, real PDFs; one session, one row a call.
#
#   paths_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
tmp=$(mktemp -d /tmp/quillmark-paths-test.XXXXXX)
export QUILLMARK_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$QUILLMARK_RUNTIME_DIR"
pid=""
cleanup() {
  "$build/bin/acrobat-host" --quit >/dev/null 2>&1
  # It writes its log until it is gone.
  for _ in $(seq 50); do [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null && sleep 0.1; done
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/work/sub" "$tmp/elsewhere"
cp "$src/examples/form.pdf" "$src/examples/appendix.pdf" "$tmp/work/"
count() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }
pages=$(($(count "$tmp/work/form.pdf") + 1 + $(count "$tmp/work/appendix.pdf")))  # one inserted, all appended
[[ -e /relative-out.pdf ]] && { echo "SKIP: /relative-out.pdf exists already"; exit 77; }

# acrobat-host is started from another folder than the session's.
(cd "$tmp/elsewhere" && "$build/bin/acrobat-host" --log "$tmp/acrobat.log" &)
for _ in $(seq 50); do
  pid=$(pgrep -f -- "--log $tmp/acrobat.log" | head -1)
  [[ -n "$pid" ]] && ls "$QUILLMARK_RUNTIME_DIR" | grep -q . && break
  sleep 0.1
done

# calculation | its answer
rows=(
  'Torv_OpenPDF ( "form.pdf" )|0'
  'Torv_InsertPages ( 1 ; "appendix.pdf" ; 1 ; 1 ; "true" )|0'
  'Torv_AppendPDF ( "appendix.pdf" )|0'
  'Torv_SaveAsPDF ( "relative-out.pdf" )|0'
  'Torv_SaveAsPDF ( "sub/inner.pdf" )|0'
  'Torv_ClosePDF|0'
  'Torv_OpenPDF ( "sub/inner.pdf" )|0'
  "Torv_GetNumPages|$pages"
  'Torv_ClosePDF|0'
  'Torv_OpenPDF ( "missing.pdf" )|!!ERROR!!'
  'Torv_DeletePDF ( "relative-out.pdf" )|0'
  'Torv_DeletePDF ( "relative-out.pdf" )|!!ERROR!!'
)
calcs=() expected=""
for r in "${rows[@]}"; do calcs+=("${r%|*}"); expected+="${r##*|}"$'\n'; done
got=$(cd "$tmp/work" && "$build/bin/filemaker-host" --extensions "$build/Extensions" eval "${calcs[@]}" 2>&1)$'\n'

fails=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fails=$((fails + 1)); fi; }
i=0
while IFS= read -r line; do
  want=$(sed -n "$((i + 1))p" <<<"$expected")
  check "${calcs[$i]} answers $want" '[[ "$line" == "$want" ]]'
  i=$((i + 1))
done < <(printf '%s' "$got")
check "one answer per call" "[[ $i -eq ${#rows[@]} ]]"
check "acrobat-host works in /" "[[ \"\$(readlink /proc/$pid/cwd)\" == / ]]"
check "the saved copy landed in a sub-folder of the session's folder" "[[ -f '$tmp/work/sub/inner.pdf' ]]"
check "nothing landed where acrobat-host was started" "[[ -z \"\$(ls '$tmp/elsewhere')\" ]]"
check "nothing landed in /" "[[ ! -e /relative-out.pdf && ! -e /sub/inner.pdf ]]"
check "the relative delete removed the session's file" "[[ ! -e '$tmp/work/relative-out.pdf' ]]"
[[ $fails -eq 0 ]] || { echo "answers were:"; printf '%s' "$got"; echo "$fails case(s) failed"; exit 1; }
