#!/usr/bin/env bash
# Provisions the extra CPython interpreters of the test matrix into a cache outside the repository.
#
#   py314   CPython 3.14 (plus pytest) unpacked from Debian unstable's binary packages into a private
#           root and run through that root's own dynamic loader; the system is left untouched.
#   py314d  the same root's debug interpreter, when Debian ships python3.14-dbg (optional).
#   py313t  free-threaded CPython 3.13 built from the upstream tarball of Debian trixie's source package.
#
# Idempotent: each interpreter is reused when its stamp is present and it still runs.
# Environment: VESTLE_CACHE (cache root), VESTLE_REFRESH=1 (fetch/build again),
# VESTLE_JOBS (make -j), VESTLE_DEBIAN_MIRROR (default: the machine's own Debian mirror),
# VESTLE_APT_WAIT (seconds to wait for a held apt/dpkg lock or another provisioning run, default 600).
set -euo pipefail

SCRIPTS="$(cd "$(dirname "$0")" && pwd)"
CACHE="${VESTLE_CACHE:-/var/cache/csv-vestle}"
REFRESH="${VESTLE_REFRESH:-0}"
JOBS="${VESTLE_JOBS:-2}"
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
ARCH=amd64
TRIPLET=x86_64-linux-gnu

# libstdc++6 is for the module (C++), which python3.14 alone does not pull in.
PY314_PACKAGES=(python3.14 python3.14-minimal libpython3.14-dev libpython3.14-stdlib
                libpython3.14-minimal python3-pytest libstdc++6)
PY314_OPTIONAL=(python3.14-dbg)
PY313T_BUILD_DEPS=(build-essential pkg-config xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev
                   liblzma-dev libsqlite3-dev libreadline-dev libncurses-dev uuid-dev libgdbm-dev
                   libexpat1-dev)

log() { printf '[provision] %s\n' "$*" >&2; }
run() { log "+ $*"; "$@"; }
die() { log "error: $*"; exit 1; }

[[ "$(dpkg --print-architecture)" == "$ARCH" ]] || die "only $ARCH is supported"

# The mirror comes from the machine's own apt setup so that no address is kept in the repository.
debian_mirror() {
  if [[ -n "${VESTLE_DEBIAN_MIRROR:-}" ]]; then
    printf '%s\n' "$VESTLE_DEBIAN_MIRROR"
    return
  fi
  local uri=""
  if [[ -r /etc/apt/sources.list.d/debian.sources ]]; then
    uri=$(awk 'BEGIN { RS = ""; FS = "\n" }
      {
        uris = ""; suites = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^URIs:/)   { uris = $i;   sub(/^URIs:[ \t]*/, "", uris) }
          if ($i ~ /^Suites:/) { suites = $i; sub(/^Suites:[ \t]*/, "", suites) }
        }
        if (uris != "" && suites !~ /security/) { split(uris, u, /[ \t]+/); print u[1]; exit }
      }' /etc/apt/sources.list.d/debian.sources)
  fi
  if [[ -z "$uri" && -r /etc/apt/sources.list ]]; then
    uri=$(awk '$1 == "deb" && $0 !~ /security/ {
        for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' /etc/apt/sources.list)
  fi
  [[ -n "$uri" ]] || die "no Debian mirror found in /etc/apt; set VESTLE_DEBIAN_MIRROR"
  printf '%s\n' "${uri%/}"
}

