#!/usr/bin/env bash
# Checks a Debian package of pidsift as CI does: lintian finds no error in it, the tools run from
# its files unpacked into a temporary root, and a program builds there against its headers and
# library through its pkg-config file.
#   scripts/check-package.sh pidsift_<version>_<arch>.deb
set -euo pipefail
deb=$1
# Errors fail; warnings and notes are shown.
lintian --fail-on error --display-info --tag-display-limit 0 "$deb"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
for tool in pidsift pidsift-dump pidsift-split pidsift-check; do
    "$root/usr/bin/$tool" --version
done

# pidsift.pc names /usr: the sysroot puts the unpacked root before it.
cat >"$root/identify.cpp" <<'PROGRAM'
#include <cstdio>
#include <pidsift/streams.h>
#include <pidsift/ts.h>

int main()
{
    const u8 loop[] = {0x05, 0x04, 'E', 'A', 'C', '3'};  // registration descriptor "EAC3"
    const pidsift::StreamIdentity identity = pidsift::IdentifyStream(0x06, loop, sizeof loop);
    char name[256];
    TS_Header_StreamTypeToString(name, 0x06);
    std::printf("%s: %.*s\n", name, int(identity.codec.size()), identity.codec.data());
}
PROGRAM
pc_dir=$(dirname "$(find "$root/usr/lib" -name pidsift.pc)")
flags=$(PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$pc_dir" pkg-config --cflags --libs pidsift)
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++20 "$root/identify.cpp" -o "$root/identify" $flags
output=$("$root/identify")
echo "$output"
[ "$output" = "ISO/IEC 13818-1 PES packets: eac3" ]
