#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, Debian 12).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
# A mirror in the middle of a sync fails one index now and then; the install below
# fails on its own if a package we need is really missing.
for try in 1 2 3; do
  apt-get update -qq && break
  echo "apt-get update failed (try $try)" >&2; sleep $((try * 10))
done
apt-get install -y -qq --no-install-recommends \
  cmake make g++ clang libclang-rt-14-dev pkg-config git ca-certificates \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev zlib1g-dev \
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 \
  libz-mingw-w64-dev \
  wine wine32:i386 fonts-wine xvfb xauth x11-apps imagemagick \
  python3 python3-dbf python3-dbfread pgdbf dbview liblnk-utils unzip zip p7zip-full tmux xdotool \
  samba samba-common-bin smbclient libsmbclient-dev python3-samba
