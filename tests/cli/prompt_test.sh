#!/usr/bin/env bash
# filemaker-host's prompt in a real terminal (tmux): Ctrl-C drops a half-typed
# line and an open If block; Ctrl-D with a changed document open warns once
# and ends at the second; the history outlives the session. The document is
# a real PDF in a real acrobat-host, which the test stops at the end.
#
#   prompt_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
command -v tmux >/dev/null || { echo "SKIP: tmux is not installed"; exit 77; }
tmp=$(mktemp -d /tmp/quillmark-prompt-test.XXXXXX)
sock="quill-prompt-$$"
export QUILLMARK_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$QUILLMARK_RUNTIME_DIR"
cleanup() {
  tmux -L "$sock" kill-server 2>/dev/null
  "$build/bin/acrobat-host" --quit >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
cp "$src/examples/form.pdf" "$tmp/form.pdf"

fails=0
fail() { echo "FAIL $*"; echo "--- screen:"; screen; fails=$((fails + 1)); }
screen() { tmux -L "$sock" capture-pane -p -t quill 2>/dev/null; }
keys() { tmux -L "$sock" send-keys -t quill "$@"; }
# Waits until the screen's last non-empty line matches (grep -E).
wait_last() {
  for _ in $(seq 100); do
    screen | grep -v '^$' | tail -1 | grep -qE -- "$1" && return 0
    sleep 0.1
  done
  return 1
}
start() {
  tmux -L "$sock" new-session -d -s quill -x 150 -y 40 \
    env XDG_STATE_HOME="$tmp/state" QUILLMARK_RUNTIME_DIR="$QUILLMARK_RUNTIME_DIR" HOME="$tmp" \
    "$build/bin/filemaker-host" --extensions "$build/Extensions"
  tmux -L "$sock" set-option -t quill remain-on-exit on >/dev/null
  wait_last '^fm>$' || fail "no prompt"
}
running() { [[ "$(tmux -L "$sock" display-message -p -t quill '#{pane_dead}')" == 0 ]]; }

start
# name | keys | the last line afterwards
step() {
  local name=$1 want=$2
  shift 2
  keys "$@"
  if wait_last "$want"; then echo "ok   $name"; else fail "$name: last line is not /$want/"; fi
}
step "a calculation is answered"           '^fm>$'  'Length ( "abc" )' Enter
keys 'Length ( "a'
wait_last 'Length \( "a$' || fail "the typed text is not shown"
step "Ctrl-C drops a half-typed line"      '^fm>$'  C-c
step "the dropped text is gone"            '^fm>$'  '40 + 2' Enter
screen | grep -qx '42' || fail "after Ctrl-C the next line was not evaluated alone"
step "If gathers its lines"                '^\.\.>$' 'If [ 1 ]' Enter 'Show Custom Dialog [ "T" ; "inside" ]' Enter
step "Ctrl-C drops the open block"         '^fm>$'  C-c
step "a line after it runs at once"        '^fm>$'  '6 * 7' Enter
screen | grep -qx 'T: inside' && fail "the dropped block ran"
[[ $(screen | grep -cx '42') -eq 2 ]] || fail "6 * 7 was not answered at once"

step "a document is opened"                '^fm>$'  "Torv_OpenPDF ( \"$tmp/form.pdf\" )" Enter
step "and changed"                         '^fm>$'  'Torv_SetPDFFieldValue ( "applicant.name" ; "Ann" )' Enter
keys C-d
wait_last '^fm>$'
if screen | grep -q 'Ctrl-D again' && running; then echo "ok   Ctrl-D with changes warns and stays"; else fail "no warning at Ctrl-D"; fi
keys C-d
for _ in $(seq 100); do running || break; sleep 0.1; done
if running; then fail "a second Ctrl-D did not end the prompt"; else echo "ok   a second Ctrl-D ends it"; fi

history="$tmp/state/quillmark/filemaker-host_history"
grep -qx '40 + 2' "$history" 2>/dev/null || fail "the history file $history lacks the lines typed"
tmux -L "$sock" kill-session -t quill
start
step "the history comes back"              'Torv_SetPDFFieldValue'  Up
keys C-c 'Torv_ClosePDF' Enter
wait_last '^fm>$'
keys C-d
for _ in $(seq 50); do running || break; sleep 0.1; done
running && fail "Ctrl-D with nothing changed did not end the prompt"

[[ $fails -eq 0 ]] || { echo "$fails case(s) failed"; exit 1; }
