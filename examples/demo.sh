#!/usr/bin/env bash
# The demo main job: copies the shipped form into out/, runs demo.fmscript in
# filemaker-host (which starts acrobat-host), then renders page 1 of the
# filled form to out/page1.png. Called by scripts/run after the build.
# Installed (<prefix>/share/doc/quillmark/examples/demo.sh) it uses the
# installed filemaker-host and writes to ./quillmark-demo instead; $QUILL_DEMO_OUT
# names another output folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
if [[ -n "${QUILL_BUILD:-}" || -d "$root/build/bin" ]]; then
  host="${QUILL_BUILD:-$root/build}/bin/filemaker-host"
  out="${QUILL_DEMO_OUT:-$root/out}"
else
  prefix="$(cd "$here/../../../.." && pwd)"
  host="$prefix/bin/filemaker-host"
  [[ -x "$host" ]] || host=filemaker-host
  out="${QUILL_DEMO_OUT:-$PWD/quillmark-demo}"
fi

mkdir -p "$out"
out="$(cd "$out" && pwd)"
# The folder goes into the script's calculations inside double quotes.
if [[ "$out" == *'"'* ]]; then
  echo "demo.sh: the output folder may not contain a double quote: $out" >&2
  exit 2
fi
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
# @OUT@ becomes the output folder, replaced as plain text (no sed pattern).
while IFS= read -r line || [[ -n "$line" ]]; do
  printf '%s\n' "${line//@OUT@/$out}"
done < "$here/demo.fmscript" > "$script"

echo "== Quillmark demo: $host run demo.fmscript"
"$host" run "$script" --trace

if command -v pdftoppm >/dev/null; then
  pdftoppm -r 80 -png -f 1 -l 1 -singlefile "$out/membership.pdf" "$out/page1"
  echo "== Wrote $out/membership.pdf (filled, with the appendix), $out/filled.pdf (filled copy) and $out/page1.png"
else
  echo "== Wrote $out/membership.pdf (filled, with the appendix) and $out/filled.pdf (filled copy)"
fi
