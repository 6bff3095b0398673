# Sourced by scripts/test: an unprivileged user with sudo (vztest), under
# which the scripts' own tests run once, as a developer without root would run
# them. Made when missing (as root, or through the caller's sudo) and kept:
# later runs find it in place. Exports VERUZADU_TEST_USER.
_vz_root=""
[[ $(id -u) -eq 0 ]] || _vz_root="sudo"
if ! id vztest >/dev/null 2>&1; then
  # A parallel run may make it at the same moment: only its absence afterwards is an error.
  $_vz_root useradd --create-home --shell /bin/bash vztest 2>/dev/null || true
  id vztest >/dev/null
fi
if [[ ! -f /etc/sudoers.d/veruzadu-vztest ]]; then
  _vz_tmp=$($_vz_root mktemp /etc/sudoers.d/.veruzadu-vztest.XXXXXX)
  echo 'vztest ALL=(ALL:ALL) NOPASSWD: ALL' | $_vz_root tee "$_vz_tmp" >/dev/null
  $_vz_root chmod 0440 "$_vz_tmp"
  $_vz_root visudo -cqf "$_vz_tmp"
  $_vz_root mv -f "$_vz_tmp" /etc/sudoers.d/veruzadu-vztest
  unset _vz_tmp
fi
export VERUZADU_TEST_USER=vztest
unset _vz_root
