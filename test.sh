#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   default build: every test label (unit, integration, system, gui, audio, bench)
#   asan build:    unit + integration under AddressSanitizer/UBSan
#   fuzz build:    each libFuzzer target for a short bounded run (clang)
# Exits non-zero when any stage fails.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

scripts/install-deps.sh || { echo "test.sh: installing packages failed" >&2; exit 1; }
if [ "${CI:-}" = "true" ]; then export OVRA_WERROR=ON; fi
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

declare -a stage_names=() stage_results=()
failed=0
stage() {
  local name=$1; shift
  echo
  echo "=== $name ==="
  local start=$SECONDS
  if "$@"; then
    stage_results+=("ok     $(printf '%4ds' $((SECONDS - start)))  $name")
  else
    stage_results+=("FAILED $(printf '%4ds' $((SECONDS - start)))  $name")
    failed=1
  fi
}
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }
run_tests() { ctest --preset "$1" --no-tests=error; }

stage "build (default)" build default
[ $failed -eq 0 ] && stage "tests (default: all labels)" run_tests default
stage "build (asan)" build asan
[ "${stage_results[-1]:0:2}" = "ok" ] && stage "tests (asan: unit + integration)" run_tests asan
stage "build (fuzz)" build fuzz
[ "${stage_results[-1]:0:2}" = "ok" ] && stage "fuzz (bounded runs)" run_tests fuzz

echo
echo "=== summary ==="
printf '%s\n' "${stage_results[@]}"
passed_stages=0; failed_stages=0
for r in "${stage_results[@]}"; do
  if [ "${r:0:2}" = "ok" ]; then passed_stages=$((passed_stages + 1)); else failed_stages=$((failed_stages + 1)); fi
done
echo "stages: $passed_stages passed, $failed_stages failed"
exit $failed
