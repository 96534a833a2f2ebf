#!/usr/bin/env bash
# The main job, a mail merge: one filled form a record of a CSV in the output
# folder, then a report of each failure, failures.csv and the contact sheets
# (contact-sheet-01.png, …: page 1 of every filled form, 20 a sheet,
# labelled). Called by scripts/run after the build.
#
# quill-merge-plan reads the form's fields and the CSV and works out what
# each record fills; filemaker-host runs merge.fmscript over that (with an
# acrobat-host of its own), N of them side by side with --jobs N; their JSON
# lines go to quill-merge-report. Nothing here passes a value, name or path
# through a shell: every argument is one quoted word.
set -euo pipefail
# Paths are taken apart in the shell itself: each program started costs a merge milliseconds.
case "$0" in */*) here=${0%/*} ;; *) here=. ;; esac
here="$(cd -- "${here:-/}" && pwd)"
root=${here%/*}
root=${root:-/}

usage() {
  cat << 'EOF'
usage: merge.sh [--form FORM.pdf] [--map MAP.csv] [--out DIR] [--jobs N] [--combined]
                [--resume] [--force] [--strict] [--encoding ENC] [--delimiter D]
                [--trace|--quiet] [FILE.csv]

Fills FORM.pdf (the membership form examples/form.pdf when not given) once for
every record of FILE.csv (examples/members.csv) and saves each as
DIR/NNNN-Name.pdf (./out from the source tree, ./quillmark-merge installed).

  --form FORM.pdf   the form; a column whose header is a field's full name fills it
  --map MAP.csv     the other columns: a CSV "column,field", one line a column
  --out DIR         the output folder; only files an earlier merge wrote there
                    (DIR/.merge-manifest) are replaced
  --jobs N          N filemaker-host and acrobat-host pairs (default: the processors)
  --combined        also DIR/all.pdf, every filled form in one document
  --resume          go on after a stopped merge: records whose file is complete stay
  --force           merge into a folder holding other PDFs (they are kept)
  --strict          a row with more or fewer fields than the header stops the load
  --encoding ENC    the CSV's encoding when it has no byte-order mark (default UTF-8)
  --delimiter D     between the CSV's fields: , ; or tab (default: the header's)
  --trace           filemaker-host's step trace
  --quiet           no progress line

Check boxes and radio groups take a state name or its export value (any case).
Ctrl-C or SIGTERM finish the record in hand, then stop with the summary.
Exit status: 0 all merged; 1 a record, all.pdf or a contact sheet failed;
2 a usage error or input that cannot be used (form, CSV, map, output folder);
130 after Ctrl-C, 143 after SIGTERM.
EOF
}
fail_usage() {
  echo "merge.sh: $1 (merge.sh --help shows the usage)" >&2
  exit 2
}

# Installed (<prefix>/share/doc/quillmark/examples/merge.sh) it uses the
# installed programs and writes to ./quillmark-merge ($QUILL_MERGE_OUT).
if [[ -n "${QUILL_BUILD:-}" || -d "$root/build/bin" ]]; then
  bin="${QUILL_BUILD:-$root/build}/bin"
  helpers="$bin"
  out="$root/out"
else
  prefix="$(cd "$here/../../../.." && pwd)"
  bin="$prefix/bin"
  helpers="$prefix/lib/quillmark"
  out="${QUILL_MERGE_OUT:-$PWD/quillmark-merge}"
fi
records="$here/members.csv"
form=""
map=""
jobs="$(getconf _NPROCESSORS_ONLN 2> /dev/null || echo 1)"
combined=0 resume=0 force=0 strict=0
plan_options=()
host=(--quiet)
progress=(--progress)
have_records=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --form | --map | --out | --jobs | --encoding | --delimiter)
      [[ $# -ge 2 ]] || fail_usage "$1 needs a value"
      case "$1" in
        --form) form="$2" ;;
        --map) map="$2" ;;
        --out) out="$2" ;;
        --jobs) jobs="$2" ;;
        *) plan_options+=("$1" "$2") ;;
      esac
      shift ;;
    --combined) combined=1 ;;
    --resume) resume=1 ;;
    --force) force=1 ;;
    --strict) strict=1 ;;
    --trace) host=(--trace) ;;
    --quiet) progress=() ;;
    --) shift; [[ $# -le 1 ]] || fail_usage "one CSV at a time"; [[ $# -eq 0 ]] || records="$1"; break ;;
    -*) fail_usage "unknown option $1" ;;
    *) [[ $have_records -eq 0 ]] || fail_usage "one CSV at a time"; records="$1"; have_records=1 ;;
  esac
  shift
done
[[ "$jobs" =~ ^[1-9][0-9]*$ && "$jobs" -le 64 ]] || fail_usage "--jobs takes a number from 1 to 64, not $jobs"
title=""
if [[ -z "$form" ]]; then
  # The shipped membership form: members.map names the columns its fields do not.
  form="$here/form.pdf"
  [[ -n "$map" ]] || map="$here/members.map"
  title="Membership of "
fi
for f in "$bin/filemaker-host" "$helpers/quill-merge-plan" "$helpers/quill-merge-report"; do
  [[ -x "$f" ]] || { echo "merge.sh: $f is missing (build it first: scripts/build)" >&2; exit 2; }
done
for f in "$form" "$records" ${map:+"$map"}; do
  [[ -f "$f" && -r "$f" ]] || { echo "merge.sh: cannot read $f" >&2; exit 2; }
done

# Absolute paths: the script's paths are opened by acrobat-host, which has a
# working folder of its own.
mkdir -p -- "$out"
out="$(cd -- "$out" && pwd)"
# The absolute path of the file $1, without a process for each part of it: a merge starts sooner.
abs() {
  local dir=. name=$1
  if [[ "$1" == */* ]]; then
    dir=${1%/*} name=${1##*/}
    [[ -n "$dir" ]] || dir=/
  fi
  (cd -- "$dir" && printf '%s/%s\n' "$PWD" "$name")
}
records="$(abs "$records")"
form="$(abs "$form")"
[[ -z "$map" ]] || map="$(abs "$map")"

