#!/usr/bin/env bash
# Bench: the mail merge as a user runs it — filemaker-host running
# examples/merge.fmscript against acrobat-host, piped into quill-merge-report
# (failures.csv and the contact sheets) — over generated CSVs of N records
# (names in many scripts), with the resident memory of both hosts sampled
# every half second.
#
#   bench/e2e/merge.sh [BUILD_DIR] [N ...]     (default: 1000 10000)
#
# Goals: 1,000 records merged and drawn in under 10 s on a 2-core machine,
# the sheets taking no longer than the merge; 10,000 no worse than ten times
# that; the memory of both hosts flat from the first tenth of the run to its end.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift || true
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000 10000)
# $work, and an acrobat-host of the bench's own, stopped at exit.
# shellcheck source=SCRIPTDIR/private-runtime.sh
source "$(dirname "$0")/private-runtime.sh"

now() { date +%s%N; }
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

# "fm_kB acro_kB fm_ticks acro_ticks" (resident memory, processor time used) of the
# processes of this runtime folder, every half second, until stopped.
sample() {
  local e p name rss fm acro ticks fmt acrot
  while :; do
    fm=0 acro=0 fmt=0 acrot=0
    for e in /proc/[0-9]*/environ; do
      if { tr "\0" "\n" < "$e"; } 2> /dev/null | grep -qxF "QUILLMARK_RUNTIME_DIR=$QUILLMARK_RUNTIME_DIR"; then
        p=${e%/environ}
        name=$(cat "$p/comm" 2> /dev/null || true)
        rss=$(awk '/^VmRSS:/ {print $2}' "$p/status" 2> /dev/null || echo 0)
        ticks=$(awk '{print $14 + $15}' "$p/stat" 2> /dev/null || echo 0)
        case "$name" in
          filemaker-host) fm=${rss:-0} fmt=${ticks:-0} ;;
          acrobat-host | AdobeAcrobat) acro=${rss:-0} acrot=${ticks:-0} ;;
        esac
      fi
    done
    [[ $fm -gt 0 ]] && echo "$fm $acro $fmt $acrot"
    sleep 0.5
  done
}

for n in "${sizes[@]}"; do
  make_csv "$n" "$work/members-$n.csv"
  out="$work/out-$n"
  mkdir -p "$out"
  sample > "$work/rss-$n.txt" &
  sampler=$!
  t0=$(now)
  "$build/bin/filemaker-host" --json run "$root/examples/merge.fmscript" --table members --records \
    "$work/members-$n.csv" --quiet --parameter "$root/examples/form.pdf" --parameter "$out" --parameter report |
    /usr/bin/time -f "%U %S" -o "$work/report-cpu-$n.txt" "$build/bin/quill-merge-report" --out "$out" \
      > "$work/report-$n.txt"
  t1=$(now)
  kill "$sampler" 2> /dev/null || true
  wait "$sampler" 2> /dev/null || true
  summary=$(grep '^Mail merge' "$work/report-$n.txt" || true)
  sheets=$(grep '^Contact sheets' "$work/report-$n.txt" || true)
  files=$(find "$out" -name '[0-9]*.pdf' | wc -l)
  echo "== $n records: whole job $(echo "scale=2; ($t1 - $t0) / 1000000000" | bc) s, $files files"
  echo "   $summary"
  echo "   $sheets"
  # Memory: the first sample after a tenth of the run against the largest and the last.
  total=$(wc -l < "$work/rss-$n.txt")
  if ((total > 0)); then
    first=$(sed -n "$((total / 10 + 1))p" "$work/rss-$n.txt")
    last=$(tail -1 "$work/rss-$n.txt")
    maxfm=$(awk '$1 > m {m = $1} END {print m}' "$work/rss-$n.txt")
    maxacro=$(awk '$2 > m {m = $2} END {print m}' "$work/rss-$n.txt")
    echo "   RSS kB (filemaker-host acrobat-host): at a tenth ${first% * *}, at the end ${last% * *}, largest $maxfm $maxacro"
    hz=$(getconf CLK_TCK)
    read -r _ _ fmt acrot <<< "$last"
    echo "   processor time: filemaker-host $(echo "scale=2; $fmt / $hz" | bc) s, acrobat-host" \
      "$(echo "scale=2; $acrot / $hz" | bc) s (to the last sample), report and sheets" \
      "$(awk '{print $1 + $2}' "$work/report-cpu-$n.txt") s; load average $(cut -d' ' -f1 /proc/loadavg)"
  fi
  rm -rf "$out"
done
