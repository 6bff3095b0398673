# Sourced by scripts/test. Feeds arbitrary bytes to the control link's
# receiver and reply handlers for a minute with libFuzzer (ASan and UBSan on).
# The fuzz target needs clang: a clang sanitizer build already runs it as the
# ctest entry fuzz_pabx; otherwise a small clang build of that one target is
# made beside the main build and run here. PABX_FUZZ_SECONDS=0 skips it.
pabx_fuzz_build=${BUILD_DIR:-$top/build}
pabx_fuzz_seconds=${PABX_FUZZ_SECONDS:-60}
if [[ $pabx_fuzz_seconds -gt 0 ]] &&
   ! { grep -q '^VERUZADU_SANITIZE:BOOL=ON' "$pabx_fuzz_build/CMakeCache.txt" 2>/dev/null &&
       grep -q '^CMAKE_CXX_COMPILER:.*clang' "$pabx_fuzz_build/CMakeCache.txt"; }; then
  echo "pabx fuzz: building fuzz_pabx with clang"
  CC=clang CXX=clang++ cmake -S "$top" -B "$pabx_fuzz_build/pabx-fuzz" -G Ninja \
    -DVERUZADU_SANITIZE=ON -DVERUZADU_BENCHMARKS=OFF >/dev/null
  cmake --build "$pabx_fuzz_build/pabx-fuzz" --target fuzz_pabx >/dev/null
  echo "pabx fuzz: ${pabx_fuzz_seconds} s"
  "$pabx_fuzz_build/pabx-fuzz/tests/common/pabx/fuzz_pabx" -max_total_time="$pabx_fuzz_seconds" \
    -rss_limit_mb=2048 -max_len=70000 -artifact_prefix="$pabx_fuzz_build/pabx-fuzz/" \
    2>"$VERUZADU_TEST_TMP/pabx-fuzz.log" ||
    { tail -40 "$VERUZADU_TEST_TMP/pabx-fuzz.log"; return 1; }
  tail -1 "$VERUZADU_TEST_TMP/pabx-fuzz.log"
fi
unset pabx_fuzz_build pabx_fuzz_seconds
