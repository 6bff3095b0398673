# Sourced by scripts/test: an unprivileged user with sudo, under which the
# scripts' own tests run once, as a developer without root would run them.
# Only a run as root makes one (a run by a user with sudo is such a run
# already). The user (vzt<pid of this run>) and its file in /etc/sudoers.d
# exist only for this run: both are removed when it ends. A run that was
# killed leaves them behind with the pid and start time of its shell in the
# sudoers file; the next run removes every such pair whose run is gone.
# Exports VERUZADU_TEST_USER.
if [[ $(id -u) -eq 0 ]]; then
  # Pairs of runs that are gone (start time no longer matches the pid).
  for _vz_f in /etc/sudoers.d/veruzadu-test-vzt*; do
    [[ -e $_vz_f ]] || continue
    _vz_u=${_vz_f#/etc/sudoers.d/veruzadu-test-}
    read -r _ _vz_pid _vz_start < <(sed -n 's/^# run //p' "$_vz_f") || true
    _vz_now=$(cut -d' ' -f22 "/proc/${_vz_pid:-0}/stat" 2>/dev/null || true)
    if [[ -z ${_vz_pid:-} || $_vz_now != "${_vz_start:-}" ]]; then
      userdel -f -r "$_vz_u" >/dev/null 2>&1 || true
      rm -f "$_vz_f"
    fi
  done
  _vz_user="vzt$$"
  _vz_start=$(cut -d' ' -f22 "/proc/$$/stat")
  # The rule first (checked in /tmp, then put in place whole), the user
  # after it: whatever a kill leaves, the rule's file names it.
  _vz_tmp=$(mktemp)
  printf '# run pid %s %s\n%s ALL=(ALL:ALL) NOPASSWD: ALL\n' "$$" "$_vz_start" "$_vz_user" > "$_vz_tmp"
  visudo -cqf "$_vz_tmp"
  install -m 0440 -o root -g root "$_vz_tmp" "/etc/sudoers.d/veruzadu-test-$_vz_user"
  rm -f "$_vz_tmp"
  useradd --create-home --shell /bin/bash "$_vz_user"
  stops+=("rm -f '/etc/sudoers.d/veruzadu-test-$_vz_user'; userdel -f -r '$_vz_user' >/dev/null 2>&1")
  export VERUZADU_TEST_USER=$_vz_user
fi
unset _vz_f _vz_u _vz_pid _vz_start _vz_now _vz_user _vz_tmp
