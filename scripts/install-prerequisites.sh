#!/usr/bin/env bash
# Installs the build and test tools from Debian's packages when they are missing, and makes
# 32-bit Linux programs (the 32-bit half of Wine) runnable on kernels built without 32-bit
# support. Safe to run again: it does nothing when everything is in place.
set -euo pipefail

packages=(cmake make g++ libgtest-dev python3 clang-format
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          wine wine32:i386 wine64 xvfb xauth x11-utils qemu-user-static locales)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The product is a 32-bit Windows program: Wine runs it with its 32-bit loader. Where the
# kernel cannot execute 32-bit code, qemu's user-mode emulator runs that loader instead.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | $sudo tee "$binfmt/register" >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null
fi

# Wine takes the user interface language from LANG only when that locale exists; the tests
# check one language besides English.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
