# Sourced by scripts/test after 10-firebird.sh: installs the databases (main
# database, unit template and unit 1) on the test server, in a folder of the
# test data folder, under an alias of this run's own, for tests that need an
# installed system. Exports VERUZADU_ALIAS and VERUZADU_DB_DATA; the alias is
# removed again afterwards. The installer writes the server's alias file, so
# a user other than root runs it through sudo.
_vz_install="${BUILD_DIR:-$top/build}/tools/db/veruzadu-install"
_vz_root="" _vz_sudo=""
if [[ $(id -u) -ne 0 ]]; then
  _vz_root="sudo"
  _vz_sudo="sudo --preserve-env=VERUZADU_FB_PASSWORD"
fi
export VERUZADU_ALIAS="VERUZADU_T$$"
export VERUZADU_DB_DATA="$VERUZADU_FB_DATA/veruzadu"
mkdir -p "$VERUZADU_DB_DATA"
chmod 2770 "$VERUZADU_DB_DATA"
$_vz_root chown firebird "$VERUZADU_DB_DATA"
# The administrator's password reaches the tool through the environment only.
$_vz_sudo "$_vz_install" --server "$VERUZADU_FB_HOST" --port "$VERUZADU_FB_PORT" --admin-user "$VERUZADU_FB_USER" \
  --data "$VERUZADU_DB_DATA" --alias "$VERUZADU_ALIAS" --unit 1 >/dev/null
stops+=("$_vz_sudo '$_vz_install' --remove-alias '$VERUZADU_ALIAS' >/dev/null")
unset _vz_install _vz_sudo _vz_root
