#!/usr/bin/env bash
# Set-up, build and run for Logvane on Debian.
#
#   scripts/dev.sh sample   install what is missing, build, make the sample
#                           log and export it to ADIF
#   scripts/dev.sh test     install what is missing, check the code style,
#                           build with warnings as errors, run the whole
#                           suite, then again under AddressSanitizer and
#                           UndefinedBehaviorSanitizer, then run every fuzz
#                           target for 30 seconds
#   scripts/dev.sh fuzz [SECONDS [TARGET...]]
#                           build the fuzz targets (clang, libFuzzer) and run
#                           each for SECONDS (default 600), keeping what they
#                           find new in build-fuzz/fuzz-work/<target>
#   scripts/dev.sh bench    install what is missing (and the sqlite3 shell
#                           the append benchmark compares with), build the
#                           benchmarks and run them
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libcli11-dev
          libbenchmark-dev qt6-base-dev clang-format clang libclang-rt-dev)

# The append benchmark compares the engine with the sqlite3 shell.
bench_packages=(sqlite3)

install_missing() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The tests read the exported files with independent ADIF readers from the
# npm registry, pinned: a parser for the default form and a strict ADIF 3
# validator for --format adif3. They run on Node.js.
install_adif_reader() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm
  fi
  local dir="$root/build/adif-check"
  if [ ! -d "$dir/node_modules/adif-parser-ts" ]; then
    mkdir -p "$dir"
    npm install --prefix "$dir" --no-audit --no-fund --silent adif-parser-ts@0.7.7
  fi
  if [ ! -d "$dir/node_modules/tcadif" ]; then
    mkdir -p "$dir"
    npm install --prefix "$dir" --no-audit --no-fund --silent --save-exact tcadif@2.4.0
  fi
}

# Every C++ file of the tree must be as .clang-format formats it.
check_format() {
  local files
  mapfile -t files < <(git -C "$root" ls-files '*.h' '*.cpp')
  (cd "$root" && clang-format --dry-run --Werror "${files[@]}")
}

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# The libFuzzer targets (fuzz/) in a tree of their own, built with clang.
fuzz_targets=(definition_fuzzer table_fuzzer filter_fuzzer adif_values_fuzzer load_line_fuzzer)

build_fuzzers() {
  local dir="$root/build-fuzz"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DLOGVANE_FUZZ=ON \
        -DLOGVANE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$dir" -j "$jobs" --target fuzzers
}

# run_fuzzers SECONDS [TARGET...]: runs each target NAME_fuzzer for SECONDS
# from its seeds in fuzz/corpus/NAME and what earlier runs found; stops at
# the first finding (a crash, a sanitizer report, a leak, a timeout), whose
# input is left in build-fuzz/fuzz-findings/.
run_fuzzers() {
  local seconds=$1; shift
  local targets=("$@")
  [ ${#targets[@]} -eq 0 ] && targets=("${fuzz_targets[@]}")
  local dir="$root/build-fuzz"
  mkdir -p "$dir/fuzz-findings"
  for t in "${targets[@]}"; do
    mkdir -p "$dir/fuzz-work/$t"
    echo "Fuzzing $t for $seconds s"
    UBSAN_OPTIONS=print_stacktrace=1 "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/fuzz-findings/$t-" \
      "$dir/fuzz-work/$t" "$root/fuzz/corpus/${t%_fuzzer}" 2>"$dir/fuzz-work/$t.log" ||
      { tail -n 60 "$dir/fuzz-work/$t.log" >&2; return 1; }
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$dir/fuzz-work/$t.log"
  done
}

case "${1:-}" in
  sample)
    install_missing
    build "$root/build"
    sample="$root/build/sample/SampleLog"
    mkdir -p "$sample"
    "$root/build/tools/make-sample-log" "$sample" >/dev/null
    "$root/build/cli/logvane-cli" export "$sample" --overwrite
    ;;
  test)
    install_missing
    install_adif_reader
    check_format
    build "$root/build" -DLOGVANE_WERROR=ON
    ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
    build "$root/build-asan" -DLOGVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DLOGVANE_WERROR=ON
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"
    build_fuzzers
    run_fuzzers 30
    ;;
  fuzz)
    install_missing
    build_fuzzers
    run_fuzzers "${2:-600}" "${@:3}"
    ;;
  bench)
    install_missing "${bench_packages[@]}"
    build "$root/build-bench" -DLOGVANE_BUILD_BENCH=ON -DLOGVANE_BUILD_TESTS=OFF \
      -DCMAKE_BUILD_TYPE=Release
    (cd "$root/build-bench" && ./bench/append_bench && ./bench/export_bench)
    ;;
  *)
    echo "usage: scripts/dev.sh sample|test|fuzz [SECONDS [TARGET...]]|bench" >&2
    exit 2
    ;;
esac
