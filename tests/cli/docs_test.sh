#!/usr/bin/env bash
# The documentation tells the truth:
#  1. filemaker-host(1) lists every option that --help and each mode's --help
#     name (and no other), every script step of --help steps and every
#     built-in function of --help functions; quillmark(7) lists every error
#     code of the README's table. Both sides are parsed, so a new option, step
#     or function needs only its line in the manual page.
#  2. Every command in the README's code blocks and in the manual pages'
#     examples runs, in a folder laid out as the repository root (build/ and
#     examples/) with the README's own installed tree for the commands of an
#     installed system; where a page shows output, the output is compared.
#     The few commands not run here are listed below with the test that covers
#     them: a new command in the documentation is run without a new line here.
#
#   docs_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
host="$build/bin/filemaker-host"
tmp=$(mktemp -d /tmp/quillmark-docs-test.XXXXXX)
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
stop_apps() {  # the acrobat-host each block may have started
  for r in "$tmp"/run-*; do
    [[ -d "$r" ]] && QUILLMARK_RUNTIME_DIR="$r" "$build/bin/acrobat-host" --quit >/dev/null 2>&1
  done
}
trap 'stop_apps; rm -rf "$tmp"' EXIT

# The text of a manual page's section, with roff escapes for "-" undone.
section() { sed -n "/^\.SH \"\\?$2/,/^\.SH /p" "$1" | sed 's/\\-/-/g; s/\\(ti/~/g'; }

# --- 1. Manual page and --help ---------------------------------------------
help_options() {
  {
    "$host" --help
    for mode in $("$host" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }'); do
      "$host" "$mode" --help
    done
  } | grep -E '^ +(-[a-z],)?--' | grep -oE -- '--[a-z][a-z-]*' | sort -u
}
man_options() { section "$src/doc/man/filemaker-host.1" OPTIONS | grep -A1 '^\.TP' | grep -oE -- '--[a-z][a-z-]*' | sort -u; }
diff <(help_options) <(man_options) > "$tmp/options.diff" ||
  fail "options in --help (<) and filemaker-host(1) OPTIONS (>) differ: $(tr '\n' ' ' < "$tmp/options.diff")"

steps=$(section "$src/doc/man/filemaker-host.1" "SCRIPT STEPS")
while IFS= read -r step; do
  grep -qF ".B $step" <<<"$steps" || fail "filemaker-host(1) SCRIPT STEPS lacks \"$step\""
done < <("$host" --help steps | sed -n 's/^  \([A-Z][A-Za-z/ ]*[a-z]\)\( \[.*\)\?$/\1/p')
[[ -n "$steps" ]] || fail "filemaker-host(1) has no SCRIPT STEPS"

functions=$(section "$src/doc/man/filemaker-host.1" CALCULATIONS | tr -s ' \n' '\n\n')
while IFS= read -r name; do
  grep -qx "$name" <<<"$functions" || fail "filemaker-host(1) CALCULATIONS lacks the function $name"
done < <("$host" --help functions | sed -n 's/^  \([A-Za-z][A-Za-z0-9]*\)\( (.*\)\?$/\1/p; s/^  \([A-Za-z][A-Za-z0-9]*\)  .*/\1/p' | sort -u)

readme_codes=$(sed -n '/^| Code | Message |/,/^$/p' "$src/README.md" | grep -oE '^\| -?[0-9]+ ' | tr -d '| ' | sort -n)
man_codes=$(section "$src/doc/man/quillmark.7" ERRORS | grep -oE '^-?[0-9]+	' | tr -d '\t' | sort -n)
[[ -n "$readme_codes" && "$readme_codes" == "$man_codes" ]] ||
  fail "the error codes of quillmark(7) [$(echo $man_codes)] are not the README's [$(echo $readme_codes)]"

# --- 2. The commands -------------------------------------------------------
# Commands not run here, each with the test that runs or checks it instead.
declare -A elsewhere=(
  ["scripts/test"]="the whole suite itself"
  ["scripts/run"]="install-deps and the build, which every test needs, then examples/merge.sh, run below"
  ["scripts/package"]="package_deb (makes the package the same way)"
  ["sudo apt install ./build/quillmark_1.0.1.1_amd64.deb"]="package_deb (changes the machine's packages; its files are checked)"
  ["sudo apt remove quillmark"]="package_deb (changes the machine's packages)"
)

