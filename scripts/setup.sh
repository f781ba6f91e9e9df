#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine needs. Idempotent: packages already present and an
# amalgamation already fetched are left alone.
#   setup.sh --main   the main job (scripts/run.sh): the native toolchain, the libraries ovractl
#                     links, and the file-system tools the Linux volumes use
#   setup.sh --all    also everything the tests need (the default): GoogleTest, benchmarks, clang,
#                     the Windows cross toolchain and Wine, chrony, rsyslog, QEMU with a kernel and
#                     smartctl for the guest tests, and the SQLite amalgamation for the Windows build
set -euo pipefail
cd "$(dirname "$0")/.."

scope=${1:---all}
case "$scope" in
--main | --all) ;;
*)
    echo "usage: setup.sh [--main|--all]" >&2
    exit 2
    ;;
esac

packages=(
    cmake ninja-build g++
    libsqlite3-dev sqlite3
    libcli11-dev nlohmann-json3-dev libboost1.81-dev
    # Linux volumes: identity from the devices, and the tools that make, label and mount them.
    libblkid-dev e2fsprogs xfsprogs dosfstools exfatprogs exfat-fuse ntfs-3g fusefat
)
if [ "$scope" = --all ]; then
    packages+=(
        clang libclang-rt-14-dev clang-format
        libgtest-dev libgmock-dev googletest libbenchmark-dev
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine64
        chrony rsyslog
        prometheus chromium curl
        qemu-system-x86 linux-image-amd64 busybox-static cpio smartmontools
    )
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm fetches the amalgamation; this machine kind ships Node.js with its own npm.
if [ "$scope" = --all ]; then
    command -v npm >/dev/null 2>&1 || missing+=(npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# SQLite for the Windows build: the amalgamation that better-sqlite3 12.11.1 ships (kept out of git).
sqlite_dir=third_party/sqlite3
if [ "$scope" = --all ] && { [ ! -f "$sqlite_dir/sqlite3.c" ] || [ ! -f "$sqlite_dir/sqlite3.h" ]; }; then
    echo "setup: fetching the SQLite amalgamation (npm better-sqlite3@12.11.1)"
    tmp=$(mktemp -d)
    (cd "$tmp" && npm pack --silent better-sqlite3@12.11.1 >/dev/null)
    tar -xzf "$tmp"/better-sqlite3-12.11.1.tgz -C "$tmp" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
    mkdir -p "$sqlite_dir"
    cp "$tmp"/package/deps/sqlite3/sqlite3.c "$tmp"/package/deps/sqlite3/sqlite3.h "$sqlite_dir"/
    rm -rf "$tmp"
fi
echo "setup: ready ($scope)"
