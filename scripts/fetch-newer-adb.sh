#!/usr/bin/env bash
# fetch-newer-adb.sh DIR: puts an adb that can `adb pair` (30 or newer) at DIR/adb, for the
# tests that pair by code. Debian 12's own adb is 29; its backports carry 34. Nothing is
# installed: the packages are downloaded with a private apt state under DIR and unpacked
# there, so no root is needed and apt's own sources, lists and cache stay as they are.
#
# Prints the path of the adb to use on its last line: DIR/adb, or the system's adb when
# that is new enough already (then DIR is left alone).
set -euo pipefail

usage() { echo "usage: $0 DIR" >&2; exit 2; }
[[ $# -eq 1 && -n $1 ]] || usage
dest=$(realpath -m -- "$1")

# "Version 34.0.5-debian" -> 34; nothing when the program does not run.
adb_major() { "$1" version 2>/dev/null | sed -n 's/^Version \([0-9][0-9]*\)\..*/\1/p' | head -n 1; }
new_enough() { local major; major=$(adb_major "$1"); [[ -n $major && $major -ge 30 ]]; }

if [[ -x $dest/adb ]] && new_enough "$dest/adb"; then
    echo "fetch-newer-adb: $dest/adb is adb $(adb_major "$dest/adb") already" >&2
    echo "$dest/adb"
    exit 0
fi
system_adb=$(command -v adb || true)
if [[ -n $system_adb ]] && new_enough "$system_adb"; then
    echo "fetch-newer-adb: the system's adb is adb $(adb_major "$system_adb"), nothing to fetch" >&2
    echo "$system_adb"
    exit 0
fi

. /etc/os-release
codename=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}
if [[ $codename != bookworm ]]; then
    echo "fetch-newer-adb: no adb 30 or newer here, and this script knows only Debian 12's backports" >&2
    exit 1
fi
backports=$codename-backports

# The mirror this machine already uses for its main suite, from apt's own configuration
# (sources.list and deb822 .sources alike).
mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(IDENTIFIER)' \
         | awk -v suite="$codename" '$2 == suite && $3 == "Packages" { print $1; exit }')
if [[ -z $mirror ]]; then
    echo "fetch-newer-adb: apt's sources name no mirror for $codename" >&2
    exit 1
fi

state=$dest/apt
rm -rf "$dest/root" "$dest/debs" "$dest/adb"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d" "$dest/debs"
signed=
[[ -r /usr/share/keyrings/debian-archive-keyring.gpg ]] && signed=' [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]'
cat >"$state/sources.list" <<EOF
deb$signed $mirror $backports main
deb$signed $mirror $codename main
EOF

apt_opts=(
    -o "Dir::Etc::SourceList=$state/sources.list"
    -o "Dir::Etc::SourceParts=$state/sources.list.d"
    -o "Dir::State::Lists=$state/lists"
    -o "Dir::Cache=$state/cache"
    -o "APT::Sandbox::User=$(id -un)"
    -o "Debug::NoLocking=1"
    -o "Acquire::Retries=5"
)
echo "fetch-newer-adb: reading $backports and $codename from $mirror" >&2
apt-get "${apt_opts[@]}" -qq update >&2

# Depends and Pre-Depends of one version, the first of each group of alternatives.
depends_of() {
    apt-cache "${apt_opts[@]}" depends --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances "$1" 2>/dev/null \
      | awk 'NR > 1 && /^ *(\|)?(Pre)?Depends:/ {
                 alt = ($1 ~ /^\|/); name = $2
                 if (!skip && name !~ /^</) print name
                 skip = alt
             }' | sort -u
}
in_backports() { [[ $(apt-cache "${apt_opts[@]}" madison "$1") == *" $backports/"* ]]; }
installed() { dpkg-query -W -f '${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed; }

# adb and the Android libraries from backports (an Android library backports lacks comes from
# main, as the rest does), and whatever of the rest is not installed from main.
declare -A wanted=()
queue=("adb/$backports")
while ((${#queue[@]})); do
    item=${queue[0]}
    queue=("${queue[@]:1}")
    [[ -n ${wanted[$item]:-} ]] && continue
    wanted[$item]=1
    for dep in $(depends_of "$item"); do
        dep=${dep%:any}
        if [[ $dep == android-* ]] && in_backports "$dep"; then
            queue+=("$dep/$backports")
        elif [[ $dep == android-* ]] || ! installed "$dep"; then
            queue+=("$dep/$codename")
        fi
    done
done

echo "fetch-newer-adb: ${!wanted[*]}" >&2
(cd "$dest/debs" && apt-get "${apt_opts[@]}" -qq download "${!wanted[@]}" >&2)
for deb in "$dest"/debs/*.deb; do
    dpkg -x "$deb" "$dest/root"
done

binary=$(find "$dest/root" -path '*/platform-tools/adb' -type f -print -quit)
if [[ -z $binary ]]; then
    echo "fetch-newer-adb: the adb package held no platform-tools/adb" >&2
    exit 1
fi
# adb 34's RUNPATH names the system folder that holds adb 29's own libbase.so.0, which
# would win over the unpacked one: LD_LIBRARY_PATH comes first.
libdirs=$(find "$dest/root" -name '*.so*' \( -type f -o -type l \) -printf '%h\n' | sort -u | paste -sd:)
cat >"$dest/adb.new" <<EOF
#!/bin/sh
# adb from $backports, unpacked by scripts/fetch-newer-adb.sh
LD_LIBRARY_PATH="$libdirs\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}" exec "$binary" "\$@"
EOF
chmod +x "$dest/adb.new"
if ! new_enough "$dest/adb.new"; then
    echo "fetch-newer-adb: the unpacked adb does not run as adb 30 or newer:" >&2
    "$dest/adb.new" version >&2 || true
    exit 1
fi
mv "$dest/adb.new" "$dest/adb"
echo "fetch-newer-adb: $dest/adb is adb $(adb_major "$dest/adb")" >&2
echo "$dest/adb"
