#!/usr/bin/env bash
# Bench: the mail merge's batch file — N one-page filled forms appended to the first through
# filemaker-host and acrobat-host (Torv_AppendPDF, fifty paths a call, then Torv_SaveAsPDF and
# Torv_ClosePDF, bench/e2e/append.fmscript) — against `qpdf --empty --pages` of the same files.
#
#   bench/e2e/append.sh [BUILD_DIR] [N ...]     (default: 1000 10000)
#
# The forms are filled once by the merge (1,000 records, examples/merge.fmscript) and copied
# under new names up to the largest N, so every file is a source of its own. Reported per size
# and round (ROUNDS, default 2 up to 2,000 files, else 1): our append calls, the save (the
# appends carried out, the file written, read back and synced), the close, their sum against
# qpdf's time, the pages of both files, and the largest resident memory of acrobat-host and of
# qpdf. The machine may be shared: the load average is printed with every figure.
#
# qpdf is stopped after PEER_LIMIT seconds (default 900: on these forms its time grows much
# faster than the number of files) and counted as that limit.
#
# Goal: append and save no slower than qpdf on the same files, linear from 1,000 to 10,000.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build"
if [[ $# -gt 0 ]]; then
  build=$1
  shift
fi
sizes=(1000 10000)
if [[ $# -gt 0 ]]; then sizes=("$@"); fi
# The work folder and a runtime folder of the bench's own (its processes stop at exit).
# shellcheck source=SCRIPTDIR/private-runtime.sh
source "$(dirname "$0")/private-runtime.sh"
base_runtime=$QUILLMARK_RUNTIME_DIR
load() { cut -d' ' -f1 /proc/loadavg; }
now() { date +%s%N; }
limit=${PEER_LIMIT:-900}
ms() { echo $((($2 - $1) / 1000000)); }

# The filled forms: one merge of 1,000 members, then copies up to the largest size.
max=0
for n in "${sizes[@]}"; do ((n > max)) && max=$n; done
forms="$work/forms"
mkdir -p "$forms"
{
  echo "Name,City,Email,Plan,Country,Agree"
  names=("Ingrid Solberg" "Łukasz Wróbel" "Σοφία Παπαδοπούλου" "Анна Иванова" "田中 花子" "Kofi Mensah")
  for ((i = 1; i <= 1000; i++)); do
    echo "\"${names[$((i % ${#names[@]}))]} $i\",Oslo,m$i@example.org,$( ((i % 2)) && echo Basic || echo Premium),Norway,yes"
  done
} > "$work/members.csv"
"$build/bin/filemaker-host" run "$root/examples/merge.fmscript" --records "$work/members.csv" --quiet \
  --parameter "$root/examples/form.pdf" --parameter "$forms" > /dev/null
mapfile -t filled < <(find "$forms" -name '[0-9]*.pdf' | sort)
[[ ${#filled[@]} -eq 1000 ]] || { echo "append.sh: the merge wrote ${#filled[@]} forms, not 1000" >&2; exit 1; }
files=()
for ((i = 0; i < max; i++)); do
  if ((i < 1000)); then
    files+=("${filled[$i]}")
  else
    files+=("$forms/copy-$i.pdf")
    cp "${filled[$((i % 1000))]}" "${files[$i]}"
  fi
done

ours() { # n round
  local n=$1 runtime="$work/run-$1-$2" out="$work/ours-$1.pdf" args=() t0 t1 line peak=0 acro="" f
  mkdir -m 700 "$runtime"
  export QUILLMARK_RUNTIME_DIR=$runtime
  args=(--parameter "$out")
  for ((i = 0; i < n; i++)); do args+=(--parameter "${files[$i]}"); done
  t0=$(now)
  line=$("$build/bin/filemaker-host" run "$root/bench/e2e/append.fmscript" "${args[@]}" | grep '^append.bench' || true)
  t1=$(now)
  for f in "$runtime"/app.*; do
    [[ -e "$f" ]] || continue
    acro=${f##*/app.}
    acro=${acro%%.*}
  done
  [[ -n "$acro" ]] && peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$acro/status" 2> /dev/null || echo 0)
  [[ -n "$acro" ]] && kill "$acro" 2> /dev/null
  export QUILLMARK_RUNTIME_DIR=$base_runtime
  # "append.bench: open append save close outcome"
  read -r _ open append save close outcome <<< "$line"
  echo "ours  $n: append $append ms, save $save ms, close $close ms; append+save $((append + save)) ms;" \
    "whole run $(ms "$t0" "$t1") ms; $outcome; $(qpdf --show-npages "$out" 2> /dev/null || echo 0) pages;" \
    "acrobat-host largest RSS $peak kB; load $(load)"
  echo $((append + save)) >> "$work/ours-$n"
  rm -rf "$runtime" "$out"
}

theirs() { # n
  local n=$1 out="$work/qpdf-$1.pdf" t0 t1
  t0=$(now)
  if ! /usr/bin/time -f "%M" -o "$work/qpdf-mem.txt" timeout "$limit" qpdf --empty --pages "${files[@]:0:n}" -- "$out"; then
    echo "qpdf  $n: not done after $limit s (stopped); load $(load)"
    echo $((limit * 1000)) >> "$work/qpdf-$n"
    rm -f "$out"
    return
  fi
  t1=$(now)
  echo "qpdf  $n: $(ms "$t0" "$t1") ms; $(qpdf --show-npages "$out") pages; largest RSS $(cat "$work/qpdf-mem.txt") kB;" \
    "load $(load)"
  ms "$t0" "$t1" >> "$work/qpdf-$n"
  rm -f "$out"
}

median() { sort -n "$1" | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : int((a[NR / 2] + a[NR / 2 + 1]) / 2)}'; }

for n in "${sizes[@]}"; do
  rounds=${ROUNDS:-$((n <= 2000 ? 2 : 1))}
  for ((r = 1; r <= rounds; r++)); do
    ours "$n" "$r"
    theirs "$n"
  done
done
echo "== medians (ms): append+save of ours, qpdf --empty --pages"
for n in "${sizes[@]}"; do
  echo "$n files: ours $(median "$work/ours-$n"), qpdf $(median "$work/qpdf-$n")"
done
