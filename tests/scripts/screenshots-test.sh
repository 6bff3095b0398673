#!/usr/bin/env bash
# scripts/screenshots as a reader runs it: it ends by itself with a picture of
# every console window (a window whose picture is missing fails the test), and
# SIGTERM ends it at once, scratch installation removed. Runs under
# scripts/test, which starts the server.
#
#   screenshots-test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
top=$1
build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ -z ${VERUZADU_FB_PASSWORD:-} ]]; then
  [[ -n ${VERUZADU_EXIGE_SERVIDOR:-} ]] && fail "no test server"
  echo "no test server (run through scripts/test)"; exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export BUILD_DIR=$build

# Every window, and an end within the limit: the README's command.
# shellcheck source=readme.sh
source "$top/tests/scripts/readme.sh"
comando=$(readme_block pictures | sed "s|/tmp/veruzadu-pictures|$work/shots|g")
status=0
(cd "$top" && timeout -k 10 200 bash -c "$comando") >"$work/log" 2>&1 || status=$?
cat "$work/log"
missing=()
while read -r name; do
  [[ -s $work/shots/$name ]] || missing+=("$name")
done < <("$build/console/veruzadu-screenshots" --list)
(( ${#missing[@]} == 0 )) || fail "no picture of: ${missing[*]}"
[[ $status -eq 0 ]] || fail "scripts/screenshots ended with status $status"
n=$("$build/console/veruzadu-screenshots" --list | wc -l)
(( n >= 30 )) || fail "only $n windows listed"

# SIGTERM while the windows are drawn: the command ends, leaving no scratch folder.
setsid bash "$top/scripts/screenshots" "$work/shots2" >"$work/log2" 2>&1 &
pid=$!
for ((i = 0; i < 600; i++)); do
  grep -q 'wrote .*FormConfig.png' "$work/log2" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
grep -q 'wrote' "$work/log2" || { kill -KILL -- -"$pid" 2>/dev/null; cat "$work/log2"; fail "the second run drew nothing"; }
scratch=$(sed -n 's/^screenshots: scratch installation in \([^ ]*\) .*/\1/p' "$work/log2")
[[ -d $scratch ]] || fail "no scratch folder named"
kill -TERM "$pid"
for ((i = 0; i < 200; i++)); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL -- -"$pid" 2>/dev/null || true
  cat "$work/log2"
  fail "SIGTERM did not end scripts/screenshots within 20 s"
fi
wait "$pid" 2>/dev/null || true
[[ ! -e $scratch ]] || fail "scratch folder $scratch left behind"
echo "screenshots: $n windows, SIGTERM ends the run"
