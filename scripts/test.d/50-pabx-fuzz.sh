# Sourced by scripts/test. Feeds arbitrary bytes to the control link's
# receiver and reply handlers for a minute with libFuzzer (scripts/fuzz).
# PABX_FUZZ_SECONDS=0 skips it.
"$top/scripts/fuzz" pabx tests/common/pabx "${PABX_FUZZ_SECONDS:-60}" || return 1
