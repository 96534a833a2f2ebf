#!/usr/bin/env bash
# filemaker-host's prompt in a real terminal (tmux): Ctrl-C drops a half-typed
# line and an open If block; Ctrl-D with a changed document open warns once
# and ends at the second; the history outlives the session; a pasted
# multi-line calculation is one input; blocks print only what is asked; help;
# the exit status follows the last input. The document is
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
    sh -c 'trap "" INT; "$@"; echo $? > "$0"' "$tmp/status" "$build/bin/filemaker-host" --extensions "$build/Extensions"
  tmux -L "$sock" set-option -t quill remain-on-exit on >/dev/null
  wait_last '^fm>$' || fail "no prompt"
}
running() { [[ "$(tmux -L "$sock" display-message -p -t quill '#{pane_dead}')" == 0 ]]; }
# The program's exit status, written by the shell that started it (tmux may
# see the terminal close before it has the status).
exit_status() {
  for _ in $(seq 100); do
    [[ -s "$tmp/status" ]] && break
    sleep 0.1
  done
  cat "$tmp/status" 2>/dev/null
  rm -f "$tmp/status"
}

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

# Input over several lines, blocks, Ctrl-C's error, help and the exit status.
tmux -L "$sock" kill-session -t quill
start
calc='Let ( [
    n = 5 ;
    s = While (
        [ i = 0 ; out = "" ] ;
        i < n ;
        [
            i = i + 1 ;
            out = out & i & "," 
        ] ;
        out
    )
] ;
    ValueCount ( s ) & "|" &
    Substitute (
        s ;
        "," ;
        "+"
    )
)'
tmux -L "$sock" set-buffer -b calc -- "$calc"
tmux -L "$sock" paste-buffer -p -d -b calc -t quill  # bracketed paste, as a terminal pastes
step "a pasted calculation is one input"   '^fm>$'  Enter
[[ $(screen | grep -cx '1|1+2+3+4+5+') -eq 1 ]] || fail "the pasted 19 lines were not evaluated once"
screen | grep -q 'error' && fail "the pasted calculation was evaluated line by line"
step "Up brings the whole block back"      '^fm>$'  Up Enter
[[ $(screen | grep -cx '1|1+2+3+4+5+') -eq 2 ]] || fail "the recalled block was not evaluated as one"
step "an open text continues"              '^\.\.>$' 'Length ( "ab' Enter
step "and ends on the next line"           '^fm>$'  'c" )' Enter
screen | grep -qx '4' || fail "Length over two lines is not 4"
step "a block prints only what is asked"   '^fm>$'  'Loop' Enter 'Set Variable [ $i ; Value: $i + 1 ]' Enter \
  'Exit Loop If [ $i = 3 ]' Enter 'End Loop' Enter '$i & " turns"' Enter
screen | grep -q '^\$i = ' && fail "a Set Variable inside a Loop echoed its value"
screen | grep -qx '3 turns' || fail "the loop did not run"
keys 'Loop' Enter 'Set Variable [ $n ; Value: $n + 1 ]' Enter 'End Loop' Enter
sleep 0.5
step "Ctrl-C stops a running loop"         '^fm>$'  C-c
step "and leaves LastError 1"              '^fm>$'  'Get ( LastError ) & " after Ctrl-C"' Enter
screen | grep -qx '1 after Ctrl-C' || fail "Get ( LastError ) is not 1 after Ctrl-C"
step "a failing call says why"             '^fm>$'  'Torv_GetNumPages' Enter
why=$(screen | grep -A1 -x '!!ERROR!!' | tail -1)
[[ -n "$why" && "$why" != "fm>"* ]] || fail "no last error text under !!ERROR!!"
step "help prints --help"                  '^fm>$'  'help' Enter
screen | grep -q 'loads FileMaker plug-in bundles' || fail "help did not print --help"
step "help functions prints the list"      '^fm>$'  'help functions' Enter
screen | grep -q "The plug-ins' functions" || fail "help functions did not print the functions"
step "a typo, then a good line"            '^fm>$'  'Lenght ( "a" )' Enter '1 + 1' Enter
keys C-d
status=$(exit_status)
[[ "$status" == 0 ]] && echo "ok   Ctrl-D after a good line exits 0" || fail "Ctrl-D after a good line exited $status"
tmux -L "$sock" kill-session -t quill
start
step "a failing last line"                 '^fm>$'  'Lenght ( "a" )' Enter
keys C-d
status=$(exit_status)
[[ "$status" == 1 ]] && echo "ok   Ctrl-D after a failed line exits 1" || fail "Ctrl-D after a failed line exited $status"

[[ $fails -eq 0 ]] || { echo "$fails case(s) failed"; exit 1; }
