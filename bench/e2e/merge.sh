#!/usr/bin/env bash
# Bench: the mail merge as a user runs it — filemaker-host running
# examples/merge.fmscript against acrobat-host, piped into quill-merge-report
# (failures.csv and the contact sheets) — over generated CSVs of N records
# (names in many scripts), interleaved with its peer, bench/e2e/merge_pymupdf.py
# (the same fill-and-save per record in process with PyMuPDF, run by
# /usr/bin/python3, which has Debian's python3-fitz).
#
#   bench/e2e/merge.sh [BUILD_DIR] [N ...]     (default: 1000 10000)
#
# Then examples/merge.sh itself with --jobs 1 and --jobs 2 (N filemaker-host and acrobat-host
# pairs over runs of consecutive records): the whole job's time and rate for each.
#
# Two rates for ours: fill-and-save (until filemaker-host has written the last record, what the
# peer does) and the whole job (until the report has drawn the last contact sheet).
# Each size runs ROUNDS times (default 2 up to 2,000 records, else 1), ours and the peer in
# turn, each merge with an acrobat-host of its own. Reported per run: the whole job's time
# and rate (records/s), the processor time of each host and of the report, and the largest
# resident memory of both hosts (sampled from /proc every second) up to 1k, 5k and 10k
# records done. The machine may be shared: the load average is printed with every figure.
#
# Goals: 1,000 records merged and drawn in under 10 s on a 2-core machine, the sheets taking
# no longer than the merge; the rate at 10,000 no lower than at 1,000; at least the peer's
# rate; the memory of both hosts flat from 1k records to the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift || true
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000 10000)
# $work, and a runtime folder of the bench's own; at exit every process started with it stops.
# shellcheck source=SCRIPTDIR/private-runtime.sh
source "$(dirname "$0")/private-runtime.sh"
base_runtime=$QUILLMARK_RUNTIME_DIR
peer=/usr/bin/python3
"$peer" -c 'import fitz' 2> /dev/null || peer=""

