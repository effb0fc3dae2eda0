#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build (cmake -DFACELUME_FUZZ=ON, clang) for a fixed number of
# executions, starting from its seed corpus in fuzz/corpus/<name>, which stays as it is: new
# inputs go to <build>/fuzz/corpus/<name>, a crashing input to <build>/fuzz/artifacts/.
# Usage: fuzz/run.sh BUILD_FOLDER [RUNS]  (RUNS for the fast targets; see below)
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-300000}
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
mkdir -p "$build/fuzz/artifacts"
for fuzzer in "$build"/fuzz/*_fuzzer; do
    name=$(basename "$fuzzer" _fuzzer)
    # The command target starts a thread per input: it runs about a hundred times slower than
    # the others.
    case $name in
        command) count=$((runs / 100)) ;;
        *) count=$runs ;;
    esac
    mkdir -p "$build/fuzz/corpus/$name"
    start=$SECONDS
    # A fixed seed makes a run repeatable; -max_len keeps inputs of the size real ones have.
    "$fuzzer" -runs="$count" -seed=1 -max_len=4096 -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz/artifacts/$name-" \
        "$build/fuzz/corpus/$name" "$seeds/$name" 2>"$build/fuzz/$name.log" ||
        { tail -n 60 "$build/fuzz/$name.log"; exit 1; }
    printf '%-16s %8s runs in %3ss\n' "$name" "$count" $((SECONDS - start))
done
