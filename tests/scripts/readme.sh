# Sourced by the scripts' tests: the commands of the README, so that each one
# is run as it stands there.
#
# Every ```sh block of README.md follows a line <!-- check: NAME -->;
# `readme_block NAME` prints that block's lines. A test that runs a block
# calls readme_block with its name (tests/scripts/readme-test.sh checks that
# every block has such a test).
readme_block() {
  local readme=${README:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/README.md}
  awk -v nome="$1" '
    $0 == "<!-- check: " nome " -->" { achou = 1; next }
    achou && !dentro && /^```sh$/ { dentro = 1; next }
    dentro && /^```$/ { exit }
    dentro { print }
  ' "$readme"
}
