#!/usr/bin/env bash
# Checks the release files that scripts/build-release put into DIST.
#   release_files_test.sh CHECK DIST VENDORS
# CHECK is one of:
#   checksums     SHA256SUMS covers the three files and verifies
#   depends       the Debian package depends on nothing of {fmt}
#   portable      the archive's program needs only glibc 2.34, GCC 11's C++
#                 runtime and the OpenCL loader
#   archive_runs  the archive's program runs where it is unpacked, on the
#                 simulated GPU registered in the folder VENDORS
# Exits 77 (skipped) when DIST holds no release.
set -euo pipefail
check=$1 dist=$2 vendors=$3
source "$(dirname "$0")/first_status_line.sh"

shopt -s nullglob
debs=("$dist"/vramcheck_*.deb)
archives=("$dist"/vramcheck-*-linux-*.tar.gz)
zips=("$dist"/vramcheck-*-win64.zip)
if [[ ${#debs[@]} -ne 1 || ${#archives[@]} -ne 1 || ${#zips[@]} -ne 1 ]]; then
  echo "no release in $dist: run scripts/build-release first"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The unpacked archive's folder, after checking that it holds exactly the
# program, its manual page, the README and the licence.
Unpack() {
  local top
  top=$(basename "${archives[0]}" .tar.gz)
  tar -xzf "${archives[0]}" -C "$work"
  diff <(cd "$work" && find . -type f | sort) \
    <(printf "./$top/%s\n" LICENSE README.md vramcheck vramcheck.1) >&2 ||
    return 1
  echo "$work/$top"
}

# Fails when a version of FAMILY that PROGRAM needs is above LIMIT.
AtMost() {
  local program=$1 family=$2 limit=$3 highest
  highest=$(objdump -T "$program" | grep -o "${family}_[0-9.]*" |
    sed "s/^${family}_//" | sort -uV | tail -n 1)
  echo "highest $family version: $highest (at most $limit)"
  [[ $(printf '%s\n' "$highest" "$limit" | sort -V | tail -n 1) == "$limit" ]]
}

case $check in
  checksums)
    listed=$(cut -d' ' -f3 "$dist/SHA256SUMS" | sort)
    [[ $listed == "$(cd "$dist" && ls -- *.deb *.tar.gz *.zip | sort)" ]]
    (cd "$dist" && sha256sum --strict -c SHA256SUMS)
    ;;
  depends)
    depends=$(dpkg-deb -f "${debs[0]}" Depends)
    echo "Depends: $depends"
    [[ $depends != *fmt* ]]
    ;;
  portable)
    program=$(Unpack)/vramcheck
    needed=$(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }')
    echo "NEEDED:" $needed
    # Nothing outside glibc, the C++ runtime and the OpenCL loader.
    if grep -vxF -e libc.so.6 -e libm.so.6 -e libstdc++.so.6 \
        -e libgcc_s.so.1 -e libOpenCL.so.1 <<<"$needed"; then
      exit 1
    fi
    AtMost "$program" GLIBC 2.34
    AtMost "$program" GLIBCXX 3.4.29
    AtMost "$program" CXXABI 1.3.13
    ;;
  archive_runs)
    folder=$(Unpack)
    (cd "$folder" && RunsToFirstStatusLine ./vramcheck "$vendors")
    ;;
  *)
    echo "unknown check: $check" >&2
    exit 2
    ;;
esac
