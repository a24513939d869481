# Shared by the scripted checks of this folder (sourced, not run): a scratch
# folder removed on exit, and failures that are counted, so that one run
# reports every broken check rather than the first.

: "${TALLYWIRE:?TALLYWIRE must name the built binary}"
: "${TALLYWIRE_SOURCE_DIR:?TALLYWIRE_SOURCE_DIR must name the source tree}"

page="$TALLYWIRE_SOURCE_DIR/man/tallywire.1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Ends the script: status 1 after any failure, 0 otherwise.
finish() {
    [ "$failures" -eq 0 ] || { echo "$1: $failures check(s) failed" >&2; exit 1; }
    echo "$1: all checks passed"
}
