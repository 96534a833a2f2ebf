#!/usr/bin/env bash
# The main job, a mail merge: filemaker-host runs merge.fmscript over a
# CSV (members.csv unless another is given), which starts acrobat-host; one
# filled form a record in the output folder, then quill-merge-report shows
# each failure, writes failures.csv and draws the contact sheets
# (contact-sheet-01.png, …: page 1 of every filled form, 20 a sheet,
# labelled). Called by scripts/run after the build.
#
#   examples/merge.sh [--combined] [--out DIR] [--encoding ENC] [--delimiter D] [--trace|--quiet] [FILE.csv]
#
# --combined also writes all.pdf (every filled form in one document);
# --encoding and --delimiter go to filemaker-host's records reader. The
# exit status is 1 when any record failed or the records could not be
# loaded, 2 for a usage error.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
# Installed (<prefix>/share/doc/quillmark/examples/merge.sh) it uses the
# installed filemaker-host and quill-merge-report and writes to
# ./quillmark-merge ($QUILL_MERGE_OUT).
if [[ -n "${QUILL_BUILD:-}" || -d "$root/build/bin" ]]; then
  bin="${QUILL_BUILD:-$root/build}/bin"
  report="$bin/quill-merge-report"
  out="$root/out"
else
  prefix="$(cd "$here/../../../.." && pwd)"
  bin="$prefix/bin"
  report="$prefix/lib/quillmark/quill-merge-report"
  out="${QUILL_MERGE_OUT:-$PWD/quillmark-merge}"
fi
records="$here/members.csv"
parameters=(--parameter "$here/form.pdf")
extra=(--parameter report)
host=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --combined) extra+=(--parameter combined) ;;
    --out) out="$2"; shift ;;
    --encoding | --delimiter) host+=("$1" "$2"); shift ;;
    --trace | --quiet) host+=("$1") ;;
    -*) echo "merge.sh: unknown option $1" >&2; exit 2 ;;
    *) records="$1" ;;
  esac
  shift
done
# Absolute paths: the script's paths are opened by acrobat-host, which has a
# working folder of its own.
mkdir -p "$out"
out="$(cd "$out" && pwd)"
records="$(cd "$(dirname "$records")" && pwd)/$(basename "$records")"

# What an earlier merge left: its numbered forms, sheets, failures and all.pdf.
shopt -s nullglob extglob
old=("$out"/+([0-9])?(-*).pdf "$out"/contact-sheet-*.png "$out"/contact-sheet.png "$out/failures.csv" "$out/all.pdf")
[[ ${#old[@]} -gt 0 ]] && rm -f -- "${old[@]}"

# The merge runs its own acrobat-host in a private runtime folder and stops
# it at the end.
export QUILLMARK_RUNTIME_DIR="$(mktemp -d /tmp/quillmark-merge.XXXXXX)"
chmod 700 "$QUILLMARK_RUNTIME_DIR"
stop_app() {
  local f pid
  # The application registered itself as app.<pid>.<start> in the runtime
  # folder; a pid is only signalled while it still runs with this folder.
  for f in "$QUILLMARK_RUNTIME_DIR"/app.*; do
    [[ -e "$f" ]] || continue
    pid="${f##*/app.}"
    pid="${pid%%.*}"
    if grep -qzxF "QUILLMARK_RUNTIME_DIR=$QUILLMARK_RUNTIME_DIR" "/proc/$pid/environ" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$QUILLMARK_RUNTIME_DIR"
}
trap stop_app EXIT

echo "== Quillmark mail merge: filemaker-host run merge.fmscript --records $(basename "$records") → $out"
# The script's table is "members" whatever the file is called. The host
# prints JSON lines (names and messages exact, whatever they hold); the
# report turns them into messages, failures.csv and the sheets.
set +e
"$bin/filemaker-host" --json run "$here/merge.fmscript" --table members --records "$records" "${host[@]}" \
  "${parameters[@]}" --parameter "$out" "${extra[@]}" |
  "$report" --out "$out"
statuses=("${PIPESTATUS[@]}")
set -e
# A load error (2) wins; then any failure of either side.
if [[ ${statuses[0]} -eq 2 ]]; then exit 2; fi
if [[ ${statuses[0]} -ne 0 || ${statuses[1]} -ne 0 ]]; then exit 1; fi
exit 0
