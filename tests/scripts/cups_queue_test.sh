#!/usr/bin/env bash
# scripts/cups-queue against stand-ins for lpstat, lpadmin, cupsenable,
# cupsaccept, ipptool, dbus-daemon, ippeveprinter and id: start sets the
# printer and its queue up, stop leaves the system as start found it (default
# printer, output folder and its mode, no printer process left), and without
# root start refuses and stop changes nothing.
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
  -v) [[ -f $db/queue.$2 ]] && echo "device for $2: $(cat "$db/queue.$2")" ;;
esac
SH
cat > "$fake/lpadmin" <<'SH'
#!/usr/bin/env bash
db=$FAKE_CUPS
case "$1" in
  -p) echo "$5" > "$db/queue.$2" ;;
  -x) rm -f "$db/queue.$2"; [[ "$(cat "$db/default" 2>/dev/null)" == "$2" ]] && : > "$db/default" ;;
  -d) [[ -f $db/queue.$2 ]] || exit 1; echo "$2" > "$db/default" ;;
esac
exit 0
SH
printf '#!/bin/sh\nexit 0\n' > "$fake/cupsenable"
printf '#!/bin/sh\nexit 0\n' > "$fake/cupsaccept"
printf '#!/bin/sh\nexit 0\n' > "$fake/ipptool"
# The printer and its bus: processes that wait to be stopped.
printf '#!/bin/sh\nexec sleep 300\n' > "$fake/ippeveprinter"
printf '#!/bin/sh\nsleep 300 >/dev/null 2>&1 &\necho $!\n' > "$fake/dbus-daemon"
printf '#!/bin/sh\nif [ "$1" = "-u" ]; then echo "${FAKE_UID:-0}"; else /usr/bin/id "$@"; fi\n' > "$fake/id"
chmod +x "$fake"/*

run() {  # start|stop, with the stand-ins first on the path
  PATH="$fake:$PATH" FAKE_CUPS=$work/cups QUILL_CUPS_STATE=$work/state QUILL_PRINT_OUT=$work/out "$script" "$@"
}
# Running, not a zombie waiting for its parent.
alive() { local s; s=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $s != Z* ]]; }
default_now() { cat "$work/cups/default" 2>/dev/null || true; }

# ---- a configured system: another default printer
echo "Office" > "$work/cups/default"
: > "$work/cups/queue.Office"

run start >/dev/null || fail "start failed"
expect_eq "default after start" Quillmark_PDF "$(default_now)"
expect_eq "queue's device" "ipp://localhost:8632/ipp/print" "$(cat "$work/cups/queue.Quillmark_PDF" 2>/dev/null)"
expect_eq "output folder mode after start" 777 "$(stat -c %a "$work/out" 2>/dev/null)"
printer=$(cat "$work/state/ippeveprinter.pid" 2>/dev/null || echo none)
bus=$(cat "$work/state/bus.pid" 2>/dev/null || echo none)
alive "$printer" || fail "start left no printer running"
run start >/dev/null || fail "a second start failed"
expect_eq "printer after a second start" "$printer" "$(cat "$work/state/ippeveprinter.pid" 2>/dev/null)"
run stop >/dev/null || fail "stop failed"
expect_eq "default after stop" Office "$(default_now)"
sleep 0.2
! alive "$printer" || fail "stop left the printer running"
! alive "$bus" || fail "stop left the printer's bus running"
[[ ! -e "$work/out" ]] || fail "stop left the output folder start had made"
[[ ! -f "$work/cups/queue.Quillmark_PDF" ]] || fail "stop left the queue"
[[ -f "$work/cups/queue.Office" ]] || fail "stop removed another queue"

# ---- a bare system: no default, an output folder of mode 755
: > "$work/cups/default"
mkdir -p "$work/out"
chmod 755 "$work/out"
touch "$work/out/kept.pdf"
run start >/dev/null || fail "start on a bare system failed"
run stop >/dev/null || fail "stop on a bare system failed"
expect_eq "default after stop on a bare system" "" "$(default_now)"
expect_eq "output folder mode after stop" 755 "$(stat -c %a "$work/out" 2>/dev/null)"
[[ -f "$work/out/kept.pdf" ]] || fail "stop removed a file from an output folder it had not made"

# ---- a queue that was there before start stays after stop
echo "ipp://localhost:8632/ipp/print" > "$work/cups/queue.Quillmark_PDF"
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
