#!/usr/bin/env bash
# The demo main job: copies the shipped form into out/, runs demo.fmscript in
# filemaker-host (which starts acrobat-host), then renders page 1 of the
# filled form to out/page1.png. Called by scripts/run after the build.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${QUILL_BUILD:-$root/build}"
out="$root/out"

mkdir -p "$out"
cp "$here/form.pdf" "$out/membership.pdf"
cp "$here/appendix.pdf" "$out/appendix.pdf"
rm -f "$out/filled.pdf" "$out/page1.png"

# The demo runs its own acrobat-host in a private runtime folder and stops it
# at the end.
export QUILLMARK_RUNTIME_DIR="$(mktemp -d /tmp/quillmark-demo.XXXXXX)"
chmod 700 "$QUILLMARK_RUNTIME_DIR"
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

script="$QUILLMARK_RUNTIME_DIR/demo.fmscript"
# @OUT@ becomes the output folder (a path of our own, never user text).
sed "s|@OUT@|$out|g" "$here/demo.fmscript" > "$script"

echo "== Quillmark demo: $build/bin/filemaker-host run demo.fmscript"
"$build/bin/filemaker-host" run "$script"

pdftoppm -r 80 -png -f 1 -l 1 -singlefile "$out/membership.pdf" "$out/page1"
echo "== Wrote $out/membership.pdf (filled, with the appendix), $out/filled.pdf (filled copy) and $out/page1.png"
