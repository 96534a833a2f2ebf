#!/usr/bin/env bash
# Bench: filling forms end to end through filemaker-host (pipe mode) and acrobat-host, one
# Torv_SetPDFFieldValue a field, beside PyMuPDF filling and drawing every widget in the same
# run (Debian's python3-fitz, run by /usr/bin/python3), when it is installed.
#
#   bench/e2e/fill_fields.sh [BUILD_DIR] [FIELDS]
#
# Reports: the full fill + save of FIELDS fields (goal: no slower than PyMuPDF), and one set of
# the last field of that form against one set on a 10-field form (goal: <= 2x).
set -euo pipefail
build="${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}"
n="${2:-2000}"
# $work, and an acrobat-host of the bench's own, stopped at exit.
# shellcheck source=SCRIPTDIR/private-runtime.sh
source "$(dirname "$0")/private-runtime.sh"

"$build/bin/bench_make_form" "$n" "$work/big.pdf"
"$build/bin/bench_make_form" 10 "$work/small.pdf"
reps=2000

now() { date +%s%N; }
ms() { echo "scale=1; $1 / 1000000" | bc; }

# Sessions: open only (the cost every session carries), full fill + save, and reps sets of the
# last field of the big and of the small form.
{ echo "Torv_OpenPDF ( \"$work/big.pdf\" )"; echo "Torv_ClosePDF"; } > "$work/open-big.txt"
{ echo "Torv_OpenPDF ( \"$work/small.pdf\" )"; echo "Torv_ClosePDF"; } > "$work/open-small.txt"
{
  echo "Torv_OpenPDF ( \"$work/big.pdf\" )"
  for ((i = 0; i < n; i++)); do echo "Torv_SetPDFFieldValue ( \"f$i\" ; \"Value number $i\" )"; done
  echo "Torv_SaveAsPDF ( \"$work/big-filled.pdf\" )"
  echo "Torv_ClosePDF"
} > "$work/fill.txt"
# The first field request reads the field tree, and closing frees it: both happen once a
# session, so the baseline of the per-set figure is a session with one set.
last_set() {
  echo "Torv_OpenPDF ( \"$work/$1.pdf\" )"
  for ((i = 0; i < $3; i++)); do echo "Torv_SetPDFFieldValue ( \"f$2\" ; \"Value $i\" )"; done
  echo "Torv_ClosePDF"
}
last_set big $((n - 1)) $((reps + 1)) > "$work/last-big.txt"
last_set small 9 $((reps + 1)) > "$work/last-small.txt"
last_set big $((n - 1)) 1 > "$work/one-big.txt"
last_set small 9 1 > "$work/one-small.txt"

session() { # file -> ns, the fastest of three runs (the machine may be busy)
  local t0 t1 best=0
  for _ in 1 2 3; do
    t0=$(now)
    "$build/bin/filemaker-host" < "$1" > "$work/out.txt"
    t1=$(now)
    if ((best == 0 || t1 - t0 < best)); then best=$((t1 - t0)); fi
  done
  echo $best
}

session "$work/open-big.txt" > /dev/null   # warm: the application is running now
open_big=$(session "$work/open-big.txt")
open_small=$(session "$work/open-small.txt")
fill=$(session "$work/fill.txt")
answered=$(grep -c '^0$' "$work/out.txt" || true)
big=$(session "$work/last-big.txt")
small=$(session "$work/last-small.txt")
one_big=$(session "$work/one-big.txt")
one_small=$(session "$work/one-small.txt")

fill_ns=$((fill - open_big))
per_big=$(((big - one_big) / reps))
per_small=$(((small - one_small) / reps))
echo "form: $n text fields; calls answered 0: $answered of $((n + 3))"
printf '%-52s %10s ms\n' "fill $n fields + save as (open subtracted)" "$(ms $fill_ns)"
if /usr/bin/python3 -c 'import fitz' 2> /dev/null; then
  # PyMuPDF 1.21 loses an Annot's type once its Widget is collected: every Widget is kept until
  # the save; the interpreter's teardown of them may crash after the figure, hence os._exit.
  peer=$(/usr/bin/python3 - "$work/big.pdf" "$work/fitz.pdf" 2> /dev/null << 'EOF'
import os, sys, time, fitz
t0 = time.perf_counter_ns()
doc, keep, k = fitz.open(sys.argv[1]), [], 0
for page in doc:
    for w in page.widgets():
        w.field_value = "Value number %d" % k
        w.update()
        keep.append(w)
        k += 1
doc.save(sys.argv[2])
doc.close()
print(time.perf_counter_ns() - t0, flush=True)
os._exit(0)
EOF
)
  printf '%-52s %10s ms\n' "PyMuPDF: open, fill and draw $n fields, save" "$(ms "$peer")"
  echo "fill: $(echo "scale=2; $fill_ns / $peer" | bc)x PyMuPDF (goal: <= 1x)"
fi
printf '%-52s %10s us\n' "one set of the last field, $n-field form" "$((per_big / 1000))"
printf '%-52s %10s us\n' "one set of the last field, 10-field form" "$((per_small / 1000))"
echo "last-field set: $(echo "scale=2; $per_big / $per_small" | bc)x the 10-field form (goal: <= 2x)"
