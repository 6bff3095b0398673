#!/usr/bin/env bash
# The set-up scripts as an unprivileged user with sudo would run them: a lease
# on the shared server, the tests' data folder and database installation with
# their clean-up, and the administrator's password read from the machine (and
# left as it was); then the commands of the README that need root for some
# steps (`scripts/run console`, `scripts/screenshots`, database tests that
# install through sudo and compact a database). Runs under scripts/test, which
# starts the server, makes the user (VERUZADU_TEST_USER) and exports
# VERUZADU_FB_*.
#
#   usuario-sudo-test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
top=$1
build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ ${3:-} != --inner ]]; then
  if [[ -z ${VERUZADU_FB_PASSWORD:-} ]]; then
    [[ -n ${VERUZADU_EXIGE_SERVIDOR:-} ]] && fail "no test server"
    echo "no test server (run through scripts/test)"; exit 77
  fi
  root=""
  [[ $(id -u) -eq 0 ]] || root="sudo"
  as_user=()
  if [[ $(id -u) -eq 0 ]]; then
    user=${VERUZADU_TEST_USER:-}
    if [[ -z $user ]]; then
      [[ -n ${VERUZADU_EXIGE_SERVIDOR:-} ]] && fail "no test user (scripts/test.d/05-usuario-teste.sh)"
      echo "no test user"; exit 77
    fi
    as_user=(sudo -u "$user" -H)
    # A checkout inside a folder only root may enter (a clone under /root)
    # cannot be run by the user at all: nothing of the scripts is tried then.
    if ! "${as_user[@]}" test -r "$top/scripts/firebird" -a -x "$build"; then
      echo "the test user cannot reach $top or $build: skipped"; exit 77
    fi
  fi
  password_file=/etc/firebird/3.0/SYSDBA.password
  before=$($root sha256sum "$password_file" 2>/dev/null || echo none)

  "${as_user[@]}" env PATH="$PATH" BUILD_DIR="$build" VERUZADU_FB_HOST="$VERUZADU_FB_HOST" \
    VERUZADU_FB_PORT="$VERUZADU_FB_PORT" VERUZADU_FB_USER="$VERUZADU_FB_USER" \
    bash "$0" "$top" "$build" --inner

  # The machine's password is still the one the server takes.
  after=$($root sha256sum "$password_file" 2>/dev/null || echo none)
  [[ $before == "$after" ]] || fail "the password file changed"
  echo 'select 1 from rdb$database;' |
    ISC_USER=$VERUZADU_FB_USER ISC_PASSWORD=$VERUZADU_FB_PASSWORD \
      isql-fb -q "$VERUZADU_FB_HOST/$VERUZADU_FB_PORT:$VERUZADU_ALIAS" >/dev/null ||
    fail "the administrator's password no longer logs in"
  echo "1 passed, 0 failed"
  exit 0
fi

# ---- as the user
[[ $(id -u) -ne 0 ]] || fail "the inner part must run as a user"
cd "$top"
leases=/run/veruzadu-firebird/leases

# The password: from the environment when set, else from the machine's file;
# without either, a clear error and no output.
[[ $(FB_SYSDBA_PASSWORD='dado pelo ambiente' scripts/firebird password) == 'dado pelo ambiente' ]] ||
  fail "FB_SYSDBA_PASSWORD is not the password"
if out=$(FB_SYSDBA_PASSWORD='' FB_PASSWORD_FILE=/nonexistent scripts/firebird password 2>&1 >/dev/null); then
  fail "a missing password file gave a password"
fi
[[ $out == *"no administrator password"* ]] || fail "unclear error: $out"
pw=$(scripts/firebird password)
[[ -n $pw ]] || fail "no password from the machine's file"

# A lease taken and given back by the user; the shared server keeps running.
sleep 300 &
owner=$!
trap 'kill $owner 2>/dev/null || true' EXIT
scripts/firebird start "$owner" >/dev/null
[[ -s $leases/$owner ]] || fail "no lease for $owner"
[[ $(scripts/firebird status) == *"listening on"* ]] || fail "server not listening"

