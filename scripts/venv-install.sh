#!/usr/bin/env bash
# Installs a clean copy of the repository with pip, offline, into a fresh virtual
# environment: DIR/src is the copy, DIR/venv the environment. Used by the checks
# that test the package as a user installs it.
# Usage: scripts/venv-install.sh DIR   (interpreter: VESTLE_PYTHON, default /usr/bin/python3)
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
cd "$(dirname "$0")/.."
repo=$PWD
python=${VESTLE_PYTHON:-/usr/bin/python3}

# Copy only tracked files and new files git does not ignore, so no local
# build folders, installed modules or other leftovers reach the build.
mkdir "$dest/src"
if git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$repo" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' path; do
      if [[ -e $path ]]; then printf '%s\0' "$path"; fi
    done |
    tar --null -T - -cf - | tar -xf - -C "$dest/src"
else
  tar --exclude='./build*' --exclude='./.git' -cf - . | tar -xf - -C "$dest/src"
fi

# Debian's setuptools and wheel are the build tools: the venv sees them through
# --system-site-packages, --no-build-isolation keeps pip from fetching its own,
# and --no-index forbids any download: the dependency tqdm is Debian's python3-tqdm.
"$python" -m venv --system-site-packages "$dest/venv"
echo "== pip install --no-build-isolation (CMake build of the module)"
"$dest/venv/bin/python" -m pip install -q --no-build-isolation --no-index "$dest/src"
