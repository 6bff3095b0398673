# Sourced by scripts/test. Feeds arbitrary bytes, in arbitrary chunkings, to
# the status server's request parser for a minute with libFuzzer (ASan and
# UBSan on). Built like the control link's fuzz target: a clang sanitizer
# build runs it as the ctest entry fuzz_status; otherwise the same clang
# build beside the main build is used. STATUS_FUZZ_SECONDS=0 skips it.
status_fuzz_build=${BUILD_DIR:-$top/build}
status_fuzz_seconds=${STATUS_FUZZ_SECONDS:-60}
if [[ $status_fuzz_seconds -gt 0 ]] &&
   ! { grep -q '^VERUZADU_SANITIZE:BOOL=ON' "$status_fuzz_build/CMakeCache.txt" 2>/dev/null &&
       grep -q '^CMAKE_CXX_COMPILER:.*clang' "$status_fuzz_build/CMakeCache.txt"; }; then
  echo "status fuzz: building fuzz_status with clang"
  CC=clang CXX=clang++ cmake -S "$top" -B "$status_fuzz_build/pabx-fuzz" -G Ninja \
    -DVERUZADU_SANITIZE=ON -DVERUZADU_BENCHMARKS=OFF >/dev/null
  cmake --build "$status_fuzz_build/pabx-fuzz" --target fuzz_status >/dev/null
  echo "status fuzz: ${status_fuzz_seconds} s"
  "$status_fuzz_build/pabx-fuzz/tests/common/status/fuzz_status" -max_total_time="$status_fuzz_seconds" \
    -rss_limit_mb=2048 -max_len=70000 -artifact_prefix="$status_fuzz_build/pabx-fuzz/" \
    2>"$VERUZADU_TEST_TMP/status-fuzz.log" ||
    { tail -40 "$VERUZADU_TEST_TMP/status-fuzz.log"; return 1; }
  tail -1 "$VERUZADU_TEST_TMP/status-fuzz.log"
fi
unset status_fuzz_build status_fuzz_seconds
