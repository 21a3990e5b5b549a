#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing. Needs root (or sudo) only when something has to be installed.
# Extra package names on the command line are installed as well (the fuzz
# build asks for clang and its sanitizer runtimes this way).
set -euo pipefail

packages=(cmake g++ make pkg-config libsqlite3-dev sqlite3 libgtest-dev libgmock-dev
          libbenchmark-dev libedit-dev "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root, or install them with apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
