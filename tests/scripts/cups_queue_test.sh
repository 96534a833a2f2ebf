#!/usr/bin/env bash
# scripts/cups-queue against stand-ins for lpstat, lpadmin, cupsenable,
# cupsaccept, lpinfo and id: start sets the queue up, stop leaves the system
# as start found it (default printer, cups-pdf configuration, output folder
# and its mode), and without root start refuses and stop changes nothing.
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0

fail() {
  echo "FAIL: $*" >&2
  fails=$((fails + 1))
}
expect_eq() {  # what, expected, actual
  [[ "$2" == "$3" ]] || fail "$1: expected '$2', got '$3'"
}

# ---- the stand-ins: a scheduler that is up, its queues and default in files
fake=$work/bin
mkdir -p "$fake" "$work/cups"
cat > "$fake/lpstat" <<'SH'
#!/usr/bin/env bash
db=$FAKE_CUPS
case "$1" in
  -r) echo "scheduler is running" ;;
  -d) if [[ -s $db/default ]]; then echo "system default destination: $(cat "$db/default")";
      else echo "no system default destination"; fi ;;
  -p) [[ -f $db/queue.$2 ]] || { echo "lpstat: Invalid destination name in list \"$2\"." >&2; exit 1; }
      echo "printer $2 is idle." ;;
  -a) [[ -f $db/queue.$2 ]] && echo "$2 accepting requests since now" ;;
esac
SH
cat > "$fake/lpadmin" <<'SH'
#!/usr/bin/env bash
db=$FAKE_CUPS
case "$1" in
  -p) : > "$db/queue.$2" ;;
  -x) rm -f "$db/queue.$2"; [[ "$(cat "$db/default" 2>/dev/null)" == "$2" ]] && : > "$db/default" ;;
  -d) [[ -f $db/queue.$2 ]] || exit 1; echo "$2" > "$db/default" ;;
esac
exit 0
SH
printf '#!/bin/sh\nexit 0\n' > "$fake/cupsenable"
printf '#!/bin/sh\nexit 0\n' > "$fake/cupsaccept"
printf '#!/bin/sh\necho "lsb/usr/cups-pdf/CUPS-PDF_opt.ppd CUPS-PDF"\n' > "$fake/lpinfo"
printf '#!/bin/sh\nif [ "$1" = "-u" ]; then echo "${FAKE_UID:-0}"; else /usr/bin/id "$@"; fi\n' > "$fake/id"
chmod +x "$fake"/*

run() {  # start|stop, with the stand-ins first on the path
  PATH="$fake:$PATH" FAKE_CUPS=$work/cups QUILL_CUPS_STATE=$work/state QUILL_CUPS_PDF_CONF=$work/cups-pdf.conf \
    QUILL_PRINT_OUT=$work/out "$script" "$@"
}
default_now() { cat "$work/cups/default" 2>/dev/null || true; }

# ---- a configured system: another default printer, a configuration of its own
echo "Office" > "$work/cups/default"
: > "$work/cups/queue.Office"
printf '# cups-pdf\nOut ${HOME}/PDF\nLabel 1\n' > "$work/cups-pdf.conf"
cp "$work/cups-pdf.conf" "$work/conf.before"

run start >/dev/null || fail "start failed"
expect_eq "default after start" Quillmark_PDF "$(default_now)"
grep -qx "Out $work/out" "$work/cups-pdf.conf" || fail "start did not point cups-pdf at the output folder"
expect_eq "output folder mode after start" 777 "$(stat -c %a "$work/out" 2>/dev/null)"
run start >/dev/null || fail "a second start failed"
run stop >/dev/null || fail "stop failed"
expect_eq "default after stop" Office "$(default_now)"
cmp -s "$work/conf.before" "$work/cups-pdf.conf" || fail "stop did not restore the cups-pdf configuration"
[[ ! -e "$work/out" ]] || fail "stop left the output folder start had made"
[[ ! -f "$work/cups/queue.Quillmark_PDF" ]] || fail "stop left the queue"
[[ -f "$work/cups/queue.Office" ]] || fail "stop removed another queue"

# ---- a bare system: no default, no configuration, an output folder of mode 755
: > "$work/cups/default"
rm -f "$work/cups-pdf.conf"
mkdir -p "$work/out"
chmod 755 "$work/out"
touch "$work/out/kept.pdf"
run start >/dev/null || fail "start on a bare system failed"
run stop >/dev/null || fail "stop on a bare system failed"
expect_eq "default after stop on a bare system" "" "$(default_now)"
[[ ! -e "$work/cups-pdf.conf" ]] || fail "stop left a configuration that was not there"
expect_eq "output folder mode after stop" 755 "$(stat -c %a "$work/out" 2>/dev/null)"
[[ -f "$work/out/kept.pdf" ]] || fail "stop removed a file from an output folder it had not made"

# ---- a queue that was there before start stays after stop
: > "$work/cups/queue.Quillmark_PDF"
run start >/dev/null && run stop >/dev/null || fail "start and stop with an existing queue failed"
[[ -f "$work/cups/queue.Quillmark_PDF" ]] || fail "stop removed a queue that was there before start"
rm -f "$work/cups/queue.Quillmark_PDF"

# ---- without root: start refuses with a message, stop changes nothing
echo "Office" > "$work/cups/default"
if out=$(FAKE_UID=1000 run start 2>&1); then fail "start without root succeeded"; fi
[[ "$out" == *"needs root"* ]] || fail "start without root gave no reason: $out"
expect_eq "default after a refused start" Office "$(default_now)"
FAKE_UID=1000 run stop >/dev/null 2>&1 || fail "stop without root failed"
expect_eq "default after stop without root" Office "$(default_now)"

[[ $fails -eq 0 ]] && echo "cups-queue: all checks passed"
exit $((fails > 0))