now() { date +%s%N; }
load() { cut -d' ' -f1 /proc/loadavg; }
secs() { echo "scale=2; $1 / 1000000000" | bc; }
# Writes N records: names in many scripts, with quotes, commas and empty fields.
make_csv() {
  local n=$1 i
  local names=("Ingrid Solberg" "Łukasz Wróbel" "Σοφία Παπαδοπούλου" "Анна Иванова" "محمد العلي" "דוד כהן"
    "अनन्या शर्मा" "สมชาย ใจดี" "田中 花子" "김민준" "王小明" "Nguyễn Văn An" "O'Brien, \"Siobhán\"" "Zoë Ålund"
    "Ayşe Yılmaz" "Kofi Mensah" "ኣበበ በቀለ" "Արամ Պետրոսյան" "გიორგი ბერიძე" "José Núñez" "Þóra Björk"
    "Chloé Lefèvre" "😀 Smiley" "Tromsø Club")
  {
    echo "Name,City,Email,Plan,Country,Agree"
    for ((i = 1; i <= n; i++)); do
      local name=${names[$((i % ${#names[@]}))]}
      printf '"%s %d",Oslo,m%d@example.org,%s,Norway,%s\n' "${name//\"/\"\"}" "$i" "$i" \
        "$( ((i % 2)) && echo Basic || echo Premium)" "$( ((i % 3)) && echo yes || echo no)"
    done
  } > "$2"
}

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2> /dev/null || echo 0; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2> /dev/null || echo 0; }
# The acrobat-host of the runtime folder $1 (it registers as app.<pid>.<start> there), or nothing.
app_pid() {
  local f
  for f in "$1"/app.*; do
    [[ -e "$f" ]] || continue
    f=${f##*/app.}
    echo "${f%%.*}"
    return
  done
}
# "records_done fm_kB acro_kB" every second while process $1 runs; $2 the output folder, $3
# the runtime folder.
sample() {
  local fm=$1 out=$2 runtime=$3 acro=""
  while [[ -d /proc/$fm ]]; do
    [[ -n "$acro" ]] || acro=$(app_pid "$runtime")
    echo "$(find "$out" -maxdepth 1 -name '[0-9]*.pdf' | wc -l) $(rss "$fm") $([[ -n "$acro" ]] && rss "$acro" || echo 0)"
    sleep 1
  done
}
# The largest value of column $2 among the samples with at most $3 records done (and more than $4).
peak() { awk -v c="$2" -v hi="$3" -v lo="$4" '$1 <= hi && $1 > lo && $c > m {m = $c} END {print m + 0}' "$1"; }

ours() { # n round
  local n=$1 out="$work/out-$1" runtime="$work/run-$1-$2" t0 t1 tfill fm acro acro_t report_cpu fm_cpu
  rm -rf "$out" && mkdir -p "$out" && mkdir -m 700 "$runtime"
  export QUILLMARK_RUNTIME_DIR=$runtime
  mkfifo "$work/pipe"
  /usr/bin/time -f "%U %S" -o "$work/report-cpu.txt" "$build/bin/quill-merge-report" --out "$out" \
    < "$work/pipe" > "$work/report.txt" &
  local report=$!
  t0=$(now)
  /usr/bin/time -f "%U %S" -o "$work/fm-cpu.txt" "$build/bin/filemaker-host" --json run \
    "$root/examples/merge.fmscript" --table members --records "$work/members-$n.csv" --quiet \
    --parameter "$root/examples/form.pdf" --parameter "$out" --parameter report > "$work/pipe" &
  local timer=$!
  sleep 0.05
  fm=""
  read -r fm _ < "/proc/$timer/task/$timer/children" 2> /dev/null || true # no newline at its end
  sample "${fm:-$timer}" "$out" "$runtime" > "$work/rss.txt" &
  local sampler=$!
  wait "$timer" || true
  tfill=$(now) # filemaker-host has written the last record
  acro=$(app_pid "$runtime")
  acro_t=$([[ -n "$acro" ]] && ticks "$acro" || echo 0)
  wait "$report" || true
  t1=$(now)
  wait "$sampler" 2> /dev/null || true
  [[ -n "$acro" ]] && kill "$acro" 2> /dev/null
  rm -f "$work/pipe"
  export QUILLMARK_RUNTIME_DIR=$base_runtime
  local files rate fill hz summary sheets
  files=$(find "$out" -maxdepth 1 -name '[0-9]*.pdf' | wc -l)
  rate=$(echo "scale=0; $n * 1000000000 / ($t1 - $t0)" | bc)
  fill=$(echo "scale=0; $n * 1000000000 / ($tfill - $t0)" | bc)
  hz=$(getconf CLK_TCK)
  fm_cpu=$(awk '{print $1 + $2}' "$work/fm-cpu.txt")
  report_cpu=$(awk '{print $1 + $2}' "$work/report-cpu.txt")
  summary=$(grep '^Mail merge' "$work/report.txt" || true)
  sheets=$(grep '^Contact sheets' "$work/report.txt" || true)
  echo "ours  $n: fill-and-save $(secs $((tfill - t0))) s, $fill records/s; whole job $(secs $((t1 - t0))) s," \
    "$rate records/s; $files files; load $(load)"
  echo "      $summary"
  echo "      ${sheets%%;*}"
  echo "      processor: filemaker-host $fm_cpu s, acrobat-host $(echo "scale=2; $acro_t / $hz" | bc) s," \
    "report and sheets $report_cpu s"
  local s="$work/rss.txt" line="      largest RSS kB filemaker-host / acrobat-host:" lo=0 hi
  for hi in 1000 5000 10000 100000000; do
    ((lo < n)) || break
    line+=" ${lo}–$((hi < n ? hi : n)): $(peak "$s" 2 "$hi" "$lo") / $(peak "$s" 3 "$hi" "$lo");"
    lo=$hi
  done
  echo "$line"
  echo "$rate" >> "$work/rates-ours-$n"
  echo "$fill" >> "$work/rates-fill-$n"
  rm -rf "$out" "$runtime"
}

# merge.sh as a user runs it, with $2 host pairs: the whole job, plan to contact sheets.
jobs_run() { # n jobs
  local n=$1 j=$2 out="$work/jobs-$1-$2" t0 t1 rate summary
  rm -rf "$out"
  t0=$(now)
  QUILL_BUILD="$build" "$root/examples/merge.sh" --quiet --jobs "$j" --out "$out" "$work/members-$n.csv" \
    > "$work/jobs.txt" 2>&1 || true
  t1=$(now)
  rate=$(echo "scale=0; $n * 1000000000 / ($t1 - $t0)" | bc)
  summary=$(grep '^Mail merge' "$work/jobs.txt" || true)
  echo "merge.sh --jobs $j $n: $(secs $((t1 - t0))) s, $rate records/s," \
    "$(find "$out" -maxdepth 1 -name '[0-9]*.pdf' | wc -l) files; load $(load)"
  echo "      $summary"
  echo "$rate" >> "$work/rates-jobs$j-$n"
  rm -rf "$out"
}

theirs() { # n
  local n=$1 out="$work/peer-$1" t0 t1 line rate
  rm -rf "$out" && mkdir -p "$out"
  t0=$(now)
  line=$(/usr/bin/time -f "%M" -o "$work/peer-mem.txt" "$peer" "$root/bench/e2e/merge_pymupdf.py" \
    "$root/examples/form.pdf" "$work/members-$n.csv" "$out" 2> /dev/null | tail -1)
  t1=$(now)
  rate=$(echo "scale=0; $n * 1000000000 / ($t1 - $t0)" | bc)
  echo "peer  $n: $(secs $((t1 - t0))) s, $rate records/s, $(find "$out" -name '*.pdf' | wc -l) files" \
    "(written $(echo "$line" | cut -d' ' -f2)), largest RSS $(cat "$work/peer-mem.txt") kB; load $(load)"
  echo "$rate" >> "$work/rates-peer-$n"
  rm -rf "$out"
}

median() { sort -n "$1" | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : int((a[NR / 2] + a[NR / 2 + 1]) / 2)}'; }

for n in "${sizes[@]}"; do
  make_csv "$n" "$work/members-$n.csv"
  rounds=${ROUNDS:-$((n <= 2000 ? 2 : 1))}
  for ((r = 1; r <= rounds; r++)); do
    ours "$n" "$r"
    jobs_run "$n" 1
    jobs_run "$n" 2
    [[ -z "$peer" ]] || theirs "$n"
  done
done
echo "== medians (records/s)"
for n in "${sizes[@]}"; do
  line="$n records: ours fill-and-save $(median "$work/rates-fill-$n"), whole job $(median "$work/rates-ours-$n")"
  line+=", merge.sh --jobs 1 $(median "$work/rates-jobs1-$n"), --jobs 2 $(median "$work/rates-jobs2-$n")"
  [[ -z "$peer" ]] || line+=", PyMuPDF $(median "$work/rates-peer-$n")"
  echo "$line"
done
