#!/usr/bin/env bash
# The package's life on a Debian system, run for real without touching this
# one: the package is installed (dpkg -i, as apt does it), its service
# and an instance of the template enabled, vorlund-convert run from a root
# shell, upgraded to a newer version whose conffile changed while the
# administrator had changed it too, removed and purged, and installed again.
# Everything runs chrooted into a throwaway root: an overlay of this
# machine's own root whose writes (the dpkg database, the user vorlund, the
# enable links) go to a temporary directory, in a mount namespace of its own
# that goes with the test. Real dpkg, adduser, deb-systemd-helper and
# systemctl (which enables and disables units offline); no systemd runs, so
# nothing is started or stopped.
#
#   install_cycle_test.sh PACKAGE.deb      (as root)
set -uo pipefail
if [ -z "${VORLUND_IN_NAMESPACE:-}" ]; then
    exec unshare --mount --propagation private env VORLUND_IN_NAMESPACE=1 bash "$0" "$@"
fi
deb=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlund-cycle.XXXXXX")
root=$work/merged
failures=0

cleanup() {
    umount -R "$root" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The throwaway root: this machine's, with every write kept apart; the API
# file systems of its own, and an empty /run, so that no maintainer script
# finds a running systemd to talk to.
mkdir -p "$work/upper" "$work/overlay-work" "$root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/overlay-work" "$root" ||
    { echo "FAIL: no overlay of the root file system" >&2; exit 1; }
mount --rbind /dev "$root/dev" && mount -t proc proc "$root/proc" &&
    mount -t tmpfs tmpfs "$root/run" && mount -t tmpfs tmpfs "$root/tmp" ||
    { echo "FAIL: the throwaway root's file systems" >&2; exit 1; }
# The manual pages index is not worth rebuilding for a test (man-db skips
# it without this file).
rm -f "$root/var/lib/man-db/auto-update"
mkdir -p "$root/run/lock"
# The user vorlund is known only there: its files are looked at from there.
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
! in_root getent passwd vorlund >/dev/null || fail "the user vorlund exists already"

# The newer version: the same package, its version raised and its conffile
# changed, as a maintainer's next release would be.
version=$(dpkg-deb -f "$deb" Version)
newer=$version.1
dpkg-deb -R "$deb" "$work/newer" || fail "dpkg-deb -R"
sed -i "s/^Version: .*/Version: $newer/" "$work/newer/DEBIAN/control"
printf '; Changed in %s.\n' "$newer" >>"$work/newer/etc/vorlund/Vorlund.ini"
(cd "$work/newer" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum >DEBIAN/md5sums)
dpkg-deb -b --root-owner-group "$work/newer" "$root/tmp/newer.deb" >/dev/null || fail "dpkg-deb -b"
cp "$deb" "$root/tmp/vorlund.deb"

# Installed as an administrator would.
in_root dpkg -i /tmp/vorlund.deb >"$work/install.log" 2>&1 ||
    fail "dpkg -i: $(tail -5 "$work/install.log")"
in_root id -nG vorlund | grep -qw dialout || fail "vorlund is not in dialout"
[ "$(in_root stat -c '%U:%G' /var/lib/vorlund)" = vorlund:vorlund ] || fail "the state directory's owner"
[ "$(in_root stat -c '%U:%G %a' /var/lib/vorlund/Out)" = 'vorlund:vorlund 2775' ] ||
    fail "Out: $(in_root stat -c '%U:%G %a' /var/lib/vorlund/Out)"
wants=$root/etc/systemd/system/multi-user.target.wants
[ ! -e "$wants/vorlund.service" ] || fail "the package enabled the service before it was set up"

# Enabled, the plain service and an instance.
cp "$root/etc/vorlund/Vorlund.ini" "$root/etc/vorlund/cradle2.ini"
in_root systemctl enable vorlund.service vorlund@cradle2.service >/dev/null 2>&1 ||
    fail "systemctl enable"
[ -L "$wants/vorlund.service" ] && [ -L "$wants/vorlund@cradle2.service" ] || fail "no enable links"

# vorlund-convert from a root shell leaves the service's files; without a
# directory it works in none (from /usr/bin, where it lies).
in_root install -d -o vorlund -g vorlund /var/lib/vorlund/Spool
printf 'A;1\r\nA;2\r\n' >"$root/var/lib/vorlund/Spool/X.DAT"
export_path=$(in_root vorlund-convert /var/lib/vorlund) || fail "vorlund-convert as root"
[ "$(in_root stat -c %U:%G "$export_path" 2>&1)" = vorlund:vorlund ] ||
    fail "the export of root's vorlund-convert: $(in_root stat -c %U:%G "$export_path" 2>&1)"
for program in vorlund vorlund-convert; do
    in_root "$program" >/dev/null 2>"$work/refusal"
    status=$?
    [ "$status" = 64 ] && grep -q 'no APPDIR given' "$work/refusal" || fail "$program without APPDIR: $status"
done
[ ! -e "$root/usr/bin/Spool" ] && [ ! -e "$root/usr/bin/Out" ] || fail "Spool or Out made in /usr/bin"

# The upgrade keeps the administrator's settings, and the package's new ones
# beside them, and the enable links.
echo 'BaudRate=1' >>"$root/etc/vorlund/Vorlund.ini"
in_root dpkg -i --force-confold /tmp/newer.deb >"$work/upgrade.log" 2>&1 ||
    fail "the upgrade: $(tail -5 "$work/upgrade.log")"
[ "$(in_root dpkg-query -W -f '${Version}' vorlund)" = "$newer" ] || fail "not upgraded"
grep -qx 'BaudRate=1' "$root/etc/vorlund/Vorlund.ini" || fail "the upgrade lost the administrator's settings"
grep -q "Changed in $newer" "$root/etc/vorlund/Vorlund.ini.dpkg-dist" ||
    fail "the new package's settings are not beside them"
[ -L "$wants/vorlund.service" ] && [ -L "$wants/vorlund@cradle2.service" ] ||
    fail "the upgrade lost the enable links"

# Removed: the programs go, the settings and the data stay.
in_root dpkg -r vorlund >"$work/remove.log" 2>&1 || fail "dpkg -r: $(tail -5 "$work/remove.log")"
[ ! -e "$root/usr/bin/vorlund" ] || fail "the program stayed"
[ -f "$root/etc/vorlund/Vorlund.ini" ] && [ -f "$root$export_path" ] || fail "remove lost data"

# Purged: the enable links go with the settings, the data stay, and a new
# install starts nothing by itself.
in_root dpkg -P vorlund >"$work/purge.log" 2>&1 || fail "dpkg -P: $(tail -5 "$work/purge.log")"
[ ! -e "$root/etc/vorlund/Vorlund.ini" ] || fail "the purge kept the settings"
leftovers=$(cd "$root" && find etc/systemd/system var/lib/systemd/deb-systemd-helper-enabled \
    var/lib/systemd/deb-systemd-helper-masked -name '*vorlund*' 2>/dev/null)
[ -z "$leftovers" ] || fail "the purge left: $leftovers"
[ -f "$root$export_path" ] && in_root getent passwd vorlund >/dev/null || fail "the purge lost data or the user"
in_root dpkg -i /tmp/vorlund.deb >"$work/reinstall.log" 2>&1 || fail "the new install"
[ ! -e "$wants/vorlund.service" ] || fail "the new install enabled the service"

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "install, upgrade, remove and purge: all checks passed"