# What earlier merges wrote here, one name a line: only those are ever replaced or deleted.
manifest="$out/.merge-manifest"
declare -A ours=()
if [[ -f "$manifest" ]]; then
  while IFS= read -r name; do [[ -z "$name" ]] || ours["$name"]=1; done < "$manifest"
fi
shopt -s nullglob
strangers=()
for f in "$out"/*.pdf "$out"/*.PDF; do
  [[ -n "${ours["${f##*/}"]+x}" ]] || strangers+=("${f##*/}")
done
if [[ ${#strangers[@]} -gt 0 && $force -eq 0 ]]; then
  what="${#strangers[@]} PDF files"
  [[ ${#strangers[@]} -ne 1 ]] || what="a PDF file"
  echo "merge.sh: $out holds $what no merge wrote (${strangers[0]}…); choose another --out, or --force to merge beside them (they are kept)" >&2
  exit 2
fi

work="$(mktemp -d /tmp/quillmark-merge.XXXXXX)"
chmod 700 "$work"
runtimes=()
stop_apps() {
  local rt f pid
  # Each acrobat-host registered itself as app.<pid>.<start> in its runtime
  # folder; a pid is only signalled while it still runs with that folder.
  for rt in "${runtimes[@]}"; do
    for f in "$rt"/app.*; do
      pid="${f##*/app.}"
      pid="${pid%%.*}"
      if grep -qzxF "QUILLMARK_RUNTIME_DIR=$rt" "/proc/$pid/environ" 2> /dev/null; then
        kill -TERM "$pid" 2> /dev/null || true
      fi
    done
  done
  rm -rf -- "$work"
}
trap stop_apps EXIT

plan=("$helpers/quill-merge-plan" --form "$form" --records "$records" --table "$work/members.csv" --jobs "$jobs"
  --title "$title" "${plan_options[@]}")
[[ -z "$map" ]] || plan+=(--map "$map")
[[ $strict -eq 0 ]] || plan+=(--strict)
[[ $resume -eq 0 ]] || plan+=(--resume "$out")
if ! "${plan[@]}" > "$work/parameters"; then
  exit 2
fi
count=""
while IFS= read -r line; do [[ "$line" != count$'\t'* ]] || count=${line#count$'\t'}; done < "$work/parameters"
mapfile -t planned < "$work/members.csv.files"
# A planned name an earlier merge did not write is never replaced, --force or not.
for name in "${planned[@]}"; do
  if [[ -e "$out/$name" && -z "${ours["$name"]+x}" ]]; then
    echo "merge.sh: $out/$name exists and no merge wrote it; it is not replaced (choose another --out)" >&2
    exit 2
  fi
done

# A new merge first deletes what the last one wrote (and nothing else); a resumed one keeps it.
sheets=$(((count + 19) / 20))
width=$((${#sheets} > 2 ? ${#sheets} : 2))
mine=("${planned[@]}" failures.csv all.pdf .merge-log .merge-written.csv)
for ((s = 1; s <= sheets; s++)); do
  printf -v name 'contact-sheet-%0*d.png' "$width" "$s"
  mine+=("$name")
done
if [[ $resume -eq 0 ]]; then
  gone=()
  for name in "${!ours[@]}"; do
    [[ "$name" != */* && "$name" != . && "$name" != .. ]] || continue
    gone+=("$out/$name" "$out/$name.part")
  done
  # One rm for them all (as many as its command line takes), not one a file.
  [[ ${#gone[@]} -eq 0 ]] || printf '%s\0' "${gone[@]}" | xargs -0 rm -f --
  ours=()
fi
for name in "${mine[@]}"; do ours["$name"]=1; done
printf '%s\n' "${!ours[@]}" | LC_ALL=C sort > "$manifest.part"
mv -f -- "$manifest.part" "$manifest"

parameters=(--parameter "$form" --parameter "$out" --parameter report)
while IFS= read -r line; do parameters+=(--parameter "$line"); done < "$work/parameters"

plural=s
[[ $jobs -ne 1 ]] || plural=""
echo "== Quillmark mail merge: ${records##*/} into $form → $out ($jobs job$plural)"
# Ctrl-C reaches every process of the merge; SIGTERM only this script, which passes it on. Each
# host finishes its record in hand and ends with its summary; the report writes what was done.
caught=0
pids=()
on_signal() {
  caught=$1
  [[ ${#pids[@]} -eq 0 ]] || kill "-$2" "${pids[@]}" 2> /dev/null || true
}
trap 'on_signal 130 INT' INT
trap 'on_signal 143 TERM' TERM

inputs=()
for ((k = 1; k <= jobs; k++)); do
  table="$work/members.csv"
  [[ $jobs -eq 1 ]] || table="$work/members-$k.csv"
  runtime="$work/runtime-$k"
  mkdir -m 700 "$runtime"
  runtimes+=("$runtime")
  mkfifo "$work/out-$k"
  inputs+=(--input "$work/out-$k")
  QUILLMARK_RUNTIME_DIR="$runtime" "$bin/filemaker-host" --json run "$here/merge.fmscript" --table members \
    --records "$table" --finish-record "${host[@]}" "${parameters[@]}" > "$work/out-$k" &
  pids+=($!)
done
# The report shows one progress line for all the hosts (each host's own would overwrite the others').
report=("$helpers/quill-merge-report" --out "$out" --jobs "$jobs" "${progress[@]}" "${inputs[@]}")
[[ $resume -eq 0 ]] || report+=(--resume)
if [[ $combined -eq 1 ]]; then
  report+=(--combine "$bin/filemaker-host" --json run "$here/merge.fmscript" --table members
    --records "$out/.merge-written.csv" --quiet --parameter "$form" --parameter "$out"
    --parameter report --parameter combine-only --parameter combined)
  # A form of the user's: all.pdf is titled after the form's file, not as membership forms.
  [[ -n "$title" ]] || report+=(--parameter "batch"$'\t'"$(basename -- "${form%.[pP][dD][fF]}")")
fi
QUILLMARK_RUNTIME_DIR="${runtimes[0]}" "${report[@]}" &
report_pid=$!

# wait returns early (above 128) when a trapped signal comes; the process may still run then.
finish() {
  status=0
  wait "$1" || status=$?
  while [[ $status -gt 128 ]] && kill -0 "$1" 2> /dev/null; do
    status=0
    wait "$1" || status=$?
  done
}
statuses=()
for pid in "${pids[@]}"; do
  finish "$pid"
  statuses+=("$status")
done
finish "$report_pid"
report_status=$status

[[ $caught -eq 0 ]] || exit "$caught"
[[ $report_status -eq 0 ]] || exit 1
for s in "${statuses[@]}"; do [[ $s -eq 0 ]] || exit 1; done
exit 0
