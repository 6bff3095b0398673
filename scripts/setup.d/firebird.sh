# Sourced by scripts/setup before packages install: preseeds the SYSDBA password
# of firebird3.0-server so that a fresh install uses ours instead of a random one.
# (A server installed earlier with another password is set right by scripts/firebird.)
# shellcheck source=../firebird.env
source "$here/firebird.env"
if ! dpkg-query -W -f='${Status}' firebird3.0-server 2>/dev/null | grep -q 'install ok installed'; then
  _fb_sudo=""
  [[ $(id -u) -eq 0 ]] || _fb_sudo="sudo"
  # Through stdin, never a command line: /proc shows those to everyone.
  # The package's config script copies its answer to first_install over
  # new_password, so both are set.
  printf 'firebird3.0-server shared/firebird/sysdba_password/%s password %s\n' \
    first_install "$FB_SYSDBA_PASSWORD" new_password "$FB_SYSDBA_PASSWORD" |
    $_fb_sudo debconf-set-selections
  unset _fb_sudo
fi
