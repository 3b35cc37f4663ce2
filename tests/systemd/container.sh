# A Debian root booted with systemd as its PID 1 under systemd-nspawn, for
# the tests that need a real service manager. Sourced after the end-to-end
# tests' harness.sh (its wait_for), in a mount namespace of the caller's own
# (unshare --mount --propagation private): the root is made once with
# debootstrap and kept, each boot runs on a throwaway overlay of it, and
# nothing on the host changes but the cgroup directories of the boot,
# removed after it.
#
# These machines run no systemd of their own (no D-Bus, /run on disk, a
# hybrid cgroup tree), so nspawn is started as it would be from a unit:
# unregistered, in a cgroup made for it, its propagation directory on a
# tmpfs, its systemd on the unified hierarchy with BPF allowed (without
# which DeviceAllow= is not enforced), and a network of its own (without
# which PrivateNetwork= cannot bring up the loopback).
#
#   container_unsupported          why this machine cannot boot one, or nothing
#   container_root ROOT            makes ROOT unless it is made already
#   container_boot ROOT WORK DIR   boots an overlay of ROOT in WORK, DIR at /mnt/host
#   inside COMMAND...              runs COMMAND in the container, as its root
#   inside_wait SECONDS COMMAND... waits for COMMAND inside to succeed
#   container_poweroff             shuts it down and removes what the boot made

# What the root holds beyond the minimal base: systemd itself, the serial
# line and terminal of the tests (socat, sz), and what the package needs.
container_packages=systemd,systemd-sysv,dbus,socat,lrzsz,adduser,libsystemd0,procps,iproute2

container_unsupported() {
    [ "$(id -u)" = 0 ] || { echo "not root"; return; }
    local command
    for command in systemd-nspawn debootstrap unshare nsenter; do
        command -v "$command" >/dev/null || { echo "no $command"; return; }
    done
    [ -n "$(container_hierarchies)" ] || { echo "no cgroup hierarchy to start a container in"; return; }
}

# The cgroup hierarchies a process must be moved in: the unified one, and
# systemd's own named one on a hybrid tree.
container_hierarchies() {
    if [ "$(stat -f -c %T /sys/fs/cgroup 2>/dev/null)" = cgroup2fs ]; then
        echo /sys/fs/cgroup
        return
    fi
    local hierarchy
    for hierarchy in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do
        [ -w "$hierarchy/cgroup.procs" ] && echo "$hierarchy"
    done
}

# The host's Debian mirror and release, for a root like the machine's own.
container_mirror() {
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    apt-cache policy 2>/dev/null |
        awk -v suite="$codename/main" '$3 == suite && $2 ~ /^https?:/ { print $2; exit }'
}

container_root() {
    # One maker at a time: the test command may run in two work trees.
    (
        flock 9 && container_make_root "$1"
    ) 9>"$1.lock"
}

container_make_root() {
    local root=$1 codename mirror attempt
    [ -f "$root/.vorlund-root" ] && [ "$(cat "$root/.vorlund-root")" = "$container_packages" ] &&
        return 0
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mirror=$(container_mirror)
    mirror=${mirror:-http://deb.debian.org/debian}
    echo "--- making the root $root ($codename from $mirror, once)"
    rm -rf "$root" "$root.new"
    # A mirror in the middle of a sync fails a download now and then.
    for attempt in 1 2 3; do
        if debootstrap --variant=minbase --include="$container_packages" "$codename" \
            "$root.new" "$mirror" >"$root.log" 2>&1; then
            rm -f "$root.new"/var/cache/apt/archives/*.deb
            echo "$container_packages" >"$root.new/.vorlund-root"
            mv "$root.new" "$root" && rm -f "$root.log"
            return
        fi
        echo "--- debootstrap failed (attempt $attempt): $(tail -1 "$root.log")"
        rm -rf "$root.new"
        sleep $((attempt * 10))
    done
    return 1
}

container_boot() {
    local root=$1 host_dir=$3
    container_work=$2
    container_name=vorlund-systemd-$$
    container_cgroups=()
    mkdir -p "$container_work/upper" "$container_work/overlay-work" "$container_work/machine"
    mount -t overlay overlay -o \
        "lowerdir=$root,upperdir=$container_work/upper,workdir=$container_work/overlay-work" \
        "$container_work/machine" || return 1
    mkdir -p /run/systemd && mount -t tmpfs tmpfs /run/systemd || return 1
    local hierarchy
    for hierarchy in $(container_hierarchies); do
        mkdir "$hierarchy/$container_name" || return 1
        container_cgroups+=("$hierarchy/$container_name")
    done
    (
        for cgroup in "${container_cgroups[@]}"; do
            echo "$BASHPID" >"$cgroup/cgroup.procs" || exit 1
        done
        SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 exec systemd-nspawn --quiet --boot \
            --directory="$container_work/machine" --machine="$container_name" \
            --register=no --keep-unit --private-network --system-call-filter=bpf \
            --console=passive --link-journal=no --resolv-conf=off --timezone=off \
            --bind-ro="$host_dir:/mnt/host"
    ) >"$container_work/nspawn.log" 2>&1 &
    container_nspawn=$!
    # The container's PID 1, as the host sees it, once it is systemd.
    container_leader=
    local limit=$((SECONDS + 20))
    until container_leader=$(pgrep -P "$container_nspawn" -x systemd); do
        if [ "$SECONDS" -ge "$limit" ] || ! kill -0 "$container_nspawn" 2>/dev/null; then
            echo "FAIL: the container did not start: $(tail -3 "$container_work/nspawn.log")" >&2
            return 1
        fi
        sleep 0.05
    done
    inside_wait 20 test -S /run/systemd/private &&
        [ "$(inside systemctl is-system-running --wait)" = running ] ||
        { echo "FAIL: systemd in the container: $(inside systemctl --failed --no-legend)" >&2; return 1; }
}

inside() {
    nsenter --target "$container_leader" --all -- \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

inside_quietly() { inside "$@" 2>/dev/null; }
inside_wait() { wait_for "$1" inside_quietly "${@:2}"; }

container_poweroff() {
    if [ -n "${container_nspawn:-}" ]; then
        inside systemctl poweroff >/dev/null 2>&1
        local limit=$((SECONDS + 20))
        while kill -0 "$container_nspawn" 2>/dev/null && [ "$SECONDS" -lt "$limit" ]; do
            sleep 0.05
        done
        if kill -0 "$container_nspawn" 2>/dev/null; then
            # No clean shutdown: everything in the boot's cgroups goes.
            local cgroup
            for cgroup in "${container_cgroups[@]}"; do
                [ -f "$cgroup/cgroup.kill" ] && echo 1 >"$cgroup/cgroup.kill"
            done
            kill -KILL "$container_nspawn" 2>/dev/null
        fi
        wait "$container_nspawn" 2>/dev/null
        container_nspawn=
    fi
    # Deepest first: the container's systemd made its own below ours.
    local cgroup
    for cgroup in "${container_cgroups[@]}"; do
        find "$cgroup" -depth -type d -exec rmdir {} + 2>/dev/null
    done
    container_cgroups=()
    umount "$container_work/machine" 2>/dev/null
    umount /run/systemd 2>/dev/null
}