# The test hooks as scripts/test sources them, then their clean-up.
(
  set -euo pipefail
  stops=()
  export VERUZADU_TEST_TMP=$(mktemp -d)
  stops+=("rm -rf '$VERUZADU_TEST_TMP'")
  export BUILD_DIR=$build
  # shellcheck source=../../scripts/test.d/10-firebird.sh
  source scripts/test.d/10-firebird.sh
  # shellcheck source=../../scripts/test.d/20-veruzadu.sh
  source scripts/test.d/20-veruzadu.sh
  [[ $(stat -c %U "$VERUZADU_FB_DATA") == firebird ]] || fail "data folder not the server's"
  [[ $(stat -c %U "$VERUZADU_DB_DATA") == firebird ]] || fail "database folder not the server's"
  [[ $VERUZADU_FB_PASSWORD == "$pw" ]] || fail "the hooks took another password"
  grep -q "^$VERUZADU_ALIAS " /etc/firebird/3.0/databases.conf || fail "alias $VERUZADU_ALIAS not written"
  [[ -s $leases/$$ ]] || fail "no lease for the hooks"
  for ((i = ${#stops[@]} - 1; i >= 0; i--)); do eval "${stops[i]}"; done
  [[ ! -e $VERUZADU_FB_DATA ]] || fail "data folder left behind"
  ! grep -q "^$VERUZADU_ALIAS " /etc/firebird/3.0/databases.conf || fail "alias left behind"
  [[ ! -e $leases/$$ ]] || fail "lease of the hooks left behind"
)

scripts/firebird stop "$owner" >/dev/null
[[ ! -e $leases/$owner ]] || fail "lease left behind"
[[ $(scripts/firebird status) == *"listening on"* ]] || fail "the server stopped under other users"

# The README's commands as this user, against a data folder and alias of this
# test (the machine's installation is left alone).
(
  set -euo pipefail
  stops=()
  export VERUZADU_TEST_TMP=$(mktemp -d)
  stops+=("rm -rf '$VERUZADU_TEST_TMP'")
  export BUILD_DIR=$build
  trap 'for ((i = ${#stops[@]} - 1; i >= 0; i--)); do eval "${stops[i]}" || true; done' EXIT
  # shellcheck source=../../scripts/test.d/10-firebird.sh
  source scripts/test.d/10-firebird.sh
  # shellcheck source=../../scripts/test.d/20-veruzadu.sh
  source scripts/test.d/20-veruzadu.sh
  t=$VERUZADU_TEST_TMP
  # shellcheck source=readme.sh
  source tests/scripts/readme.sh

  # scripts/run console: installs through sudo, opens the console, ends on SIGTERM.
  alias="VZRUN_$$"
  stops+=("sudo -n '$build/tools/db/veruzadu-install' --remove-alias '$alias' >/dev/null 2>&1")
  mkdir -p "$t/home"
  VERUZADU_HOME=$t/home VERUZADU_RUN_DATA=$VERUZADU_FB_DATA/run-console VERUZADU_RUN_ALIAS=$alias \
    QT_QPA_PLATFORM=offscreen setsid bash -c "$(readme_block console)" >"$t/console.log" 2>&1 &
  pid=$!
  for ((i = 0; i < 1200; i++)); do
    grep -q 'run console: program folder' "$t/console.log" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep 3
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$t/console.log" >&2
    fail "scripts/run console ended by itself"
  fi
  kill -TERM "$pid"
  for ((i = 0; i < 300; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL -- -"$pid" 2>/dev/null || true
    fail "scripts/run console did not end on SIGTERM"
  fi
  ! grep -q 'Permission denied\|Operation not permitted' "$t/console.log" || { cat "$t/console.log" >&2; fail "scripts/run console: a step lacked rights"; }
  grep -q "^$alias " /etc/firebird/3.0/databases.conf || fail "scripts/run console did not install its alias"

  # scripts/screenshots: every window.
  if ! scripts/screenshots "$t/shots" >"$t/shots.log" 2>&1; then
    cat "$t/shots.log" >&2
    fail "scripts/screenshots failed as a user with sudo"
  fi
  [[ $(ls "$t/shots" | wc -l) -eq $("$build/console/veruzadu-screenshots" --list | wc -l) ]] ||
    fail "scripts/screenshots: pictures missing"

  # Database tests: an installation through sudo, a compaction beside the database.
  # Compaction needs the server's rights: as a user it is skipped, saying so.
  "$build/tests/service/test_service" \
    --gtest_filter='BackupPrincipal.*' >"$t/gtest.log" 2>&1 ||
    { cat "$t/gtest.log" >&2; fail "the database backup tests failed as a user with sudo"; }
  grep -q "they need the rights of the server's data folder" "$t/gtest.log" ||
    { cat "$t/gtest.log" >&2; fail "the compaction test did not say why it was skipped"; }
  "$build/tests/service/download/test_download" --gtest_brief=1 \
    --gtest_filter="${VERUZADU_TESTE_DOWNLOAD_USUARIO:-RegistraGravacao.DataDaGravacaoEContato}" >"$t/gtest.log" 2>&1 ||
    { cat "$t/gtest.log" >&2; fail "the download database tests failed as a user with sudo"; }
)