# README: every line of an sh block, comments dropped, continuations joined.
readme_commands() {
  awk '/^```sh$/ { on = 1; next } /^```$/ { on = 0; next } on && /^[ \t]*#/ { next }
       on { sub(/[ \t]+#.*$/, ""); if ($0 ~ /\\$/) { sub(/\\$/, ""); acc = acc $0; next }
            print acc $0; acc = "" }' "$src/README.md" | sed 's/[ \t]*$//; s/  */ /g' | grep -v '^$'
}

root="$tmp/root"
home="$tmp/home"
mkdir -p "$root" "$home"
ln -s "$build" "$root/build"
ln -s "$src/examples" "$root/examples"
ln -s "$src/scripts" "$root/scripts"
printf 'Length ( "my-script" )\n' > "$root/my-script.fmscript"
prefix="$home/opt/quillmark"  # where the README installs; done first for the commands before it
cmake --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; fail "cmake --install"; }
n=0
run_in() {  # folder, command, [expected output]
  local dir=$1 cmd=$2 expected=${3-}
  n=$((n + 1))
  mkdir -m 700 "$tmp/run-$n"
  local got status
  # Into a file: an application started in the background keeps the output open.
  (cd "$dir" && env HOME="$home" QUILLMARK_RUNTIME_DIR="$tmp/run-$n" PATH="$prefix/bin:$PATH" \
    QUILL_DEMO_OUT="$home/quillmark-demo" QUILL_MERGE_OUT="$home/quillmark-merge" \
    timeout 120 bash -c "$cmd" </dev/null >"$tmp/stdout" 2>"$tmp/stderr")
  status=$?
  got=$(cat "$tmp/stdout")
  QUILLMARK_RUNTIME_DIR="$tmp/run-$n" "$build/bin/acrobat-host" --quit >/dev/null 2>&1
  if [[ $status -ne 0 ]]; then
    fail "\`$cmd\` exits $status: $(tail -3 "$tmp/stderr")"
  elif [[ -n "$expected" && "$got" != "$expected" ]]; then
    fail "\`$cmd\` prints [$got], not [$expected]"
  else
    echo "ok   $cmd"
  fi
}
installed() { sed "s|/usr/share/doc/quillmark|$prefix/share/doc/quillmark|g"; }

while IFS= read -r cmd; do
  if [[ -n "${elsewhere[$cmd]+x}" ]]; then echo "--   $cmd: ${elsewhere[$cmd]}"; continue; fi
  run_in "$root" "$(installed <<<"$cmd")"
done < <(readme_commands)
# The merge as the README shows it writes its twelve forms.
count=$(ls "$root"/out/[0-9][0-9]-*.pdf 2>/dev/null | wc -l)
[[ $count -eq 12 ]] || fail "the README's merge command wrote $count forms into out/, not 12"

# Manual pages: each example block is one shell session; lines after a
# "$ command" are its output. A block without commands is a script, saved
# under the name the next block's "run" gives.
mkdir -p "$tmp/blocks"
awk -v dir="$tmp/blocks" '
  /^\.EX$/ { on = 1; b++; f = sprintf("%s/%03d", dir, b); next }
  /^\.EE$/ { on = 0; next }
  on { gsub(/\\-/, "-"); gsub(/\\\(aq/, "\047"); gsub(/\\e/, "\\"); gsub(/\\\(ti/, "~")
       if ($0 ~ /^\$ /) { line = substr($0, 3); sub(/&$/, "\\& sleep 1", line); print line > (f ".cmd"); cont = line ~ /\\$/ }
       else if (cont) { print $0 > (f ".cmd"); cont = $0 ~ /\\$/ }
       else print $0 > (f ".out") }' "$src/doc/man/filemaker-host.1" "$src/doc/man/quillmark.7" "$src/doc/man/acrobat-host.1"
script=""
for f in $(ls "$tmp"/blocks/ | sed 's/\..*//' | sort -u); do
  f="$tmp/blocks/$f"
  if [[ ! -f "$f.cmd" ]]; then script="$f.out"; continue; fi
  cmd=$(installed < "$f.cmd")
  if [[ -n "$script" ]]; then
    name=$(grep -oE '[A-Za-z0-9_-]+\.fmscript' <<<"$cmd" | head -1)
    [[ -n "$name" ]] && cp "$script" "$home/$name"
    script=""
  fi
  expected=$([[ -f "$f.out" ]] && cat "$f.out")
  # A block that starts the application in the foreground runs until stopped:
  # still running after 3 seconds is its success.
  if grep -qE '^acrobat-host( |$)' <<<"$cmd" && ! grep -qE -- '--(open|quit|close-windows)|sleep 1$' <<<"$cmd"; then
    cmd="timeout 3 $cmd; [[ \$? -eq 124 ]]"
  fi
  run_in "$home" "$cmd" "$expected"
done

[[ $fails -eq 0 ]] || { echo "$fails case(s) failed"; exit 1; }
