#!/bin/sh
# Installs the Debian packages the build and the tests need. Idempotent: when
# everything is present it prints nothing and returns at once.
set -e

PACKAGES="make cmake ninja-build g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest wine wine64 xvfb xauth
xdotool imagemagick fonts-ipafont-gothic locales cabextract gcab 7zip
libarchive-tools clang clang-format libclang-rt-14-dev gzip zlib1g-dev python3 libmspack-dev"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# Japanese locale: Wine derives the ANSI code page (932) from it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "Generating ja_JP.UTF-8"
    $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
fi
