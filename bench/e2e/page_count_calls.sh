#!/usr/bin/env bash
# Bench: N Torv_GetNumPages calls on an open document, end to end through
# filemaker-host (pipe mode) and acrobat-host, beside the bridge's raw round
# trip measured in the same run (bench_bridge), when that bench is built.
#
#   bench/e2e/page_count_calls.sh [BUILD_DIR] [N]
set -euo pipefail
build="${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}"
n="${2:-1000}"
# $work, and an acrobat-host of the bench's own, stopped at exit.
# shellcheck source=SCRIPTDIR/private-runtime.sh
source "$(dirname "$0")/private-runtime.sh"

qpdf --empty --pages "$(dirname "$0")/../../examples/appendix.pdf" -- "$work/doc.pdf"
# Open once (this launches acrobat-host), then time N page counts in one session.
{
  echo "Torv_OpenPDF ( \"$work/doc.pdf\" )"
  for ((i = 0; i < n; i++)); do echo "Torv_GetNumPages"; done
  echo "Torv_ClosePDF"
} > "$work/calls.txt"
{ echo "Torv_OpenPDF ( \"$work/doc.pdf\" )"; echo "Torv_ClosePDF"; } > "$work/open.txt"

"$build/bin/filemaker-host" < "$work/open.txt" > /dev/null   # warm: the application is running now
t0=$(date +%s%N)
"$build/bin/filemaker-host" < "$work/open.txt" > /dev/null
t1=$(date +%s%N)
"$build/bin/filemaker-host" < "$work/calls.txt" > "$work/out.txt"
t2=$(date +%s%N)
count=$(grep -c '^2$' "$work/out.txt" || true)
per_call_us=$(( ((t2 - t1) - (t1 - t0)) / n / 1000 ))
echo "page count calls answered: $count of $n"
echo "Torv_GetNumPages end to end: ${per_call_us} us per call (session start and open subtracted)"
if [[ -x "$build/bin/bench_bridge" ]]; then
  echo "bridge raw round trip in the same run:"
  "$build/bin/bench_bridge" 2000 | sed 's/^/  /'
fi
