#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine needs to build and test both targets. Idempotent:
# packages already present and an amalgamation already fetched are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libsqlite3-dev sqlite3
    libcli11-dev nlohmann-json3-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools wine64
    chrony
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm fetches the amalgamation; this machine kind ships Node.js with its own npm.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# SQLite for the Windows build: the amalgamation that better-sqlite3 12.11.1 ships (kept out of git).
sqlite_dir=third_party/sqlite3
if [ ! -f "$sqlite_dir/sqlite3.c" ] || [ ! -f "$sqlite_dir/sqlite3.h" ]; then
    echo "setup: fetching the SQLite amalgamation (npm better-sqlite3@12.11.1)"
    tmp=$(mktemp -d)
    (cd "$tmp" && npm pack --silent better-sqlite3@12.11.1 >/dev/null)
    tar -xzf "$tmp"/better-sqlite3-12.11.1.tgz -C "$tmp" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
    mkdir -p "$sqlite_dir"
    cp "$tmp"/package/deps/sqlite3/sqlite3.c "$tmp"/package/deps/sqlite3/sqlite3.h "$sqlite_dir"/
    rm -rf "$tmp"
fi
echo "setup: ready"
