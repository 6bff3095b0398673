# Sourced by scripts/test: the Firebird server the database tests use, and a
# data folder (owned by user firebird, so the server can create files there)
# that is removed again afterwards.
# shellcheck source=../firebird.env
source "$top/scripts/firebird.env"

VERUZADU_FB_DATA=$(mktemp -d /tmp/veruzadu-fbdata.XXXXXX)
chown firebird:firebird "$VERUZADU_FB_DATA"
chmod 0770 "$VERUZADU_FB_DATA"
stops+=("rm -rf '$VERUZADU_FB_DATA'")

"$top/scripts/firebird" start $$
# The lease's owner, for tests that stop and start the server themselves.
export VERUZADU_FB_LEASE=$$
stops+=("'$top/scripts/firebird' stop $$")

export VERUZADU_FB_HOST=$FB_HOST
export VERUZADU_FB_PORT=$FB_PORT
export VERUZADU_FB_USER=$FB_SYSDBA_USER
export VERUZADU_FB_PASSWORD=$FB_SYSDBA_PASSWORD
export VERUZADU_FB_DATA
