#!/usr/bin/env bash
# Installing from the build tree. `cmake --install` below a staging root
# must put exactly the binary and the manual page under the prefix, both
# usable from there; the Debian package that CPack makes from the same tree
# must hold the same two files under /usr (the page compressed, as Debian
# ships pages), owned by root, and declare libpcap's runtime package.
set -euo pipefail

# shellcheck source=script_checks.bash
source "$(dirname "${BASH_SOURCE[0]}")/script_checks.bash"

build=$(cd "$(dirname "$TALLYWIRE")/.." && pwd)

# What a binary says and returns for a request that needs no capture: the
# usage text, and a source too short to hold a file magic. The usage text's
# example line shows the path as typed, so the path is replaced by a mark.
behaviour_of() {
    local binary=$1 status
    for args in "-h" "-r /dev/null"; do
        status=0
        # shellcheck disable=SC2086
        "$binary" $args >"$scratch/out" 2>"$scratch/err" || status=$?
        echo "[$args] status $status"
        sed "s|$binary|PROGRAM|g" "$scratch/out" "$scratch/err"
    done
}
behaviour_of "$TALLYWIRE" >"$scratch/built.txt"

# The files below a root, one "path mode" line each, sorted.
files_below() {
    (cd "$1" && find . -type f -printf '%p %m\n' | LC_ALL=C sort)
}

# Installs a usable binary and the page, as they are, and nothing else.
check_installed_tree() {
    local root=$1 prefix=$2 label=$3
    local expected
    expected=$(printf '.%s/bin/tallywire 755\n.%s/share/man/man1/tallywire.1 644\n' \
        "$prefix" "$prefix")
    local found
    found=$(files_below "$root")
    [ "$found" = "$expected" ] ||
        fail "$label: installed files differ:"$'\n'"$found"$'\n'"expected:"$'\n'"$expected"
    local binary="$root$prefix/bin/tallywire"
    if [ -x "$binary" ]; then
        behaviour_of "$binary" >"$scratch/installed.txt"
        diff -u "$scratch/built.txt" "$scratch/installed.txt" >&2 ||
            fail "$label: the installed binary behaves unlike the built one"
    fi
}

for prefix in /usr/local /opt/tallywire; do
    stage="$scratch/stage${prefix//\//_}"
    if ! DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
        cat "$scratch/install.log" >&2
        fail "cmake --install with prefix $prefix failed"
        continue
    fi
    check_installed_tree "$stage" "$prefix" "prefix $prefix"
    cmp -s "$page" "$stage$prefix/share/man/man1/tallywire.1" ||
        fail "prefix $prefix: the installed page is not the source page"
done

# The package: built into the scratch folder, so that the build tree keeps
# no package from a test run.
if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
    echo "SKIP (package part): cpack or dpkg-deb is missing" >&2
elif [ ! -f "$build/CPackConfig.cmake" ]; then
    fail "the build tree has no CPackConfig.cmake"
elif ! (cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$scratch/deb") \
        >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack failed"
else
    debs=("$scratch"/deb/*.deb)
    deb=${debs[0]}
    [ ${#debs[@]} -eq 1 ] && [ -f "$deb" ] || fail "cpack made ${#debs[@]} packages"

    field() { dpkg-deb --field "$deb" "$1"; }
    [ "$(field Package)" = tallywire ] || fail "Package: $(field Package)"
    [ "$(field Section)" = net ] || fail "Section: $(field Section)"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    [ -n "$(field Description)" ] || fail "no Description"
    if command -v dpkg >/dev/null; then
        [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
            fail "Architecture: $(field Architecture)"
    fi
    depends=$(field Depends)
    [[ ", $depends" == *", libpcap0.8"* ]] || fail "Depends lacks libpcap0.8: $depends"
    [[ "$depends" != *-dev* ]] || fail "Depends names a development package: $depends"

    # Regular files only: "path mode owner".
    contents=$(dpkg-deb --contents "$deb" | awk '$1 ~ /^-/ { print $6, $1, $2 }' | LC_ALL=C sort)
    expected_contents=$'./usr/bin/tallywire -rwxr-xr-x root/root\n./usr/share/man/man1/tallywire.1.gz -rw-r--r-- root/root'
    [ "$contents" = "$expected_contents" ] ||
        fail "package contents differ:"$'\n'"$contents"$'\n'"expected:"$'\n'"$expected_contents"

    dpkg-deb -x "$deb" "$scratch/root"
    if [ -f "$scratch/root/usr/share/man/man1/tallywire.1.gz" ]; then
        gzip -dc "$scratch/root/usr/share/man/man1/tallywire.1.gz" | cmp -s "$page" - ||
            fail "the packed page is not the source page"
    fi
    if [ -x "$scratch/root/usr/bin/tallywire" ]; then
        behaviour_of "$scratch/root/usr/bin/tallywire" >"$scratch/packed.txt"
        diff -u "$scratch/built.txt" "$scratch/packed.txt" >&2 ||
            fail "the packed binary behaves unlike the built one"
    fi
fi

finish install_test
