#!/usr/bin/env bash
# The manual page against the program it documents: it formats without a
# warning at 80 columns; it documents exactly the options and statistic
# letters of the usage text; and its list of link labels is the set of
# labels the program prints for frames of every link type and protocol it
# classifies.
set -euo pipefail

# shellcheck source=script_checks.bash
source "$(dirname "${BASH_SOURCE[0]}")/script_checks.bash"

if ! command -v man >/dev/null || ! command -v col >/dev/null; then
    echo "SKIP: man and col are needed to format the page" >&2
    exit 77
fi

# One item per line, sorted, duplicates removed: the form every set below
# is compared in.
as_set() { LC_ALL=C sort -u; }

# Compares two sets and names what each lacks.
same_set() {
    local what=$1 documented=$2 actual=$3
    if [ "$documented" != "$actual" ]; then
        fail "$what: documented and actual differ"
        diff <(echo "$documented") <(echo "$actual") | sed -n 's/^</  only in the page: /p; s/^>/  only in the program: /p' >&2
    fi
}

# --- Formatting ----------------------------------------------------------

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man failed on the page"
[ -z "$warnings" ] || fail "man --warnings reports:"$'\n'"$warnings"

# The page as a reader sees it: plain text, tabs expanded.
rendered=$(MANWIDTH=80 LC_ALL=C MAN_KEEP_FORMATTING='' man -l "$page" 2>/dev/null | col -bx)

# The lines of one top-level section, without its heading.
section() {
    awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name); next } inside' <<<"$rendered"
}

# --- Options and statistic letters -----------------------------------------

usage_status=0
usage=$("$TALLYWIRE" -h 2>&1 >/dev/null) || usage_status=$?
[ "$usage_status" -eq 1 ] || fail "-h exits with $usage_status"

# Every option letter the usage text names: the grouped flags of its first
# line ("[-?hnpR]") and every "-x" that begins a word.
usage_options=$(grep -oP '(?<![^\s\[,])-[?A-Za-z]+' <<<"$usage" | sed 's/^-//' | fold -w1 | as_set)
# The statistic letters: the indented "<tab><tab>x<tab>" lines under -S.
usage_letters=$(grep -oP '^\t\t\K[a-z](?=\t)' <<<"$usage" | as_set)
[ -n "$usage_options" ] && [ -n "$usage_letters" ] || fail "could not read the usage text"

# Tags of the OPTIONS section: "-x" or "-x, -y" at the tag indent.
page_options=$(section OPTIONS | grep -oP '^ {7}\K-[?A-Za-z](, -[?A-Za-z])*' |
    tr -d ' ,-' | fold -w1 | as_set)
page_letters=$(section STATISTICS | grep -oP '^ {7}\K[a-z](?= )' | as_set)

same_set "options" "$page_options" "$usage_options"
same_set "statistic letters" "$page_letters" "$usage_letters"

# --- Link labels -------------------------------------------------------------

# Capture files are written by hand here in the host's byte order, as
# libpcap would write them, so that the null link's family word reads as
# the program expects.
if [ "$(printf '\1\0' | od -An -tu2 | tr -d ' ')" = 1 ]; then little_endian=1; else little_endian=0; fi
u32() {
    local v=$1
    if [ "$little_endian" = 1 ]; then
        printf '%02x%02x%02x%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255))
    else
        printf '%08x' "$v"
    fi
}
u16() {
    if [ "$little_endian" = 1 ]; then
        printf '%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255))
    else
        printf '%04x' "$1"
    fi
}
zeros() { printf '%0*d' $(($1 * 2)) 0; }
hex_to_bytes() { printf "$(sed 's/../\\x&/g' <<<"$1")"; }

# write_capture FILE LINKTYPE FRAME_HEX... : a pcap file of those frames.
write_capture() {
    local file=$1 linktype=$2
    shift 2
    {
        hex_to_bytes "$(u32 $((0xa1b2c3d4)))$(u16 2)$(u16 4)$(u32 0)$(u32 0)$(u32 65535)$(u32 "$linktype")"
        local frame
        for frame in "$@"; do
            local length=$((${#frame} / 2))
            hex_to_bytes "$(u32 1)$(u32 0)$(u32 "$length")$(u32 "$length")$frame"
        done
    } >"$file"
}

ethernet_frames=()
for type in 0800 86dd 0806 8035 8137 809b 80f3 8100 88cc; do
    ethernet_frames+=("ffffffffffff020000000001${type}$(zeros 46)")
done
ppp_frames=()
for protocol in 0021 0057 8021 8057 80fd c021 c023 c223 0001; do
    ppp_frames+=("ff03${protocol}$(zeros 40)")
done
null_frames=()
for family in 2 28 24; do
    null_frames+=("$(u32 "$family")$(zeros 40)")
done
write_capture "$scratch/ethernet.pcap" 1 "${ethernet_frames[@]}"
write_capture "$scratch/ppp.pcap" 9 "${ppp_frames[@]}"
write_capture "$scratch/null.pcap" 0 "${null_frames[@]}"
# Raw IP (link type 101): a type the program does not classify.
write_capture "$scratch/raw.pcap" 101 "45000028$(zeros 36)"

printed_labels=""
for capture in ethernet ppp null raw; do
    status=0
    "$TALLYWIRE" -n -S l -r "$scratch/$capture.pcap" >"$scratch/out" 2>"$scratch/err" || status=$?
    [ "$status" -eq 0 ] || fail "$capture.pcap: status $status: $(cat "$scratch/err")"
    # Link rows: a tab, the label (its one colon ends it), the counts.
    printed_labels+=$(awk '/^[A-Z][A-Za-z]* Statistics:$/ { inside = ($1 == "Link"); next }
        inside' "$scratch/out" | sed -nE 's/^\t([^:]*:) .*$/\1/p')
    printed_labels+=$'\n'
done
printed_labels=$(grep -v '^$' <<<"$printed_labels" | as_set || true)

# The label list of the page: the lines after "printed exactly as shown:"
# up to the next paragraph, each a label, two or more blanks, its meaning.
page_labels=$(section REPORT |
    awk '/printed exactly as shown:/ { inside = 1; next }
         inside && /^ *$/ { if (seen) inside = 0; next }
         inside { seen = 1; print }' |
    sed -nE 's/^ +([^ ].*:)  +.*$/\1/p' | as_set)
[ "$(wc -l <<<"$page_labels")" -ge 20 ] || fail "could not read the page's link labels"

if [ -z "$printed_labels" ]; then
    echo "SKIP (link labels): the program printed no Link rows" >&2
else
    same_set "link labels" "$page_labels" "$printed_labels"
fi

finish manpage_test
