#!/usr/bin/env bash
# Bench: page edits end to end through filemaker-host (pipe mode) and
# acrobat-host. For N-page documents (1,000, 5,000, 10,000 pages) it times
# Torv_DeletePages ( 2 ; N-1 ) and the Torv_SavePDF that makes the edit, each
# as the difference between two sessions that differ by that call alone
# (median of RUNS). Every session ends with Torv_ClosePDF.
#
#   bench/e2e/page_edits.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build="${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}"
runs="${2:-5}"
fixtures="$(cd "$(dirname "$0")/../.." && pwd)/tests/fixtures/pdfs"
# $work, and an acrobat-host of the bench's own, stopped at exit.
# shellcheck source=SCRIPTDIR/private-runtime.sh
source "$(dirname "$0")/private-runtime.sh"

# Milliseconds one session of calls (a file, one call per line) takes.
session_ms() {
  local t0 t1
  t0=$(date +%s%N)
  "$build/bin/filemaker-host" < "$1" > "$work/out.txt"
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000000 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Median over RUNS of session B minus session A, each run on a fresh copy.
diff_ms() {
  local a="$1" b="$2" i
  for ((i = 0; i < runs; i++)); do
    cp "$work/src.pdf" "$work/doc.pdf"
    local ta tb
    ta=$(session_ms "$a")
    cp "$work/src.pdf" "$work/doc.pdf"
    tb=$(session_ms "$b")
    echo $((tb - ta))
  done | median
}

printf '%8s  %12s  %12s\n' pages "delete ms" "save ms"
for n in 1000 5000 10000; do
  args=()
  for ((left = n; left > 0; left -= 55)); do
    if ((left >= 55)); then args+=("$fixtures/pdkids.pdf" 1-55); else args+=("$fixtures/pdkids.pdf" "1-$left"); fi
  done
  qpdf --empty --pages "${args[@]}" -- "$work/src.pdf"
  open="Torv_OpenPDF ( \"$work/doc.pdf\" )"
  del="Torv_DeletePages ( 2 ; $((n - 1)) )"
  printf '%s\n' "$open" "Torv_GetNumPages" "Torv_ClosePDF" > "$work/a.txt"
  printf '%s\n' "$open" "Torv_GetNumPages" "$del" "Torv_ClosePDF" > "$work/b.txt"
  printf '%s\n' "$open" "Torv_GetNumPages" "$del" "Torv_SavePDF" "Torv_ClosePDF" > "$work/c.txt"
  "$build/bin/filemaker-host" < "$work/a.txt" > /dev/null  # warm: the application is running now
  d=$(diff_ms "$work/a.txt" "$work/b.txt")
  s=$(diff_ms "$work/b.txt" "$work/c.txt")
  printf '%8d  %12s  %12s\n' "$n" "$d" "$s"
done
