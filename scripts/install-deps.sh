#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, when any is missing.
# Runs apt-get as root, or through sudo otherwise. When another apt or dpkg
# process holds its lock, waits for it, up to VESTLE_APT_WAIT seconds (default 600).
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(g++ cmake make python3 python3-dev python3-pytest python3-venv python3-setuptools python3-wheel libgtest-dev "$@")
wait_limit=${VESTLE_APT_WAIT:-600}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
((${#missing[@]})) || exit 0

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

# dpkg's own lock is waited for by apt itself (DPkg::Lock::Timeout); the lock of
# the package lists, taken by `apt-get update`, is not, so a refused call is
# retried until the same deadline.
deadline=$((SECONDS + wait_limit))
apt_get() {
  local err status
  err=$(mktemp)
  while :; do
    status=0
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout="$wait_limit" \
      "$@" 2>"$err" || status=$?
    if ((status == 0)); then
      cat "$err" >&2
      rm -f "$err"
      return 0
    fi
    if grep -qiE 'could not get lock|unable to lock|unable to acquire the dpkg frontend lock' "$err" &&
       ((SECONDS < deadline)); then
      echo "apt is busy (another apt or dpkg holds its lock); waiting" >&2
      sleep 5
      continue
    fi
    cat "$err" >&2
    rm -f "$err"
    return "$status"
  done
}

echo "installing: ${missing[*]}"
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"
