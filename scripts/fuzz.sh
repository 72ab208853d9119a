#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (address and undefined
# behaviour sanitizers) and runs each for a while.
#
#   scripts/fuzz.sh            # 15 s per target (what the test command runs)
#   scripts/fuzz.sh 1800       # a longer hunt: 30 minutes per target
#   scripts/fuzz.sh 60 packet_fuzz
#
# The growing corpus stays in build-fuzz/corpus/<target> (or
# $KORVANE_FUZZ_DIR), so later runs continue where earlier ones stopped; the
# seeds in tests/fuzz/seeds are read, never written. A crashing input is kept
# as build-fuzz/artifacts/<target>-crash-* and the script fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(packet_fuzz queue_fuzz)
out=${KORVANE_FUZZ_DIR:-$root/build-fuzz}
cxx=${KORVANE_FUZZ_CXX:-clang++}
mkdir -p "$out/artifacts"

# Attribute's permission and property bytes are stored and never read, by
# design; clang's unused-private-field warning says only that.
flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -pthread -Wall -Wextra -Wno-unused-private-field
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$root/src/transport" -I"$root/src/protocol")

# The library sources each target links: only the code on the fuzzed path.
sources_of() {
  case "$1" in
    packet_fuzz) echo "src/protocol/PacketCodec.cpp src/protocol/Attvalue.cpp src/protocol/Attribute.cpp" ;;
    queue_fuzz)  echo "src/protocol/PacketQueue.cpp" ;;
    *) echo "unknown fuzz target $1" >&2; return 1 ;;
  esac
}

# Inputs longer than one report say nothing new about the packet path; the
# queue gets room for long operation sequences.
max_len_of() {
  case "$1" in
    packet_fuzz) echo 80 ;;
    queue_fuzz) echo 512 ;;
  esac
}

for target in "${targets[@]}"; do
  srcs=()
  for s in $(sources_of "$target"); do srcs+=("$root/$s"); done
  echo "== building $target"
  "$cxx" "${flags[@]}" "$root/tests/fuzz/$target.cpp" "${srcs[@]}" -o "$out/$target"
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
for target in "${targets[@]}"; do
  mkdir -p "$out/corpus/$target"
  echo "== running $target for ${seconds}s"
  "$out/$target" -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" \
    "$out/corpus/$target" "$root/tests/fuzz/seeds/$target" 2>"$out/$target.log" || {
      tail -n 60 "$out/$target.log" >&2
      echo "fuzz target $target failed; reproduce with: $out/$target <artifact>" >&2
      exit 1
    }
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$out/$target.log" | sed "s/^/  $target /"
done
