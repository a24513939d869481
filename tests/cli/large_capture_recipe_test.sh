#!/usr/bin/env bash
# The README's recipe for large capture sets, run exactly as printed there:
# one JSON report per file in parallel, then one merge. Its report must be
# the report of a single run over the whole capture, in text and in JSON.
#
# The recipe's merge prints host names, so it looks them up. The test runs
# in a network namespace of its own with only a loopback device, down, so
# that no lookup leaves the machine (they fail at once and the addresses
# stay numbers in both reports); making the namespace needs root.
set -euo pipefail

if [ -z "${RECIPE_TEST_ISOLATED:-}" ]; then
    for tool in parallel python3 unshare; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is needed (scripts/install-deps installs parallel)" >&2
            exit 77
        fi
    done
    if [ "$(id -u)" -ne 0 ] || ! unshare --net true 2>/dev/null; then
        echo "SKIP: needs root for a network namespace that keeps the merge's name lookups" \
            "off the network" >&2
        exit 77
    fi
    RECIPE_TEST_ISOLATED=1 exec unshare --net bash "${BASH_SOURCE[0]}"
fi

# shellcheck source=script_checks.bash
source "$(dirname "${BASH_SOURCE[0]}")/script_checks.bash"
: "${TALLYWIRE_GEN:?TALLYWIRE_GEN must name the generator}"
: "${TALLYWIRE_SPLIT:?TALLYWIRE_SPLIT must name the capture splitter}"

# --- The recipe, as the README prints it -------------------------------------

# The one command line of the section's code blocks that starts with
# "parallel tallywire".
readme=$TALLYWIRE_SOURCE_DIR/README.md
recipe=$(awk '/^## / { inside = ($0 == "## Large capture sets"); next }
              inside && /^```/ { in_code = !in_code; next }
              inside && in_code && /^parallel tallywire / { print }' "$readme")
if [ "$(grep -c . <<<"$recipe")" -ne 1 ]; then
    echo "FAIL: README.md: expected one recipe line under \"## Large capture sets\"," \
        "found: ${recipe:-none}" >&2
    exit 1
fi
case $recipe in
*"| tallywire --merge=- "*) ;;
*) echo "FAIL: the recipe does not end in a merge from standard input: $recipe" >&2; exit 1 ;;
esac
# The options of the recipe's merge, which the single run must repeat.
merge_options=${recipe##*--merge=- }

# --- The capture, whole and in eight parts -----------------------------------

# IPv4 and IPv6, ARP and other link protocols, a few hundred hosts and ports
# with skewed popularity: the Port, Host and Network blocks run past -t.
"$TALLYWIRE_GEN" -o "$scratch/whole.pcap" -n 12000 -S 11 -H 400 -P 300 -z 1.0
mkdir "$scratch/caps" "$scratch/bin"
"$TALLYWIRE_SPLIT" -n 8 -o "$scratch/caps/part" "$scratch/whole.pcap"
[ "$(find "$scratch/caps" -name '*.pcap' | wc -l)" -eq 8 ] ||
    fail "the splitter did not make 8 parts"
ln -s "$TALLYWIRE" "$scratch/bin/tallywire"
export PATH="$scratch/bin:$PATH"

# Runs a command line in the scratch folder, as a user would type it, with
# every stage of a pipeline required to succeed.
run_line() {
    (cd "$scratch" && bash -o pipefail -c "$1")
}

# Each run's messages, cut short: a usage text would bury the cause.
check_run() {
    local what=$1 err=$2
    shift 2
    "$@" 2>"$err" && return 0
    fail "$what failed: $(head -n 3 "$err")"
    finish large_capture_recipe_test
}
# shellcheck disable=SC2086 # the merge's options are words by design
{
    check_run "the recipe" "$scratch/err" run_line "$recipe" >"$scratch/merged.txt"
    check_run "the recipe with --format=json" "$scratch/err" \
        run_line "$recipe --format=json" >"$scratch/merged.json"
    check_run "the single run" "$scratch/err" \
        tallywire -r "$scratch/whole.pcap" $merge_options >"$scratch/single.txt"
    check_run "the single run with --format=json" "$scratch/err" \
        tallywire -r "$scratch/whole.pcap" $merge_options --format=json >"$scratch/single.json"
}

# --- The reports compared ----------------------------------------------------

# Rows of equal byte count come in no set order, and where -t cuts a block
# among them, either run may keep any of them: those rows are compared by
# their number only.
limit=$(sed -nE 's/.*-t ([0-9]+).*/\1/p' <<<"$merge_options")
python3 - "$scratch" "${limit:--1}" <<'PYTHON' || fail "merged and single reports differ"
import collections
import json
import re
import sys

folder, limit = sys.argv[1], int(sys.argv[2])
problems = []


def compare_rows(where, merged, single, bytes_of):
    """Rows as multisets; at a cut, the last byte count's rows by number."""
    cut = None
    if limit >= 0 and len(single) == limit and single:
        cut = min(bytes_of(row) for row in single)
    def counted(rows):
        kept = collections.Counter(row for row in rows if bytes_of(row) != cut)
        return kept, sum(1 for row in rows if bytes_of(row) == cut)
    if counted(merged) != counted(single):
        only_merged = collections.Counter(merged) - collections.Counter(single)
        only_single = collections.Counter(single) - collections.Counter(merged)
        problems.append(f"{where}: only in the merge {list(only_merged)[:5]},"
                        f" only in the single run {list(only_single)[:5]}")


def text_blocks(path):
    blocks = []
    with open(path, encoding="utf-8") as report:
        for line in report:
            line = line.rstrip("\n")
            if line.endswith(" Statistics:"):
                blocks.append((line, []))
            elif line.startswith("\t") and blocks:
                blocks[-1][1].append(line)
            else:
                problems.append(f"{path}: unexpected line {line!r}")
    return blocks


def text_bytes(line):
    # label, packets, bytes, share, "%": the counts of this small capture
    # never fill their columns.
    return int(re.split(r"\s+", line.strip())[-3])


merged, single = text_blocks(f"{folder}/merged.txt"), text_blocks(f"{folder}/single.txt")
if [b[0] for b in merged] != [b[0] for b in single]:
    problems.append(f"text: blocks {[b[0] for b in merged]} against {[b[0] for b in single]}")
for (heading, m_rows), (_, s_rows) in zip(merged, single):
    compare_rows(f"text {heading.rstrip(':')}", m_rows, s_rows, text_bytes)
if len(merged) < 6:
    problems.append(f"text: {len(merged)} blocks, expected all six")

with open(f"{folder}/merged.json", encoding="utf-8") as f:
    merged = json.load(f)
with open(f"{folder}/single.json", encoding="utf-8") as f:
    single = json.load(f)
for key in sorted(set(merged) | set(single)):
    if key != "tables" and merged.get(key) != single.get(key):
        problems.append(f"json {key}: {merged.get(key)!r} against {single.get(key)!r}")
m_tables, s_tables = merged.get("tables", []), single.get("tables", [])
if [t["kind"] for t in m_tables] != [t["kind"] for t in s_tables]:
    problems.append("json: tables of other kinds or in another order")
for m_table, s_table in zip(m_tables, s_tables):
    as_text = lambda rows: [json.dumps(row, sort_keys=True) for row in rows]
    compare_rows(f"json {m_table['kind']}", as_text(m_table["rows"]), as_text(s_table["rows"]),
                 lambda row: json.loads(row)["bytes"])

for problem in problems:
    print(f"FAIL: {problem}", file=sys.stderr)
sys.exit(1 if problems else 0)
PYTHON

finish large_capture_recipe_test
