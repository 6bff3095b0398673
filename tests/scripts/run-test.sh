#!/usr/bin/env bash
# scripts/run as the README uses it, against a data folder and alias of this
# test (VERUZADU_RUN_DATA, VERUZADU_RUN_ALIAS) and a program folder of its own:
# recordings filed from the simulator; a second run refused while the first
# goes on, with the first run's simulator and unit untouched; Ctrl-C (SIGINT)
# leaves nothing running; a unit registered by hand survives further runs;
# --remove takes away the installation and nothing else. Runs under
# scripts/test, which starts the server.
#
#   run-test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
top=$1
build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ -z ${VERUZADU_FB_PASSWORD:-} ]]; then
  [[ -n ${VERUZADU_EXIGE_SERVIDOR:-} ]] && fail "no test server"
  echo "no test server (run through scripts/test)"; exit 77
fi
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo -n"
t=$(mktemp -d)
export BUILD_DIR=$build VERUZADU_HOME=$t/home
export VERUZADU_RUN_DATA=$VERUZADU_FB_DATA/run-$$ VERUZADU_RUN_ALIAS=VZRUN_$$
first=""
cleanup() {
  [[ -n $first ]] && kill -KILL -- -"$first" 2>/dev/null || true
  for d in "$t"/home/sim/PABX*; do [[ -d $d ]] && bash "$top/scripts/pabx-sim" stop "$d" >/dev/null 2>&1 || true; done
  $sudo "$build/tools/db/veruzadu-install" --remove-alias "$VERUZADU_RUN_ALIAS" >/dev/null 2>&1 || true
  $sudo rm -rf "$VERUZADU_RUN_DATA"
  rm -rf "$t"
}
trap cleanup EXIT
cd "$top"
# shellcheck source=readme.sh
source "$top/tests/scripts/readme.sh"
# A README block with the machine's places replaced by this test's.
bloco() {
  readme_block "$1" | sed -e "s|/var/lib/firebird/3.0/data/veruzadu|$VERUZADU_RUN_DATA|g" \
    -e "s|run/|$VERUZADU_HOME/|g" \
    -e "s|build/tools/db/veruzadu-unidade|$build/tools/db/veruzadu-unidade --alias $VERUZADU_RUN_ALIAS|g"
}
unidades() { "$build/tools/db/veruzadu-unidade" --alias "$VERUZADU_RUN_ALIAS" --list; }
wait_for() {  # file text seconds
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# 1. The first run (the README's command) files the simulator's recordings,
# which the README's query counts; the password file it names is there.
[[ $(readme_block inicio | sed 's/ *#.*//') == "scripts/run" ]] || fail "the README's first command changed"
setsid bash -c "$(bloco inicio)" >"$t/run1.log" 2>&1 &
first=$!
wait_for "$t/run1.log" "Registrou arquivo" 300 || { cat "$t/run1.log"; fail "no recording filed"; }
grep -q "run: console login ADMIN, password in $t/home/ADMIN.senha" "$t/run1.log" ||
  { cat "$t/run1.log"; fail "the first administrator's password was not shown"; }
[[ $(unidades) == $'1\tSimulada 1\t127.0.0.1' ]] || fail "unit 1 is not the simulator's: $(unidades)"
n=$(bloco gravacoes | bash | awk 'NF {v = $NF} END {print v}')
[[ $n =~ ^[0-9]+$ && $n -ge 1 ]] || fail "the README's query counted no recording: $n"
[[ $(bloco senha | bash) =~ ^[A-Za-z0-9]{12}$ ]] || fail "the README's password command shows no password"
sim_pid=$(cat "$t/home/sim/PABX001/pabx-sim.pid")
units_before=$(unidades)

# 2. A second run refuses before touching anything.
if bash scripts/run --count 5 >"$t/run2.log" 2>&1; then fail "a second run started"; fi
grep -q "already runs" "$t/run2.log" || { cat "$t/run2.log"; fail "the second run did not say why"; }
kill -0 "$sim_pid" 2>/dev/null || fail "the second run stopped the first run's simulator"
[[ $(cat "$t/home/sim/PABX001/pabx-sim.pid") == "$sim_pid" ]] || fail "the simulator was replaced"
[[ -n $(ls -A "$t/home/sim/PABX001/store") || $(grep -c "Registrou arquivo" "$t/run1.log") -ge 1 ]] ||
  fail "the first run's store was wiped"
[[ $(unidades) == "$units_before" ]] || fail "the second run changed the units"
# Also from another program folder (another checkout) on the same installation.
if VERUZADU_HOME=$t/other bash scripts/run --count 5 >"$t/run2b.log" 2>&1; then fail "a run from another folder started"; fi
grep -q "already runs on the installation" "$t/run2b.log" || { cat "$t/run2b.log"; fail "the other folder's run did not say why"; }
kill -0 "$sim_pid" 2>/dev/null || fail "the other folder's run stopped the first run's simulator"
[[ $(unidades) == "$units_before" ]] || fail "the other folder's run changed the units"

# 3. Ctrl-C: the run ends and leaves nothing running.
kill -INT -- -"$first"
for ((i = 0; i < 600; i++)); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
kill -0 "$first" 2>/dev/null && fail "the run did not end on Ctrl-C"
first=""
! kill -0 "$sim_pid" 2>/dev/null || fail "the simulator still runs"
[[ ! -e $t/home/run.pid ]] || fail "run.pid left behind"

# 4. A unit registered by hand (the README's commands: the registration, then
# the service without simulators) is never changed by a later run.
setsid bash -c "$(bloco pabx-real)" >"$t/real.log" 2>&1 &
first=$!
wait_for "$t/real.log" "run: program folder" 300 || { cat "$t/real.log"; fail "the run without simulators did not start"; }
kill -INT -- -"$first"
for ((i = 0; i < 600; i++)); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
first=""
grep -q "unidade 1 registrada: 192.0.2.10:5000" "$t/real.log" || { cat "$t/real.log"; fail "the README's registration failed"; }
hand=$(unidades)
[[ $hand == $'1\tPABX 1\t192.0.2.10' ]] || fail "the hand-registered unit is not there: $hand"
for n in 1 2; do
  if bash scripts/run --count 1 >"$t/run3.log" 2>&1; then fail "a run took the hand-registered unit"; fi
  grep -q "unit 1 is registered for something else" "$t/run3.log" || { cat "$t/run3.log"; fail "no reason given"; }
  [[ $(unidades) == "$hand" ]] || fail "run $n changed the hand-registered unit: $(unidades)"
done
grep -q "console login ADMIN, password in .* as first set" "$t/run3.log" || { cat "$t/run3.log"; fail "the password in force was not shown"; }

# 5. --remove: the databases, the alias and the data folder go.
bash -c "$(bloco remover)" >"$t/remove.log" 2>&1 || { cat "$t/remove.log"; fail "--remove failed"; }
! grep -q "^$VERUZADU_RUN_ALIAS " /etc/firebird/3.0/databases.conf || fail "alias left behind"
! $sudo test -e "$VERUZADU_RUN_DATA" || fail "data folder left behind"
[[ -d $t/home ]] || fail "--remove took a program folder given in VERUZADU_HOME"
echo "scripts/run: filed, refused twice without damage, stopped cleanly, removed"
