#!/usr/bin/env bash
# Installs the peer libraries the benchmark suite compares against (Qt 6 SQL
# with its SQLite driver, SOCI, SQLiteCpp), only those that are missing.
# Nothing but the bench build uses them; the suite skips a peer that is absent.
set -euo pipefail

# SOCI's Debian headers are configured with Boost (fusion, date_time) but the
# package does not depend on it, hence libboost-dev.
packages=(qt6-base-dev libqt6sql6-sqlite libsoci-dev libboost-dev libsqlitecpp-dev)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-bench-peers: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "install-bench-peers: run as root, or apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
