# shellcheck shell=bash
# Sourced by the end-to-end benches. Makes the work folder $work with a private runtime folder
# in it, so that the bench talks to an acrobat-host of its own; at exit every process started
# with that runtime folder is stopped and the work folder removed.
work="$(mktemp -d /tmp/quill-bench.XXXXXX)"
export QUILLMARK_RUNTIME_DIR="$work/run"
mkdir -m 700 "$QUILLMARK_RUNTIME_DIR"
stop_bench_app() {
  local e p
  for e in /proc/[0-9]*/environ; do
    if { tr "\0" "\n" < "$e"; } 2> /dev/null | grep -qxF "QUILLMARK_RUNTIME_DIR=$QUILLMARK_RUNTIME_DIR"; then
      p=${e#/proc/}
      kill "${p%/environ}" 2> /dev/null || true
    fi
  done
  rm -rf "$work"
}
trap stop_bench_app EXIT
