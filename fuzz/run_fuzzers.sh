#!/usr/bin/env bash
# Runs each libFuzzer target for a while, starting from the generator's seeds,
# and sums up what each one did: executions, coverage, peak memory. A crash,
# leak, timeout or out-of-memory is saved under BUILD/findings, its report is
# shown, and the script fails once every target has had its turn.
#
#   run_fuzzers.sh BUILD SECONDS NAME...   (NAME: decode_frame, pcap_run, ...)
set -euo pipefail

build=$1
seconds=$2
shift 2

"$build/fuzz/make_fuzz_seeds" "$build/seeds"
# The merge reader starts from real reports: the JSON of runs over the
# capture seeds, alone and several in one input.
mkdir -p "$build/seeds/merge_reader"
n=0
for capture in "$build/seeds/pcap_run"/*.pcap; do
    for options in "-S a" "-S a -d" "-S a -d --ipv6 --look-through" "-S pl -P 1000"; do
        # shellcheck disable=SC2086 # the options are words by design
        "$build/src/tallywire" -n $options --format=json -r "$capture" \
            >"$build/seeds/merge_reader/report-$n.json" 2>/dev/null || true
        n=$((n + 1))
    done
done
cat "$build/seeds/merge_reader"/report-0.json "$build/seeds/merge_reader"/report-4.json \
    >"$build/seeds/merge_reader/two-parts.json"
mkdir -p "$build/findings" "$build/logs"

status=0
for name in "$@"; do
    corpus="$build/corpus/$name"
    log="$build/logs/$name.log"
    mkdir -p "$corpus"
    echo "fuzz: $name for $seconds s"
    # -close_fd_mask=3 silences the program's own output; libFuzzer and the
    # sanitizers still write their reports to the log.
    if "$build/fuzz/${name}_fuzzer" "$corpus" "$build/seeds/$name" \
        -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -close_fd_mask=3 \
        -artifact_prefix="$build/findings/$name-" 2>"$log"; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 | sed 's/^/    /' || true
        grep '^stat::' "$log" | sed 's/^/    /' || true
    else
        echo "fuzz: $name found a fault (whole log: $log):"
        tail -n 80 "$log"
        status=1
    fi
done
ls "$build/findings" | sed 's/^/fuzz: finding /' || true
exit "$status"
