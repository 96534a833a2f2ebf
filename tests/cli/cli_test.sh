#!/usr/bin/env bash
# filemaker-host's command line, through the real program and its plug-ins:
# exit statuses, what goes to standard output and what to standard error,
# `run -`, the help's size and its long lists. One table, one row a case.
#
#   cli_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
host="$build/bin/filemaker-host"
tmp=$(mktemp -d /tmp/quillmark-cli-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
export QUILLMARK_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$QUILLMARK_RUNTIME_DIR"
cd "$tmp"

printf 'Exit Script [ Result: 3 ]\n' > exit3.fmscript
printf 'Exit Script [ Text Result: 300 ]\n' > exit300.fmscript
printf 'Exit Script [ Text Result: "done" ]\n' > text.fmscript
printf 'Length ( 1 ; 2 ; 3 )\nExit Script [ Result: 0 ]\n' > failed0.fmscript
printf '1 + 1\nSet Variable [ $x ; Value: Length ( ]\nExit Script [ Result: 5 ]\n' > parse.fmscript
printf '# a comment\nFrobnicate [ 1 ]\n' > unknown.fmscript
printf 'If [ 1 ]\n' > open.fmscript
printf 'Length ( "abc" )\n' > good.fmscript
printf 'Perform Script [ "exit3.fmscript" ]\nGet ( ScriptResult )\n' > caller.fmscript
printf 'Name,City\n"Ann,Oslo\n' > broken.csv
printf '1 + 1\nSet Variable [ $x ; Value: 2 ]\n$x * 2\n' > bare.fmscript
printf 'Go to Layout [ "Invoices" ]\n' > layout.fmscript
mkdir folder.fmscript

fails=0
# name | expected status | stdin | stdout must be (exactly) | stderr must match (grep -E) | arguments...
check() {
  local name=$1 status=$2 input=$3 out=$4 err=$5
  shift 5
  local got_out got_err got
  got_out=$(printf '%s' "$input" | "$host" "$@" 2>"$tmp/stderr")
  got=$?
  got_err=$(cat "$tmp/stderr")
  local why=""
  [[ $got == "$status" ]] || why+=" status $got, not $status;"
  [[ "$out" == "*" || "$got_out" == "$out" ]] || why+=" stdout [$got_out], not [$out];"
  if [[ -z "$err" ]]; then
    [[ -z "$got_err" ]] || why+=" stderr not empty: [$got_err];"
  elif ! grep -qE -- "$err" <<<"$got_err"; then
    why+=" stderr [$got_err] lacks /$err/;"
  fi
  if [[ -n "$why" ]]; then
    echo "FAIL $name:$why"
    fails=$((fails + 1))
  else
    echo "ok   $name"
  fi
}

NL=$'\n'
check "Exit Script's number is the status"     3 "" "" ""                 run exit3.fmscript
check "a number beyond 255 is 1, never 0"      1 "" "" ""                 run exit300.fmscript
check "a text result sets no status"           0 "" "" ""                 run text.fmscript
check "a failure is not turned into 0"         1 "" "" "failed0.fmscript:1:1: error: Length takes 1 parameter" run --quiet failed0.fmscript
check "a parse error stops with file:line:col" 1 "" "> 1 + 1${NL}2${NL}> Set Variable [ \$x ; Value: Length ( ]" "^parse.fmscript:2:[0-9]+: error: " run --trace parse.fmscript
check "an unknown step names its place"        1 "" "" "^unknown.fmscript:2:[0-9]+: error: " run --quiet unknown.fmscript
check "a block left open names its line"       1 "" "" "^open.fmscript:1:1: error: this If has no End If" run --quiet open.fmscript
check "a missing script"                       1 "" "" "^missing.fmscript:1:1: error: cannot read the script" run missing.fmscript
check "a folder given as the script"           1 "" "" "^folder.fmscript:1:1: error: this is a folder" run folder.fmscript
check "an unreadable records file"             1 "" "" "cannot read the records file nope.csv" run good.fmscript --records nope.csv
check "a broken records file names its line"   1 "" "" "broken, line [0-9]+, column [0-9]+: " run good.fmscript --records broken.csv
check "Exit Script below the top sets nothing" 0 "" "> Get ( ScriptResult )${NL}3" "" run --trace caller.fmscript
check "run - reads standard input"             4 "Length ( \"ab\" )${NL}Exit Script [ Result: 4 ]${NL}" "> Length ( \"ab\" )${NL}2" "" run --trace -
check "eval: errors to stderr, results out"    1 "" "2${NL}3" "^error: column 1: Length takes 1 parameter" eval 'Length ( 1 ; 2 )' '1 + 1' 'Length ( "abc" )'
check "pipe mode: the same split"              1 "1 + 2${NL}Nope ( 1 )${NL}" "3" "^error: column 1: there is no function named Nope"
check "run prints bare calculations' results"  0 "" "2${NL}4" ""             run bare.fmscript
check "--quiet leaves results out"             0 "" "" ""                 run --quiet bare.fmscript
check "a step FileMaker has and run has not"   1 "" "" "^layout.fmscript:1:1: error: filemaker-host has no script step Go to Layout" run layout.fmscript
check "run -: a calculation over lines"        0 "Let ( [${NL}  a = 1 ] ;${NL}  a + 1 )${NL}" "2" "" run -
check "--json keeps errors as answers"         1 "" '*' ""                --json eval 'Nope'
check "usage: an unknown option"               2 "" "" "not expected|--nope"  --nope
check "usage: run without a script"            2 "" "" "FILE is required"     run
check "usage: eval without a calculation"      2 "" "" "CALC is required"     eval
check "usage: a bad interface version"         2 "" "" "interface-version"    --interface-version x functions
check "--help steps"                           0 "" '*' ""                --help steps
check "--help functions"                       0 "" '*' ""                --help functions

# The merge script fails when a record failed: a form that is not there.
check "the merge counts failed records"        1 "" '*' "" run "$src/examples/merge.fmscript" --records "$src/examples/members.csv" --parameter no-such-form.pdf --parameter "$tmp" --quiet

# QUILLMARK_TIMINGS=1 adds the line's time to every JSON answer, results and errors alike.
timed=$(printf '1 + 1\nNope\n' | QUILLMARK_TIMINGS=1 "$host" --json 2>/dev/null)
[[ $(grep -cE '^\{"calc":.*,"ms":[0-9]+\.[0-9]{4}\}$' <<<"$timed") == 2 ]] || { echo "FAIL QUILLMARK_TIMINGS: [$timed]"; fails=$((fails + 1)); }
[[ $(printf '1\n' | "$host" --json) != *'"ms"'* ]] || { echo "FAIL \"ms\" without QUILLMARK_TIMINGS"; fails=$((fails + 1)); }

# --help fits a screen; the long lists hold every step and function.
lines=$("$host" --help | wc -l)
[[ $lines -le 24 ]] || { echo "FAIL --help is $lines lines, more than a screen"; fails=$((fails + 1)); }
"$host" --help steps | grep -q '^  Go to Record/Request/Page \[' || { echo "FAIL --help steps lacks Go to Record"; fails=$((fails + 1)); }
grep -q '^  PatternCount (' <<<"$("$host" --help functions)" || { echo "FAIL --help functions lacks PatternCount"; fails=$((fails + 1)); }

[[ $fails -eq 0 ]] || { echo "$fails case(s) failed"; exit 1; }
