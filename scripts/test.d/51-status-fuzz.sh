# Sourced by scripts/test. Feeds arbitrary bytes, in arbitrary chunkings, to
# the status server's request parser for a minute with libFuzzer
# (scripts/fuzz). STATUS_FUZZ_SECONDS=0 skips it.
"$top/scripts/fuzz" status tests/common/status "${STATUS_FUZZ_SECONDS:-60}" || return 1
