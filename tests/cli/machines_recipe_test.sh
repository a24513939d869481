#!/usr/bin/env bash
# The README's recipe across machines, for real: two network namespaces
# stand for two probes, each running an OpenSSH server on its own address
# with a key made here, each holding its own capture files in the login's
# home folder; GNU parallel logs into both, each counts its files into
# reports per interval, and the merge of what comes back must equal, byte
# for byte, the report of one run over all the files.
#
# The servers see the same file system as the test: each runs in a mount
# namespace of its own where a folder of the test is bind-mounted over the
# login's home and another, holding tallywire, over /usr/local/bin, and a
# fresh /run holds the server's privilege separation folder. The client
# runs in a third namespace joined to both by veth pairs; the test starts
# and stops every server itself and leaves nothing behind.
set -euo pipefail

for tool in parallel ssh ssh-keygen ip unshare python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is needed (scripts/install-deps installs it)" >&2
        exit 77
    fi
done
sshd=/usr/sbin/sshd
if [ ! -x "$sshd" ]; then
    echo "SKIP: the OpenSSH server is needed (scripts/install-deps installs openssh-server)" >&2
    exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root for network namespaces, and for servers on their addresses" >&2
    exit 77
fi

# shellcheck source=script_checks.bash
source "$(dirname "${BASH_SOURCE[0]}")/script_checks.bash"
: "${TALLYWIRE_GEN:?TALLYWIRE_GEN must name the generator}"
: "${TALLYWIRE_SPLIT:?TALLYWIRE_SPLIT must name the capture splitter}"

# --- The recipe, as the README prints it --------------------------------------

readme=$TALLYWIRE_SOURCE_DIR/README.md
recipe=$(awk '/^```/ { in_code = !in_code; next }
              in_code && /^parallel --nonall / && /--interval/ { print }' "$readme")
if [ "$(grep -c . <<<"$recipe")" -ne 1 ]; then
    echo "FAIL: README.md: expected one recipe line across machines with --interval," \
        "found: ${recipe:-none}" >&2
    exit 1
fi
logins=$(sed -nE 's/.*--sshlogin ([^ ]+) .*/\1/p' <<<"$recipe")
[ "$logins" = "probe1,probe2" ] || { echo "FAIL: the recipe's logins: $logins" >&2; exit 1; }
interval=$(sed -nE 's/.*(--interval=[^ ]+).*/\1/p' <<<"$recipe")
merge_options=${recipe##*--merge=- }

# --- Everything the test makes, and its removal ---------------------------------

id=$$
client=twmc$id
machines=(twm1$id twm2$id)
addresses=(192.0.2.2 198.51.100.2)
client_addresses=(192.0.2.1 198.51.100.1)
server_pids=()
cleanup() {
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for ns in "$client" "${machines[@]}"; do
        ip netns del "$ns" 2>/dev/null || true
    done
    rm -rf "/etc/netns/$client" "$scratch"
}
trap cleanup EXIT

for ns in "$client" "${machines[@]}"; do
    ip netns add "$ns"
done
ip -n "$client" link set lo up
# The merge looks names up: at the client's own loopback, where no server
# answers, so that no lookup leaves the namespaces.
mkdir -p "/etc/netns/$client"
echo "nameserver 127.0.0.1" >"/etc/netns/$client/resolv.conf"

ssh-keygen -q -t ed25519 -N '' -f "$scratch/client_key"
mkdir "$scratch/bin"
ln -s "$TALLYWIRE" "$scratch/bin/tallywire"

# --- The capture: whole, and in four files over two machines ---------------------

"$TALLYWIRE_GEN" -o "$scratch/whole.pcap" -n 8000 -S 17 -H 300 -P 200 --rate 50 \
    --pause 3000:40
"$TALLYWIRE_SPLIT" -n 4 -o "$scratch/part" "$scratch/whole.pcap"

for at in 0 1; do
    ns=${machines[$at]}
    home=$scratch/home$at
    mkdir -p "$home/caps" "$home/.ssh"
    mv "$scratch/part-$((2 * at + 1)).pcap" "$scratch/part-$((2 * at + 2)).pcap" "$home/caps/"
    cp "$scratch/client_key.pub" "$home/.ssh/authorized_keys"
    ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key$at"
    cat >"$scratch/sshd_config$at" <<CONFIG
ListenAddress ${addresses[$at]}
Port 22
HostKey $scratch/host_key$at
PidFile none
AuthorizedKeysFile $home/.ssh/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
CONFIG
    ip link add "twc${at}$id" netns "$client" type veth peer name "twp${at}$id" netns "$ns"
    ip -n "$client" addr add "${client_addresses[$at]}/24" dev "twc${at}$id"
    ip -n "$ns" addr add "${addresses[$at]}/24" dev "twp${at}$id"
    ip -n "$client" link set "twc${at}$id" up
    ip -n "$ns" link set "twp${at}$id" up
    ip -n "$ns" link set lo up
    ip netns exec "$ns" unshare --mount --propagation private sh -c '
        mount --bind "$1" /root && mount --bind "$2" /usr/local/bin &&
        mount -t tmpfs tmpfs /run && mkdir -m 755 /run/sshd &&
        exec "$3" -D -e -f "$4"' sh "$home" "$scratch/bin" "$sshd" "$scratch/sshd_config$at" \
        2>"$scratch/sshd$at.log" &
    server_pids+=($!)
done

cat >"$scratch/ssh_config" <<CONFIG
Host probe1
    HostName ${addresses[0]}
Host probe2
    HostName ${addresses[1]}
Host *
    User root
    IdentityFile $scratch/client_key
    IdentitiesOnly yes
    BatchMode yes
    StrictHostKeyChecking no
    UserKnownHostsFile /dev/null
    LogLevel ERROR
    ConnectTimeout 20
CONFIG

# In the client's namespace, with tallywire on the path.
in_client() {
    ip netns exec "$client" env PATH="$scratch/bin:$PATH" \
        PARALLEL_SSH="ssh -F $scratch/ssh_config" HOME="$scratch" bash -o pipefail -c "$1"
}

# The servers take a moment to listen.
for login in probe1 probe2; do
    for _ in $(seq 100); do
        in_client "ssh -F $scratch/ssh_config $login true" 2>/dev/null && break
        sleep 0.1
    done
done

# --- The recipe against one run over every file --------------------------------

# shellcheck disable=SC2086 # the merge's options are words by design
{
    in_client "cd $scratch && $recipe" >"$scratch/merged.txt" 2>"$scratch/err" ||
        fail "the recipe failed: $(head -n 5 "$scratch/err"; cat "$scratch"/sshd*.log | head -n 5)"
    in_client "cd $scratch && $recipe --format=json" >"$scratch/merged.json" 2>"$scratch/err" ||
        fail "the recipe with --format=json failed: $(head -n 3 "$scratch/err")"
    in_client "tallywire $interval -r $scratch/whole.pcap $merge_options" \
        >"$scratch/single.txt" || fail "the single run failed"
    in_client "tallywire $interval -r $scratch/whole.pcap $merge_options --format=json" \
        >"$scratch/single.json" || fail "the single run with --format=json failed"
}

[ "$(grep -c '^Interval ' "$scratch/single.txt")" -ge 3 ] ||
    fail "the capture spans fewer than three intervals"
cmp -s "$scratch/merged.txt" "$scratch/single.txt" ||
    fail "merged and single text reports differ: $(diff "$scratch/merged.txt" "$scratch/single.txt" | head -n 10)"
cmp -s "$scratch/merged.json" "$scratch/single.json" ||
    fail "merged and single JSON reports differ"

finish machines_recipe_test
