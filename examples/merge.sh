#!/usr/bin/env bash
# The main job, a mail merge: filemaker-host runs merge.fmscript over
# members.csv (which starts acrobat-host), one filled form per member in
# out/, then page 1 of every filled form goes side by side into
# out/contact-sheet.png. Called by scripts/run after the build.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
# Installed (<prefix>/share/doc/quillmark/examples/merge.sh) it uses the
# installed filemaker-host and writes to ./quillmark-merge ($QUILL_MERGE_OUT).
if [[ -n "${QUILL_BUILD:-}" || -d "$root/build/bin" ]]; then
  host="${QUILL_BUILD:-$root/build}/bin/filemaker-host"
  out="$root/out"
else
  host="$(cd "$here/../../../.." && pwd)/bin/filemaker-host"
  [[ -x "$host" ]] || host=filemaker-host
  out="${QUILL_MERGE_OUT:-$PWD/quillmark-merge}"
fi
records="${1:-$here/members.csv}"

mkdir -p "$out"
rm -f "$out"/[0-9][0-9]-*.pdf "$out/contact-sheet.png"

# The merge runs its own acrobat-host in a private runtime folder and stops
# it at the end.
export QUILLMARK_RUNTIME_DIR="$(mktemp -d /tmp/quillmark-merge.XXXXXX)"
chmod 700 "$QUILLMARK_RUNTIME_DIR"
thumbs="$QUILLMARK_RUNTIME_DIR/thumbs"
stop_app() {
  for env in /proc/[0-9]*/environ; do
    if { tr '\0' '\n' < "$env"; } 2>/dev/null | grep -qxF "QUILLMARK_RUNTIME_DIR=$QUILLMARK_RUNTIME_DIR"; then
      pid="${env#/proc/}"; pid="${pid%/environ}"
      [[ "$pid" != "$$" ]] && kill -TERM "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$QUILLMARK_RUNTIME_DIR"
}
trap stop_app EXIT

echo "== Quillmark mail merge: filemaker-host run merge.fmscript --records $(basename "$records")"
status=0
log="$QUILLMARK_RUNTIME_DIR/merge.log"
"$host" run "$here/merge.fmscript" --records "$records" \
  --parameter "$here/form.pdf" --parameter "$out" --quiet | tee "$log" || status=$?
# A merge with failed calls is not a success, even though the script ran to its end.
if [[ $status -eq 0 ]] && ! grep -q '^Mail merge: .*, 0 errors, ' "$log"; then
  status=1
fi

# The contact sheet: page 1 of each filled form, small, side by side. The
# file names are the script's own (01-Name.pdf); every program gets them as
# arguments, never through a shell.
mkdir -p "$thumbs"
shopt -s nullglob
forms=("$out"/[0-9][0-9]-*.pdf)
if [[ ${#forms[@]} -gt 0 ]] && command -v pdftoppm >/dev/null && command -v montage >/dev/null; then
  n=0
  for pdf in "${forms[@]}"; do
    n=$((n + 1))
    pdftoppm -q -r 40 -png -f 1 -l 1 -x 0 -y 0 -W 340 -H 240 -singlefile -- "$pdf" "$thumbs/$(printf '%02d' "$n")"
  done
  montage "$thumbs"/[0-9][0-9].png -tile 6x -geometry +6+6 -background '#d8dbe2' "$out/contact-sheet.png"
  echo "== Wrote ${#forms[@]} filled forms to $out and the contact sheet $out/contact-sheet.png"
fi
exit "$status"
