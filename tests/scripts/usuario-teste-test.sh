#!/usr/bin/env bash
# The test user of scripts/test exists only for its run: made by the hook,
# removed by the run's clean-up, and one left by a killed run is removed by
# the next run (a live run's user is left alone). Needs root.
#
#   usuario-teste-test.sh SOURCE_DIR
set -euo pipefail
top=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[[ $(id -u) -eq 0 ]] || { echo "needs root"; exit 77; }
hook=$top/scripts/test.d/05-usuario-teste.sh
out=$(mktemp)
trap 'rm -f "$out"; [[ -n ${vivo:-} ]] && kill "$vivo" 2>/dev/null; true' EXIT

# A run killed while its user exists.
bash -c 'stops=(); source "$1"; echo "$VERUZADU_TEST_USER"; exec sleep 300' sh "$hook" >"$out" &
morto=$!
for ((i = 0; i < 100; i++)); do [[ -s $out ]] && break; sleep 0.1; done
u1=$(cat "$out")
[[ $u1 == vzt* ]] || fail "no user made: '$u1'"
id "$u1" >/dev/null || fail "user $u1 missing"
[[ -f /etc/sudoers.d/veruzadu-test-$u1 ]] || fail "no sudo rule for $u1"
sudo -l -U "$u1" | grep -q NOPASSWD || fail "$u1 has no sudo"
kill -KILL "$morto"; wait "$morto" 2>/dev/null || true

# A run that goes on meanwhile.
: >"$out"
bash -c 'stops=(); source "$1"; echo "$VERUZADU_TEST_USER"; exec sleep 300' sh "$hook" >"$out" &
vivo=$!
for ((i = 0; i < 100; i++)); do [[ -s $out ]] && break; sleep 0.1; done
u2=$(cat "$out")

# The next run removes the killed run's user, keeps the live one's, and
# removes its own at its end.
u3=$(bash -c 'stops=(); source "$1"; echo "$VERUZADU_TEST_USER"; for ((i = ${#stops[@]} - 1; i >= 0; i--)); do eval "${stops[i]}"; done' sh "$hook")
! id "$u1" >/dev/null 2>&1 || fail "the killed run's user $u1 is still there"
[[ ! -e /etc/sudoers.d/veruzadu-test-$u1 ]] || fail "the killed run's sudo rule is still there"
[[ ! -d /home/$u1 ]] || fail "the killed run's home is still there"
id "$u2" >/dev/null || fail "the live run's user $u2 was removed"
! id "$u3" >/dev/null 2>&1 || fail "the run's own user $u3 is still there"
[[ ! -e /etc/sudoers.d/veruzadu-test-$u3 ]] || fail "the run's own sudo rule is still there"

kill -KILL "$vivo"; wait "$vivo" 2>/dev/null || true
vivo=""
bash -c 'stops=(); source "$1"; for ((i = ${#stops[@]} - 1; i >= 0; i--)); do eval "${stops[i]}"; done' sh "$hook"
! id "$u2" >/dev/null 2>&1 || fail "$u2 left behind"
echo "test user: made per run, removed at its end and after a kill"
