#!/usr/bin/env bash
# Installs every Debian package that building and testing the installer needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive

# wine32 is an i386 package; the Windows tests run the 32-bit build under it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake make g++ ninja-build googletest libgtest-dev libgmock-dev \
  clang clang-format libclang-rt-14-dev \
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 \
  wine wine32:i386 \
  nasm dosfstools mtools xorriso genisoimage \
  qemu-system-x86 busybox-static \
  libburn-dev pkg-config \
  xvfb xdotool tmux imagemagick fonts-wine ca-certificates \
  dpkg-dev lintian man-db unzip >/dev/null
