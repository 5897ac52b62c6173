#!/usr/bin/env bash
# Installs everything Quenlat needs to build, run and test on Debian 12, and
# nothing that is already there. Safe to run again at any time.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(
  build-essential cmake ninja-build
  googletest libgtest-dev  # sources (Windows and sanitized builds), the native library
  clang-14 libclang-rt-14-dev llvm-14  # sanitizer build, fuzzers, readable reports
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-utils imagemagick
  dos2unix hyperfine time
  python3 strace  # tests/powerloss: the power-loss checker records the console tool
  locales  # the Japanese locale that the Windows name tests make with localedef
  dpkg-dev file zip unzip  # scripts/package.sh: CPack's Debian package and its dependencies, the zip
  wixl msitools  # scripts/package.sh: the Windows Installer package, and its test reads it
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi

for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done

if [ "${#need[@]}" -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${need[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
