#!/usr/bin/env bash
# bench/report as the README shows it, in its quick mode on two rows, one round: it writes
# report.md with each row judged against its peer and target, and report.png; an unknown row is
# refused before anything runs. Checks the harness, not the speed.
set -euo pipefail
report=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=()
fail() { problems+=("$*"); }

"$report" --quick --rows open,delete --rounds 1 --build "$build" --out "$work" > "$work/log" 2>&1 ||
  fail "bench/report --quick failed: $(tail -3 "$work/log")"
md="$work/report.md"
[[ -s "$md" ]] || fail "no report.md"
[[ -s "$work/report.png" ]] || fail "no report.png"
grep -q '^| row | size | ours | peer | peer figure | ratio | target | met |$' "$md" || fail "no summary table"
for row in "open + page count + close.* | 1000 | .* ms | PyMuPDF | .* ms | .*× | ≤ 2.0× | (\*\*yes\*\*|no) |" \
  "delete pages 2..101 + save | 300 | .* ms | PyMuPDF | .* ms | .*× | ≤ 1.0× | (\*\*yes\*\*|no) |"; do
  grep -Eq "^\| $row\$" "$md" || fail "no summary line matching: $row"
done
grep -q 'bench/report --quick' "$md" || fail "the report does not say it was a quick run"

if "$report" --quick --rows nosuchrow --build "$build" --out "$work/other" > "$work/log" 2>&1; then
  fail "an unknown row was accepted"
fi
grep -q 'no row nosuchrow' "$work/log" || fail "an unknown row is not named: $(cat "$work/log")"
[[ ! -e "$work/other/report.md" ]] || fail "a refused run wrote a report"

if ((${#problems[@]})); then
  printf 'FAIL: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "bench/report quick run: ok"
