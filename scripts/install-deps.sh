#!/usr/bin/env bash
# Installs what building and testing buslog needs on a Debian machine:
# CMake and g++, mingw-w64 for the Windows DLL, Wine to run it, GoogleTest
# sources, clang and its fuzzer runtime, Google Benchmark, pkg-config and
# dpkg-dev for the install and package tests, Python for the ctypes example,
# python-can, pytest, venv, pip, setuptools and wheel for the python-can
# package (and its wheel in the Debian package python3-buslog), and numpy,
# canmatrix and matplotlib for its columns, signal decoding and plots.
# Packages already there are left alone, so a second run is quick.
set -euo pipefail

packages=(
  cmake make g++ binutils
  googletest
  g++-mingw-w64-x86-64 wine64
  clang libclang-rt-14-dev libbenchmark-dev
  pkg-config dpkg-dev python3
  python3-can python3-pytest python3-venv python3-pip python3-setuptools python3-wheel
  python3-canmatrix python3-matplotlib python3-numpy
)
packages+=("$@")

echo "checking the Debian packages buslog needs ..."
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "all installed"
  exit 0
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
