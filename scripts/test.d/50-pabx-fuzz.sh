# Sourced by scripts/test. In a sanitizer build, feeds arbitrary bytes to the
# control link's receiver and reply handlers for a minute with libFuzzer. The
# fuzz target needs clang: a clang sanitizer build runs it as the ctest entry
# fuzz_pabx; a gcc sanitizer build gets a small clang build of that one target
# here. Default builds skip it.
pabx_fuzz_build=${BUILD_DIR:-$top/build}
if grep -q '^VERUZADU_SANITIZE:BOOL=ON' "$pabx_fuzz_build/CMakeCache.txt" 2>/dev/null &&
   ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$pabx_fuzz_build/CMakeCache.txt" &&
   command -v clang++ >/dev/null; then
  echo "pabx fuzz: building fuzz_pabx with clang"
  CC=clang CXX=clang++ cmake -S "$top" -B "$pabx_fuzz_build/pabx-fuzz" -G Ninja \
    -DVERUZADU_SANITIZE=ON -DVERUZADU_BENCHMARKS=OFF >/dev/null
  cmake --build "$pabx_fuzz_build/pabx-fuzz" --target fuzz_pabx >/dev/null
  echo "pabx fuzz: 60 s"
  "$pabx_fuzz_build/pabx-fuzz/tests/common/pabx/fuzz_pabx" -max_total_time=60 -rss_limit_mb=2048 \
    -max_len=70000 -artifact_prefix="$pabx_fuzz_build/pabx-fuzz/" 2>"$VERUZADU_TEST_TMP/pabx-fuzz.log" ||
    { tail -40 "$VERUZADU_TEST_TMP/pabx-fuzz.log"; return 1; }
  tail -1 "$VERUZADU_TEST_TMP/pabx-fuzz.log"
fi
unset pabx_fuzz_build
