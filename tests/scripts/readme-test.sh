#!/usr/bin/env bash
# Every command block of the README is run by a test: each ```sh block follows
# a line <!-- check: NAME -->, and some test under tests/scripts calls
# `readme_block NAME` (or run-test.sh's `bloco NAME`; the block "ci" is `scripts/test` itself, which .ci/run
# runs). A block added without its test fails here.
#
#   readme-test.sh SOURCE_DIR
set -euo pipefail
top=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
readme=$top/README.md
# shellcheck source=readme.sh
source "$top/tests/scripts/readme.sh"

nomes=()
anterior=""
while IFS= read -r linha; do
  if [[ $linha == '```sh' ]]; then
    [[ $anterior =~ ^\<!--\ check:\ ([a-z0-9-]+)\ --\>$ ]] ||
      fail "a command block of the README without its <!-- check: NAME --> line (after: $anterior)"
    nomes+=("${BASH_REMATCH[1]}")
  fi
  [[ -n ${linha// /} ]] && anterior=$linha
done < "$readme"
(( ${#nomes[@]} > 0 )) || fail "no command block found"

for nome in "${nomes[@]}"; do
  [[ -n $(README=$readme readme_block "$nome") ]] || fail "block $nome is empty"
  if [[ $nome == ci ]]; then
    [[ $(README=$readme readme_block ci | sed 's/ *#.*//') == "scripts/test" ]] || fail "block ci is not scripts/test"
    grep -q 'scripts/test' "$top/.ci/run" || fail ".ci/run does not run scripts/test"
    continue
  fi
  grep -Elq -- "(readme_block|bloco) $nome\b" "$top"/tests/scripts/*-test.sh ||
    fail "no test runs the README's block $nome"
done
# A command written outside the blocks would escape the check.
fora=$(awk '/^```/ { dentro = !dentro; next } !dentro && /^[[:space:]]*(scripts\/|build\/|sudo |ISC_USER=|cat |isql)/ { print NR ": " $0 }' "$readme")
[[ -z $fora ]] || fail "commands outside a checked block: $fora"
echo "README: ${#nomes[@]} command blocks, each run by a test"
