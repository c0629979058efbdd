#!/bin/bash
# Writes the seed inputs of every fuzz target into BUILD/fuzz-seeds/<target>.
# Each target makes its own seeds (DBF tables through the test writer,
# settings files, listings), so no input file is kept in the repository.
#   fuzz/seeds.sh build-fuzz
set -euo pipefail
build=${1:?usage: fuzz/seeds.sh BUILD_DIR}
for bin in "$build"/fuzz/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    name=$(basename "$bin")
    rm -rf "$build/fuzz-seeds/$name"
    PC_FUZZ_WRITE_SEEDS="$build/fuzz-seeds/$name" "$bin"
done
