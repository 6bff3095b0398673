# Sourced by scripts/test: the Firebird server the database tests use, and a
# data folder the server can create files in (owned by user firebird, group
# of the user running the tests, setgid so what either creates stays in that
# group) that is removed again afterwards. Root steps go through sudo when the
# tests run as another user.
# shellcheck source=../firebird.env
source "$top/scripts/firebird.env"
_fb_sudo=""
[[ $(id -u) -eq 0 ]] || _fb_sudo="sudo"

VERUZADU_FB_DATA=$(mktemp -d /tmp/veruzadu-fbdata.XXXXXX)
$_fb_sudo chown "firebird:$(id -g)" "$VERUZADU_FB_DATA"
$_fb_sudo chmod 2770 "$VERUZADU_FB_DATA"
stops+=("$_fb_sudo rm -rf '$VERUZADU_FB_DATA'")

"$top/scripts/firebird" start $$
# The lease's owner, for tests that stop and start the server themselves.
export VERUZADU_FB_LEASE=$$
stops+=("'$top/scripts/firebird' stop $$")

# The machine's own administrator password, never one of ours.
VERUZADU_FB_PASSWORD=$("$top/scripts/firebird" password)
export VERUZADU_FB_HOST=$FB_HOST
export VERUZADU_FB_PORT=$FB_PORT
export VERUZADU_FB_USER=$FB_SYSDBA_USER
export VERUZADU_FB_PASSWORD
export VERUZADU_FB_DATA
# With the server there, a database test that finds no server fails instead
# of skipping itself.
export VERUZADU_EXIGE_SERVIDOR=1
unset _fb_sudo