# A private apt instance: its own sources, lists, archive cache, preferences and an empty dpkg
# status, so it resolves a foreign suite without ever seeing or changing the system's packages.
# The machine's apt.conf.d stays in force so its transport settings apply as for the system apt.
APT_OPTS=()
apt_private_init() {  # dir, sources.list line...
  local dir="$1"
  shift
  mkdir -p "$dir/etc/apt/sources.list.d" "$dir/etc/apt/preferences.d" "$dir/etc/apt/trusted.gpg.d" \
           "$dir/state/lists/partial" "$dir/cache/archives/partial"
  printf '%s\n' "$@" >"$dir/etc/apt/sources.list.new"
  mv "$dir/etc/apt/sources.list.new" "$dir/etc/apt/sources.list"
  : >"$dir/state/status"
  APT_OPTS=(
    -o "Dir::Etc::SourceList=$dir/etc/apt/sources.list"
    -o "Dir::Etc::SourceParts=$dir/etc/apt/sources.list.d"
    -o "Dir::Etc::Preferences=$dir/etc/apt/preferences"
    -o "Dir::Etc::PreferencesParts=$dir/etc/apt/preferences.d"
    -o "Dir::Etc::Trusted=$dir/etc/apt/trusted.gpg"
    -o "Dir::Etc::TrustedParts=$dir/etc/apt/trusted.gpg.d"
    -o "Dir::State=$dir/state"
    -o "Dir::State::Lists=$dir/state/lists"
    -o "Dir::State::status=$dir/state/status"
    -o "Dir::State::extended_states=$dir/state/extended_states"
    -o "Dir::Cache=$dir/cache"
    -o "Dir::Cache::archives=$dir/cache/archives"
    -o "APT::Architecture=$ARCH"
    -o "APT::Architectures::=$ARCH"
    -o "APT::Install-Recommends=false"
    -o "APT::Install-Suggests=false"
    -o "Debug::NoLocking=true"
    -o "APT::Sandbox::User=root"
  )
}
papt_get() { run apt-get "${APT_OPTS[@]}" "$@"; }
papt_cache() { apt-cache "${APT_OPTS[@]}" "$@"; }

# ---------------------------------------------------------------------------------------------
# CPython 3.14 from Debian unstable, unpacked into a private root.

PY314_DIR="$CACHE/py314"
PY314_ROOT="$PY314_DIR/root"
PY314_BIN="$PY314_DIR/bin"

write_py314_wrapper() {  # root, name of the interpreter binary under usr/bin, wrapper path
  local root="$1" binary="$2" wrapper="$3"
  cat >"$wrapper.new" <<EOF
#!/bin/sh
# Runs the private root's $binary through the root's own loader and C library.
ROOT='$root'
PYTHONHOME="\$ROOT/usr"
export PYTHONHOME
exec "\$ROOT/lib64/ld-linux-x86-64.so.2" \\
  --library-path "\$ROOT/lib/$TRIPLET:\$ROOT/usr/lib/$TRIPLET" \\
  --argv0 "\$0" "\$ROOT/usr/bin/$binary" "\$@"
EOF
  chmod 755 "$wrapper.new"
  mv "$wrapper.new" "$wrapper"
}

check_py314() {  # wrapper; prints the checks it makes
  local py="$1"
  run "$py" -c 'import sys, sysconfig; print(sys.version); print(sysconfig.get_config_var("EXT_SUFFIX"))' &&
  run "$py" -c 'import sys, subprocess
out = subprocess.run([sys.executable, "-c", "import sys; print(sys.executable)"],
                     check=True, capture_output=True, text=True).stdout.strip()
assert out == sys.executable, (out, sys.executable)
import ssl, sqlite3, ctypes, decimal, lzma, bz2, zlib, readline
print("sys.executable:", sys.executable)' &&
  run "$py" -m pytest --version
}

# Debian's Python.h reaches pyconfig.h through the multiarch directory, which would make a build
# add the root's whole usr/include (a newer C library's headers) to its search path. Instead each
# header directory is copied with the matching pyconfig.h in place, so it stands alone.
make_py314_includes() {
  local v dest
  for v in python3.14 python3.14d; do
    dest="$PY314_DIR/include/$v"
    rm -rf "$dest" "$dest.new"
    [[ -d "$PY314_ROOT/usr/include/$v" ]] || continue
    mkdir -p "$PY314_DIR/include"
    cp -RL "$PY314_ROOT/usr/include/$v" "$dest.new"
    rm -f "$dest.new/pyconfig.h"
    cp "$PY314_ROOT/usr/include/$TRIPLET/$v/pyconfig.h" "$dest.new/pyconfig.h"
    mv "$dest.new" "$dest"
  done
}

