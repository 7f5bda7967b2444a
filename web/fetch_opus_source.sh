#!/usr/bin/env bash
# Fetches Debian 12's source package of libopus, version 1.3.1-3 (the decoder
# the song was made with), into DIR through apt, checks each file's SHA-256 and
# unpacks it with Debian's patches into DIR/source. apt is given a source list
# and state folders of DIR's own through its -o options, so the system's apt
# configuration is neither needed nor changed, and no root is needed.
#
#   fetch_opus_source.sh DIR
#
# The mirror is the first one this system's apt names for Debian 12, or
# KORVATINE_DEBIAN_MIRROR when set.
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
version=1.3.1-3
declare -A sha256=(
    [opus_1.3.1-3.dsc]=c373ac82a1afb824819618c12e279ee47b6ac2fa18083b9ef2bb9e8e9e588419
    [opus_1.3.1.orig.tar.gz]=65b58e1e25b2a114157014736a3d9dfeaad8d41be1c8179866f144a2fb44ff9d
    [opus_1.3.1-3.debian.tar.xz]=f4a145f0d5b9140106396fc0b0c515b1c3abd59f2aa5fb62b36b69886aa411bc
)

fail() {
    echo "fetch_opus_source.sh: $*" >&2
    exit 1
}

# The mirror from the system's sources: deb822 files (URIs: and Suites:) or
# one-line entries, whichever names bookworm first.
system_mirror() {
    local file
    for file in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$file" ] || continue
        awk '
            /^[[:space:]]*$/ { if (uri != "" && bookworm) { print uri; exit } uri = ""; bookworm = 0 }
            /^URIs:/ { uri = $2 }
            /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") bookworm = 1 }
            /^deb(-src)?[[:space:]]/ { for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) break
                                      if ($(i + 1) == "bookworm") { print $i; exit } }
            END { if (uri != "" && bookworm) print uri }
        ' "$file" | head -n 1
    done | head -n 1
}

mirror=${KORVATINE_DEBIAN_MIRROR:-$(system_mirror)}
mirror=${mirror:-http://deb.debian.org/debian}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
signed_by=
[ -r "$keyring" ] && signed_by="[signed-by=$keyring] "

apt_dir=$dir/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$dir/download"
echo "deb-src ${signed_by}$mirror bookworm main" >"$apt_dir/sources.list"
apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State=$apt_dir" -o "Dir::State::Lists=$apt_dir/lists" -o Dir::State::status=/var/lib/dpkg/status
    -o "Dir::Cache=$apt_dir" -o "Dir::Cache::Archives=$apt_dir/archives"
    -o "APT::Sandbox::User=$(id -un)" -o Debug::NoLocking=true
)
apt-get "${apt_options[@]}" -qq update >"$apt_dir/update.log" 2>&1 ||
    fail "apt could not read the source index of $mirror (see $apt_dir/update.log)"
(cd "$dir/download" && apt-get "${apt_options[@]}" -qq source --download-only "opus=$version") \
    >"$apt_dir/source.log" 2>&1 || fail "apt could not fetch the source of opus $version (see $apt_dir/source.log)"

for file in "${!sha256[@]}"; do
    actual=$(sha256sum "$dir/download/$file" | cut -d ' ' -f 1)
    [ "$actual" = "${sha256[$file]}" ] || fail "$file has SHA-256 $actual, not ${sha256[$file]}"
done

# The checksums above stand for dpkg-source's own (and for the signature,
# whose keys Debian's keyring package holds).
rm -rf "$dir/source" "$dir/unpacked"
dpkg-source --no-check -x "$dir/download/opus_$version.dsc" "$dir/source" >"$apt_dir/unpack.log" 2>&1 ||
    fail "dpkg-source could not unpack opus $version (see $apt_dir/unpack.log)"
touch "$dir/unpacked"
echo "opus $version from $mirror, SHA-256 checked, unpacked in $dir/source"
