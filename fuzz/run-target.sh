#!/bin/sh
# run-target.sh TARGET NEW_INPUTS CORPUS: runs a fuzz target a fixed few thousand times from its
# seed corpus, keeping what it finds in NEW_INPUTS, and fails when the run leaves its scratch
# folder behind (named after its process), so that runs never pile folders up in memory.
set -u
target=$1 newInputs=$2 corpus=$3
rm -rf "$newInputs" && mkdir -p "$newInputs" || exit 1
"$target" -runs=3000 -seed=1 "$newInputs" "$corpus" &
run=$!
wait "$run"
status=$?
for left in /dev/shm/quorvane-fuzz-"$run"-* "${TMPDIR:-/tmp}"/quorvane-fuzz-"$run"-*; do
    if [ -e "$left" ]; then
        echo "The run left its scratch folder behind: $left" >&2
        rm -rf "$left"
        exit 1
    fi
done
exit "$status"
