#!/usr/bin/env bash
# The layers of src/ point one way: cli -> merge -> report -> stats ->
# capture, with settings.h at the bottom for all of them. A file includes
# headers of its own layer and of layers below it only, and no two units (a
# header with its source file) include each other, directly or through
# others. Checked over the #include lines of src/, and the check is checked
# on small trees that break each rule.
set -euo pipefail

# The layer of a path below src/: higher layers may include lower ones.
layer_of() {
    case $1 in
        settings.h | settings.cpp) echo 0 ;;
        capture/*) echo 1 ;;
        stats/*) echo 2 ;;
        report/*) echo 3 ;;
        merge/*) echo 4 ;;
        cli/*) echo 5 ;;
        main.cpp) echo 6 ;;
        *) echo unknown ;;
    esac
}

# Prints every fault of the tree rooted at $1; returns 1 when there is one.
check_tree() {
    local root=$1 faults=0 edges file included from to
    edges=$(mktemp)
    while IFS= read -r file; do
        from=$(layer_of "$file")
        if [ "$from" = unknown ]; then
            echo "$file: not in any layer"
            faults=1
            continue
        fi
        while IFS= read -r included; do
            if [ ! -f "$root/$included" ]; then
                echo "$file: includes \"$included\", which is not in src/"
                faults=1
                continue
            fi
            to=$(layer_of "$included")
            if [ "$to" = unknown ] || [ "$to" -gt "$from" ]; then
                echo "$file: includes $included, of a layer above its own"
                faults=1
            fi
            # A header and its source file are one unit.
            if [ "${file%.*}" != "${included%.*}" ]; then
                echo "${file%.*} ${included%.*}" >>"$edges"
            fi
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$root/$file")
    done < <(cd "$root" && find . -type f \( -name '*.h' -o -name '*.cpp' \) | sed 's|^\./||' | sort)
    if ! tsort "$edges" >/dev/null 2>"$edges.loop"; then
        echo "include circle:"
        sed -n 's/^tsort: //p' "$edges.loop"
        faults=1
    fi
    rm -f "$edges" "$edges.loop"
    return "$faults"
}

source_dir=${TALLYWIRE_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}/src
status=0

if ! check_tree "$source_dir"; then
    echo "FAIL: src/ breaks the layering above"
    status=1
fi

# The check must see each kind of fault.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
make_tree() {
    rm -rf "$scratch/src"
    mkdir -p "$scratch/src/capture" "$scratch/src/stats" "$scratch/src/report" "$scratch/src/merge"
    printf '#pragma once\n' >"$scratch/src/settings.h"
    printf '#include "settings.h"\n' >"$scratch/src/capture/a.h"
    printf '#include "capture/a.h"\n' >"$scratch/src/stats/b.h"
    printf '#include "stats/b.h"\n' >"$scratch/src/report/d.h"
    printf '#include "report/d.h"\n' >"$scratch/src/merge/e.h"
    printf '#include "merge/e.h"\n' >"$scratch/src/merge/f.h"
}
expect_fault() {
    local what=$1
    if check_tree "$scratch/src" >/dev/null; then
        echo "FAIL: the check missed $what"
        status=1
    fi
}
make_tree
if ! check_tree "$scratch/src" >/dev/null; then
    echo "FAIL: the check refuses a sound tree"
    status=1
fi
make_tree
printf '#include "stats/b.h"\n' >>"$scratch/src/capture/a.h"
expect_fault "an include of a higher layer"
make_tree
printf '#include "stats/b.h"\n' >"$scratch/src/stats/c.h"
printf '#include "stats/c.h"\n' >"$scratch/src/stats/b.cpp"
expect_fault "two units that include each other"
make_tree
printf '#include "stats/missing.h"\n' >>"$scratch/src/stats/b.h"
expect_fault "an include of a file that does not exist"
make_tree
printf '#include "merge/e.h"\n' >>"$scratch/src/report/d.h"
expect_fault "report including the merge layer above it"
make_tree
printf '#include "merge/f.h"\n' >>"$scratch/src/merge/e.h"
expect_fault "two units of the merge layer that include each other"

[ "$status" -eq 0 ] && echo "include layers: sound"
exit "$status"
