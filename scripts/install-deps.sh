#!/usr/bin/env bash
# Installs the build and test dependencies from Debian's packages when any is missing.
set -euo pipefail
# clang and its runtime (libFuzzer) for the fuzz build; groff-base and man-db (man -l), pkgconf
# and bash for the tests of the man pages, the pkg-config file and the completion.
# nlohmann-json3-dev for the tests that read the tools' JSON; libxml2-utils (xmllint) parses its
# SVG pictures in the tests. make package: dpkg-dev (dpkg-shlibdeps, dpkg-buildflags), file (which
# CPack's Debian generator runs on the binaries), lintian to check the package. ffmpeg (ffprobe) and
# GStreamer's gst-discoverer-1.0 (plugins-base-apps) with its MPEG-TS demuxer (plugins-bad) read
# what pidsift-split --streams writes, in a test. chromium draws pidsift-check's SVG picture
# headless in a test, as a browser shows it.
packages=(cmake g++ make libgtest-dev libbenchmark-dev clang libclang-rt-14-dev groff-base man-db pkgconf bash
    nlohmann-json3-dev libxml2-utils dpkg-dev file lintian ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base
    gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-bad chromium)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
