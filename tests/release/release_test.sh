#!/usr/bin/env bash
# Checks the release files that scripts/build-release put into DIST.
#   release_test.sh CHECK DIST VENDORS STATE
# CHECK is one of these, on the release files:
#   checksums       SHA256SUMS covers the three files and verifies
#   depends         the Debian package depends on nothing of {fmt}
#   portable        the archive's program needs only glibc 2.34, GCC 11's
#                   C++ runtime and the OpenCL loader
#   archive_runs    the archive's program runs where it is unpacked
#   lintian         lintian reports no error and no warning
# or on the Debian package installed on this machine:
#   install         apt-get installs it, every file in place
#   installed_runs  /usr/bin/vramcheck runs
#   manual          man finds its manual page
#   remove          purging it leaves none of its files
# A program "runs" when it reaches its first status line on the simulated
# GPU registered in the folder VENDORS. Installing needs root and never
# replaces a vramcheck installed before: the install check then skips, and
# the checks after it run only when it left its marker in the folder STATE.
# A skipped check exits with 77.
set -euo pipefail
check=$1 dist=$2 vendors=$3 state=$4
marker=$state/installed-by-test
apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q
  -o DPkg::Lock::Timeout=300)

Skip() {
  echo "$*"
  exit 77
}

shopt -s nullglob
debs=("$dist"/vramcheck_*.deb)
archives=("$dist"/vramcheck-*-linux-*.tar.gz)
zips=("$dist"/vramcheck-*-win64.zip)
[[ ${#debs[@]} -eq 1 && ${#archives[@]} -eq 1 && ${#zips[@]} -eq 1 ]] ||
  Skip "no release in $dist: run scripts/build-release first"
deb=$(realpath "${debs[0]}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs PROGRAM with one block until its first status line is complete, and
# checks the dialogue, the cleared screen, a clean status line and an empty
# standard error.
RunsToFirstStatusLine() {
  : >"$work/stdout"
  OCL_ICD_VENDORS=$vendors "$1" <<<"1" >"$work/stdout" 2>"$work/stderr" &
  local pid=$! tries stdout stderr dialogue status_line
  for ((tries = 0; tries < 600; tries++)); do
    grep -q 'Total Error: [0-9]' "$work/stdout" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  stdout=$(<"$work/stdout") stderr=$(<"$work/stderr")
  dialogue=$'Device Number: Device Name\n0: Simulated GPU\n'
  dialogue+=$'How many memory blocks will you test? (max: 8 blocks)\n\e[2J\e[0;0H'
  status_line=$'^\e\\[0;0H\e\\[0JWrite: [0-9]+\\.[0-9]{2} \\[GiB/s\\], Read: [0-9]+\\.[0-9]{2} \\[GiB/s\\], Total Error: 0$'
  if [[ ${stdout:0:${#dialogue}} != "$dialogue" || -n $stderr ||
        ! ${stdout:${#dialogue}} =~ $status_line ]]; then
    printf 'no clean first status line within 60 s\nstandard output:\n%q\n' \
      "$stdout"
    printf 'standard error:\n%s\n' "$stderr"
    return 1
  fi
}

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

# The package's files, without its folders.
PackageFiles() {
  dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||'
}

case $check in
  checksums)
    listed=$(cut -d' ' -f3 "$dist/SHA256SUMS" | sort)
    [[ $listed == "$(cd "$dist" && ls -- *.deb *.tar.gz *.zip | sort)" ]]
    (cd "$dist" && sha256sum --strict -c SHA256SUMS)
    ;;
  depends)
    depends=$(dpkg-deb -f "$deb" Depends)
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
    (cd "$folder" && RunsToFirstStatusLine ./vramcheck)
    ;;
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
    RunsToFirstStatusLine /usr/bin/vramcheck
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
