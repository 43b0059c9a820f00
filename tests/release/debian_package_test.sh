#!/usr/bin/env bash
# Checks the Debian package that scripts/build-release put into DIST.
#   debian_package_test.sh CHECK DIST VENDORS STATE
# CHECK is one of:
#   lintian         lintian reports no error and no warning
#   install         apt-get installs it, every file in place
#   installed_runs  /usr/bin/vramcheck runs to its first status line on the
#                   simulated GPU registered in the folder VENDORS
#   manual          man finds its manual page
#   remove          purging it leaves none of its files
# Installing needs root, and never replaces a vramcheck installed before:
# the install check then skips, and the checks after it run only when it
# left its marker in the folder STATE. A skipped check exits with 77.
set -euo pipefail
check=$1 dist=$2 vendors=$3 state=$4
source "$(dirname "$0")/first_status_line.sh"

shopt -s nullglob
debs=("$dist"/vramcheck_*.deb)
if [[ ${#debs[@]} -ne 1 ]]; then
  echo "no Debian package in $dist: run scripts/build-release first"
  exit 77
fi
deb=$(realpath "${debs[0]}")
marker=$state/installed-by-test
apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q
  -o DPkg::Lock::Timeout=300)

Skip() {
  echo "$*"
  exit 77
}

# The package's files, without its folders.
PackageFiles() {
  dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||'
}

case $check in
  lintian)
    lintian --fail-on error,warning "$deb"
    ;;
  install)
    [[ $(id -u) -eq 0 ]] || Skip "installing the package needs root"
    if [[ ! -e $marker ]] &&
        dpkg-query -W -f='${Status}' vramcheck 2>/dev/null | grep -q installed; then
      Skip "a vramcheck package was installed before: not replacing it"
    fi
    touch "$marker"
    "${apt_get[@]}" install --no-install-recommends "$deb" >/dev/null
    PackageFiles | while read -r file; do
      [[ -e $file ]] || { echo "not installed: $file"; exit 1; }
    done
    ;;
  installed_runs | manual | remove)
    [[ -e $marker ]] || Skip "the package was not installed by the install check"
    ;;&
  installed_runs)
    RunsToFirstStatusLine /usr/bin/vramcheck "$vendors"
    ;;
  manual)
    [[ $(man -w vramcheck) == /usr/share/man/man1/vramcheck.1.gz ]]
    ;;
  remove)
    "${apt_get[@]}" purge vramcheck >/dev/null
    rm "$marker"
    left=0
    for file in $(PackageFiles) /usr/share/doc/vramcheck; do
      [[ -e $file ]] && { echo "left behind: $file"; left=1; }
    done
    exit "$left"
    ;;
  *)
    echo "unknown check: $check" >&2
    exit 2
    ;;
esac