provision_py314() {
  local stamp="$PY314_DIR/.stamp"
  local requested="requested: ${PY314_PACKAGES[*]}"
  if [[ "$REFRESH" != 1 && -f "$stamp" && -x "$PY314_BIN/python3.14" ]] &&
     grep -qxF "$requested" "$stamp" && "$PY314_BIN/python3.14" -c '' 2>/dev/null; then
    log "py314: reusing $PY314_DIR ($(head -n1 "$stamp"))"
    make_py314_includes
    check_py314 "$PY314_BIN/python3.14"
    return
  fi
  local start=$SECONDS apt_dir="$CACHE/apt-unstable"
  log "py314: fetching CPython 3.14 from Debian unstable into $PY314_ROOT"
  apt_private_init "$apt_dir" \
    "deb [signed-by=$KEYRING] $(debian_mirror) unstable main"
  papt_get -q update

  local wanted=("${PY314_PACKAGES[@]}") pkg policy
  for pkg in "${PY314_OPTIONAL[@]}"; do
    policy=$(papt_cache policy "$pkg")
    if [[ "$policy" == *"Candidate: "[0-9]* ]]; then
      wanted+=("$pkg")
    else
      log "py314: optional package $pkg is not in unstable; skipped"
    fi
  done

  # apt computes the closure against the empty status: every library the packages need,
  # down to libc6, is part of the download.
  papt_get -q clean
  papt_get -q -y install --download-only "${wanted[@]}"
  local debs=("$apt_dir"/cache/archives/*.deb)
  [[ -e "${debs[0]}" ]] || die "py314: nothing downloaded"
  log "py314: ${#debs[@]} packages resolved"

  local staging="$PY314_DIR/root.new" deb
  rm -rf "$staging"
  mkdir -p "$staging"
  for deb in "${debs[@]}"; do
    dpkg -x "$deb" "$staging"
  done
  # Merged-/usr layout, as base-files would set it up on a Debian system.
  local d
  for d in bin sbin lib lib64; do
    if [[ -d "$staging/usr/$d" && ! -e "$staging/$d" ]]; then
      ln -s "usr/$d" "$staging/$d"
    fi
  done
  [[ -e "$staging/lib64/ld-linux-x86-64.so.2" ]] || die "py314: the unpacked root has no dynamic loader"

  rm -rf "$PY314_ROOT"
  mv "$staging" "$PY314_ROOT"
  mkdir -p "$PY314_BIN"
  write_py314_wrapper "$PY314_ROOT" python3.14 "$PY314_BIN/python3.14"
  ln -sfn python3.14 "$PY314_BIN/python3"
  if [[ -x "$PY314_ROOT/usr/bin/python3.14d" ]]; then
    write_py314_wrapper "$PY314_ROOT" python3.14d "$PY314_BIN/python3.14d"
  else
    rm -f "$PY314_BIN/python3.14d"
  fi

  # Debian's site module puts <prefix>/lib/python3/dist-packages (pytest) on the path by itself.
  make_py314_includes
  check_py314 "$PY314_BIN/python3.14"
  if [[ -x "$PY314_BIN/python3.14d" ]]; then
    check_py314 "$PY314_BIN/python3.14d"
  fi
  {
    "$PY314_BIN/python3.14" -c 'import sys; print("CPython", sys.version.split()[0])'
    printf '%s\n' "$requested"
    (cd "$apt_dir/cache/archives" && ls -1 -- *.deb)
  } >"$stamp"
  # The unpacked root is all that is used from here on.
  papt_get -q clean
  log "py314: ready in $((SECONDS - start)) s: $PY314_BIN/python3.14"
}

# ---------------------------------------------------------------------------------------------
# Free-threaded CPython 3.13 built from the upstream tarball of Debian trixie's python3.13 source.

PY313T_PREFIX="$CACHE/py313t"
PY313T="$PY313T_PREFIX/bin/python3.13t"

py313t_works() {
  [[ -x "$PY313T" ]] && [[ "$("$PY313T" -c 'import sys; print(sys._is_gil_enabled())' 2>/dev/null)" == False ]]
}

# Through install-deps.sh, which waits (bounded) when another apt or dpkg holds the lock.
install_build_deps() {
  run "$SCRIPTS/install-deps.sh" "$@"
}

# pytest is pure Python: the copy unpacked for 3.14 serves 3.13t as well.
link_py313t_pytest() {
  local site
  site=$("$PY313T" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
  mkdir -p "$site"
  printf '%s\n' "$PY314_ROOT/usr/lib/python3/dist-packages" >"$site/vestle-pytest.pth"
}

check_py313t() {
  run "$PY313T" -c 'import sys, sysconfig; print(sys.version); print(sysconfig.get_config_var("EXT_SUFFIX")); print("GIL enabled:", sys._is_gil_enabled())' &&
  run "$PY313T" -m pytest --version
}

provision_py313t() {
  if [[ "$REFRESH" != 1 ]] && py313t_works; then
    log "py313t: reusing $PY313T_PREFIX"
    link_py313t_pytest
    check_py313t
    return
  fi
  local start=$SECONDS apt_dir="$CACHE/apt-trixie-src" src="$CACHE/src/python3.13"
  install_build_deps "${PY313T_BUILD_DEPS[@]}"
  apt_private_init "$apt_dir" \
    "deb-src [signed-by=$KEYRING] $(debian_mirror) trixie main"
  papt_get -q update

  # apt checks the downloaded files against the signed Sources index.
  rm -rf "$src"
  mkdir -p "$src"
  (cd "$src" && papt_get -q source --download-only python3.13)
  local orig
  orig=$(find "$src" -maxdepth 1 -name 'python3.13_*.orig.tar.*' ! -name '*.asc' | head -n1)
  [[ -n "$orig" ]] || die "py313t: no upstream tarball in the source package"
  log "py313t: building from $(basename "$orig") (upstream sources, no Debian patches)"
  run tar -xf "$orig" -C "$src"
  local tree
  tree=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'Python-3.13*' | head -n1)
  [[ -n "$tree" && -x "$tree/configure" ]] || die "py313t: unexpected tarball layout"

  local build="$src/build" build_start=$SECONDS
  mkdir -p "$build"
  rm -rf "$PY313T_PREFIX"
  (cd "$build" && run "$tree/configure" -q --disable-gil --without-ensurepip --prefix="$PY313T_PREFIX")
  run make -C "$build" -s -j"$JOBS" >"$build/make.log" 2>&1 || {
    tail -n 40 "$build/make.log" >&2
    die "py313t: build failed (log: $build/make.log)"
  }
  run make -C "$build" -s install >"$build/install.log" 2>&1 || {
    tail -n 40 "$build/install.log" >&2
    die "py313t: install failed (log: $build/install.log)"
  }
  log "py313t: configure+build+install took $((SECONDS - build_start)) s"
  py313t_works || die "py313t: $PY313T does not run free-threaded"
  # Only the installed interpreter is kept.
  rm -rf "$src"
  link_py313t_pytest
  check_py313t
  log "py313t: ready in $((SECONDS - start)) s: $PY313T"
}

# What the test matrix builds against: tag, interpreter, directory holding Python.h.
write_interpreter_table() {
  {
    printf 'py314\t%s\t%s\n' "$PY314_BIN/python3.14" "$PY314_DIR/include/python3.14"
    printf 'py313t\t%s\t%s\n' "$PY313T" \
      "$("$PY313T" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
    if [[ -x "$PY314_BIN/python3.14d" ]]; then
      printf 'py314d\t%s\t%s\n' "$PY314_BIN/python3.14d" "$PY314_DIR/include/python3.14d"
    fi
  } >"$CACHE/interpreters.tsv.new"
  mv "$CACHE/interpreters.tsv.new" "$CACHE/interpreters.tsv"
}

main() {
  mkdir -p "$CACHE"
  log "cache: $CACHE"
  # Two runs at once (two checkouts on one machine) would unpack into the same folders.
  exec 9>"$CACHE/.provision.lock"
  if ! flock -n 9; then
    log "another provisioning run holds $CACHE; waiting up to ${VESTLE_APT_WAIT:-600} s"
    flock -w "${VESTLE_APT_WAIT:-600}" 9 || die "the cache stayed locked by another run"
  fi
  local start=$SECONDS
  provision_py314
  provision_py313t
  write_interpreter_table
  log "done in $((SECONDS - start)) s; cache size $(du -sh "$CACHE" | cut -f1)"
  log "interpreters (tag, interpreter, header directory) in $CACHE/interpreters.tsv:"
  sed 's/^/[provision]   /' "$CACHE/interpreters.tsv" >&2
}

main "$@"
