#!/usr/bin/env bash
# Checks the release files that scripts/build-release put into DIST.
#   release_test.sh CHECK DIST VENDORS STATE [SIMGPU_AARCH64]
# CHECK is one of these, on the release files:
#   checksums       SHA256SUMS covers every file and verifies
#   depends         each Debian package holds a program of its architecture
#                   and depends on glibc 2.17 and an OpenCL loader alone
#   portable        the Linux programs and loaders of both architectures
#                   need glibc 2.17's symbols or older, the dynamic loader
#                   and libOpenCL.so.1, nothing of a C++ runtime
#   archive_runs    the x86_64 archive's program runs where it is unpacked
#   aarch64_runs    the aarch64 programs, under qemu-aarch64 on a Debian 11
#                   arm64 tree, list the simulated GPU built for arm64
#                   (SIMGPU_AARCH64) and refuse 0 blocks with the limit;
#                   gpu-check starts
#   lintian         lintian reports no error and no warning on either package
#   debian11        the amd64 package installs in a fresh Debian 11 root and
#                   its program gives the -1001 line there, then "Device not
#                   found." once that release's PoCL is installed
#   gpu_check_root  the x86_64 GPU-check folder passes in a fresh Debian 12
#                   root that has no OpenCL loader, on the simulated GPU
#                   installed there as a driver
#   image           the OCI image's gpu-check, under podman with runc, finds
#                   the simulated GPU mounted as NVIDIA's container toolkit
#                   mounts a driver (a libnvidia-opencl.so.1, no .icd file),
#                   with PoCL for it in a layer of the test's own, and
#                   names the host that GPU_CHECK_HOST gives; skipped where
#                   podman cannot run a container
#   reproducible    scripts/build-release in a clone at another path makes
#                   the same SHA256SUMS
# or, needing no release, on the source tree:
#   debian13        in a fresh Debian 13 root, scripts/build-and-run builds
#                   the tester without a warning and it says "Device not
#                   found."; the Windows program and the tests build
#                   without a warning, of the compiler or of CMake, and the
#                   quick ones pass, those under Wine included, with no
#                   XDG_RUNTIME_DIR or display set (those of the release
#                   files skip)
# or on the amd64 Debian package installed on this machine:
#   install         apt-get installs it, every file in place
#   installed_runs  /usr/bin/vramcheck runs, and /usr/bin/gpu-check checks
#                   the simulated GPU clean
#   manual          man finds the manual pages
#   remove          purging it leaves none of its files
# A program "runs" when it reaches its first status line on the simulated
# GPU registered in the folder VENDORS. Installing needs root and never
# replaces a vramcheck installed before, nor one that another build tree's
# checks hold (the folder /run/lock/vramcheck-package-test): the install
# check then skips, and the checks after it run only when it left its
# marker in the folder STATE.
# Debian trees come from VRAMCHECK_DEBIAN_MIRROR (http://deb.debian.org/debian).
# A skipped check exits with 77.
set -euo pipefail
check=$1 dist=$2 vendors=$3 state=$4 simgpu_aarch64=${5:-}
marker=$state/installed-by-test
claim=/run/lock/vramcheck-package-test
mirror=${VRAMCHECK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
apt_get=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q
  -o DPkg::Lock::Timeout=300)
# A Debian root that lives only while mmdebstrap runs its hooks.
throwaway_root=(mmdebstrap --quiet --dpkgopt=force-unsafe-io)
no_driver_line="Error: clGetPlatformIDs failed with CL_PLATFORM_NOT_FOUND_KHR"
no_driver_line+=" (-1001): no OpenCL driver is installed."
declare -A machine=([x86_64]="Advanced Micro Devices X86-64"
  [aarch64]=AArch64 [amd64]="Advanced Micro Devices X86-64" [arm64]=AArch64)

Skip() {
  echo "$*"
  exit 77
}

# The working tree as git sees it (tracked files and untracked ones it does
# not ignore), on Debian 13 with the packages of the quick tests: Oclgrind
# is not packaged there. The hooks run with /proc, /sys and /dev mounted,
# without which PoCL 6 aborts.
if [[ $check == debian13 ]]; then
  source=$(cd "$(dirname "$0")/../.." && pwd)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  git -C "$source" ls-files -z -co --exclude-standard |
    tar -C "$source" --null -T - -cf "$work/source.tar"
  cat >"$work/quick-tests.sh" <<'INSIDE'
cd /src
unset XDG_RUNTIME_DIR DISPLAY WAYLAND_DISPLAY
scripts/build-and-run </dev/null >/out/run.txt 2>&1
scripts/build-windows >/out/build.log 2>&1 &&
  cmake --preset test >>/out/build.log 2>&1 &&
  cmake --build --preset test -j "$(nproc)" >>/out/build.log 2>&1 &&
  ctest --preset quick >/out/test.log 2>&1
echo $? >/out/status
INSIDE
  "${throwaway_root[@]}" --variant=apt \
    --include=cmake,make,g++,ocl-icd-opencl-dev,opencl-c-headers,opencl-clhpp-headers,libfmt-dev,nlohmann-json3-dev,libgtest-dev,pocl-opencl-icd,mesa-opencl-icd,mandoc,groff-base,g++-mingw-w64-x86-64-posix,wine64,tmux \
    --customize-hook='mkdir "$1/src" "$1/out"' \
    --customize-hook="tar-in '$work/source.tar' /src" \
    --customize-hook="copy-in '$work/quick-tests.sh' /" \
    --customize-hook='chroot "$1" sh /quick-tests.sh' \
    --customize-hook="copy-out /out '$work'" \
    trixie /dev/null "deb $mirror trixie main" >/dev/null
  cat "$work/out/test.log" 2>/dev/null || tail -n 30 "$work/out/build.log"
  grep -q ' Wine\.' "$work/out/test.log" || { echo "no test ran under Wine"; exit 1; }
  if grep -E 'warning:|CMake (Deprecation )?Warning' "$work/out/run.txt" \
      "$work/out/build.log"; then
    exit 1
  fi
  diff - "$work/out/run.txt" <<<"Device not found."
  exit "$(<"$work/out/status")"
fi

shopt -s nullglob
debs=("$dist"/vramcheck_*.deb)
archives=("$dist"/vramcheck-*-linux-*.tar.gz)
zips=("$dist"/vramcheck-*-win64.zip)
[[ ${#debs[@]} -gt 0 || ${#archives[@]} -gt 0 || ${#zips[@]} -gt 0 ]] ||
  Skip "no release in $dist: run scripts/build-release first"
if [[ ${#debs[@]} -ne 2 || ${#archives[@]} -ne 2 || ${#zips[@]} -ne 1 ]]; then
  echo "$dist holds ${#debs[@]} packages, ${#archives[@]} Linux archives" \
    "and ${#zips[@]} Windows archives, not 2, 2 and 1"
  exit 1
fi
deb=$(realpath "$dist"/vramcheck_*_amd64.deb)
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

# The unpacked folder of the archive for ARCH, after checking that it holds
# exactly the programs, their manual pages, the benchmark, the job array's
# sbatch file and Slurm hooks, the README and the licence.
Unpack() {
  local archive=("$dist"/vramcheck-*-linux-"$1".tar.gz) top
  top=$(basename "${archive[0]}" .tar.gz)
  tar -xzf "${archive[0]}" -C "$work"
  diff <(cd "$work" && find "./$top" -type f | sort) \
    <(printf "./$top/%s\n" LICENSE README.md gpu-check gpu-check.1 \
      vramcheck vramcheck-array.sbatch vramcheck-epilog vramcheck-healthcheck \
      vramcheck.1 vramcheck_bench) >&2 ||
    return 1
  echo "$work/$top"
}

# Fails unless ELF file $1 is for the CPU architecture $2.
IsFor() {
  local found
  found=$(readelf -h "$1" | sed -n 's/^ *Machine: *//p')
  [[ $found == "${machine[$2]}" ]] || { echo "$1 is for $found, not $2"; return 1; }
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
    diff <(cut -c67- "$dist/SHA256SUMS") \
      <(cd "$dist" && find . -type f ! -name SHA256SUMS -printf '%P\n' |
        LC_ALL=C sort)
    (cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS)
    ;;
  depends)
    for package in "${debs[@]}"; do
      architecture=$(dpkg-deb -f "$package" Architecture)
      depends=$(dpkg-deb -f "$package" Depends)
      echo "$(basename "$package"): Depends: $depends"
      [[ $depends == "libc6 (>= 2.17), ocl-icd-libopencl1 | libopencl1" ]]
      dpkg-deb --fsys-tarfile "$package" | tar -xO ./usr/bin/vramcheck \
        >"$work/vramcheck"
      IsFor "$work/vramcheck" "$architecture"
    done
    ;;
  portable)
    for arch in x86_64 aarch64; do
      folder=$dist/gpu-check-linux-$arch
      unpacked=$(Unpack "$arch")
      for file in "$unpacked/vramcheck" "$unpacked/gpu-check" \
          "$folder/vramcheck" "$folder/gpu-check" "$folder/vramcheck_bench" \
          "$folder/libOpenCL.so.1"; do
        echo "$file:"
        IsFor "$file" "$arch"
        needed=$(objdump -p "$file" | awk '$1 == "NEEDED" { print $2 }')
        echo "  NEEDED:" $needed
        # glibc, its dynamic loader and the OpenCL loader: no C++ runtime.
        if grep -vxE 'lib(c|m|dl|pthread|rt)\.so\.[0-9]|libOpenCL\.so\.1|ld-linux-(x86-64\.so\.2|aarch64\.so\.1)' \
            <<<"$needed"; then
          exit 1
        fi
        if objdump -T "$file" | grep -E 'GLIBCXX_|CXXABI_|GCC_'; then
          exit 1
        fi
        AtMost "$file" GLIBC 2.17
      done
    done
    ;;
  archive_runs)
    folder=$(Unpack x86_64)
    (cd "$folder" && RunsToFirstStatusLine ./vramcheck)
    ;;
  aarch64_runs)
    command -v qemu-aarch64 >/dev/null || Skip "qemu-aarch64 is not installed"
    [[ -f $simgpu_aarch64 ]] || Skip "no simulated GPU for aarch64:" \
      "cmake --build --preset linux-aarch64 --target simgpu"
    # No loader in the tree: the archive's program uses the folder's.
    mmdebstrap --quiet --arch=arm64 --variant=extract --include=libpocl2 \
      bullseye "$work/tree" "deb $mirror bullseye main"
    mkdir "$work/vendors"
    echo "$simgpu_aarch64" >"$work/vendors/simgpu.icd"
    for program in "$(Unpack aarch64)/vramcheck" \
        "$dist/gpu-check-linux-aarch64/vramcheck"; do
      status=0
      LD_LIBRARY_PATH=$dist/gpu-check-linux-aarch64 \
        OCL_ICD_VENDORS=$work/vendors qemu-aarch64 -L "$work/tree" \
        "$program" <<<"0" >"$work/stdout" 2>"$work/stderr" || status=$?
      diff - "$work/stdout" <<'DIALOGUE'
Device Number: Device Name
0: Simulated GPU
How many memory blocks will you test? (max: 8 blocks)
DIALOGUE
      diff - "$work/stderr" <<<"Invalid memory blocks number."
      ((status == 1))
    done
    # gpu-check starts, with the folder's loader beside it.
    for program in "$(Unpack aarch64)/gpu-check" \
        "$dist/gpu-check-linux-aarch64/gpu-check"; do
      LD_LIBRARY_PATH=$dist/gpu-check-linux-aarch64 qemu-aarch64 \
        -L "$work/tree" "$program" --version | grep -x 'gpu-check [0-9.]*'
    done
    ;;
  lintian)
    lintian --fail-on error,warning "${debs[@]}"
    ;;
  debian11)
    # The package first, which brings the loader but no driver; then PoCL.
    "${throwaway_root[@]}" --variant=apt \
      --customize-hook="copy-in '$deb' /tmp" \
      --customize-hook="chroot \"\$1\" apt-get install -y -qq '/tmp/${deb##*/}' >/dev/null" \
      --customize-hook='chroot "$1" vramcheck </dev/null 2>"$1/no-driver" || true' \
      --customize-hook='chroot "$1" apt-get install -y -qq pocl-opencl-icd >/dev/null' \
      --customize-hook='chroot "$1" vramcheck </dev/null 2>"$1/pocl" || true' \
      --customize-hook="copy-out /no-driver /pocl '$work'" \
      bullseye /dev/null "deb $mirror bullseye main" >/dev/null
    diff - "$work/no-driver" <<<"$no_driver_line"
    diff - "$work/pocl" <<<"Device not found."
    ;;
  gpu_check_root)
    simgpu=$(<"$vendors/simgpu.icd")
    # The simulated GPU is built by this machine, for its C library and C++
    # runtime (Debian 13's g++ 14 needs a newer one than Debian 12 has).
    { AtMost "$simgpu" GLIBC 2.36 && AtMost "$simgpu" GLIBCXX 3.4.30; } ||
      Skip "the simulated GPU needs a newer glibc or libstdc++ than Debian 12's"
    # PoCL, which the simulated GPU runs its work on, brings no loader.
    "${throwaway_root[@]}" --variant=minbase --include=libpocl2 \
      --customize-hook="copy-in '$dist/gpu-check-linux-x86_64' '$simgpu' /opt" \
      --customize-hook='mkdir -p "$1/etc/OpenCL/vendors"' \
      --customize-hook='echo /opt/libsimgpu.so >"$1/etc/OpenCL/vendors/simgpu.icd"' \
      --customize-hook='chroot "$1" find / -xdev -name "libOpenCL.so*" >"$1/loaders"' \
      --customize-hook='chroot "$1" env SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 GPU_CHECK_SECONDS=10 /opt/gpu-check-linux-x86_64/gpu-check /out >"$1/out.txt" 2>&1; echo $? >"$1/status"' \
      --customize-hook="copy-out /loaders /out.txt /status '$work'" \
      bookworm /dev/null "deb $mirror bookworm main" >/dev/null
    # Every loader there is the folder's own.
    cat "$work/loaders"
    [[ -s $work/loaders ]] &&
      ! grep -v '^/opt/gpu-check-linux-x86_64/' "$work/loaders"
    cat "$work/out.txt"
    [[ $(<"$work/status") == 0 ]]
    ;;
  image)
    for program in podman runc umoci; do
      command -v "$program" >/dev/null ||
        Skip "$program is not installed (packages podman, runc, umoci)"
    done
    images=("$dist"/vramcheck-*-gpu-check-image-x86_64.tar)
    [[ ${#images[@]} -eq 1 ]] || { echo "not one image in $dist"; exit 1; }
    simgpu=$(<"$vendors/simgpu.icd")
    { AtMost "$simgpu" GLIBC 2.36 && AtMost "$simgpu" GLIBCXX 3.4.30; } ||
      Skip "the simulated GPU needs a newer glibc or libstdc++ than Debian 12's"
    # A storage of the test's own, gone with it.
    podman=(podman --root "$work/storage" --runroot "$work/run"
      --storage-driver vfs --cgroup-manager=cgroupfs --runtime runc)
    run=(run --rm --network none --ulimit nofile=1024:1024
      --ulimit nproc=1024:1024)
    mkdir "$work/oci" "$work/out"
    "${podman[@]}" "${run[@]}" "oci-archive:${images[0]}" --version \
      >"$work/version" 2>&1 ||
      Skip "podman cannot run a container here: $(tail -n 1 "$work/version")"
    grep -q '^gpu-check [0-9.]*$' "$work/version"
    "${throwaway_root[@]}" --variant=minbase --include=libpocl2 bookworm \
      "$work/pocl.tar" "deb $mirror bookworm main"
    tar -xf "${images[0]}" -C "$work/oci"
    umoci raw add-layer --image "$work/oci:gpu-check" --tag test \
      "$work/pocl.tar" >/dev/null
    tar -cf "$work/test.tar" -C "$work/oci" .
    status=0
    "${podman[@]}" "${run[@]}" -e GPU_CHECK_HOST=node-7 -e GPU_CHECK_SECONDS=5 \
      -e SIMGPU_DEVICE0_GLOBAL_MEM_SIZE=0x18000008 \
      -v "$simgpu:/usr/lib/x86_64-linux-gnu/libnvidia-opencl.so.1:ro" \
      -v "$work/out:/results" "oci-archive:$work/test.tar:test" \
      >"$work/check.log" 2>&1 ||
      status=$?
    cat "$work/check.log"
    [[ $status == 0 ]]
    grep -qx 'drivers: registered /usr/lib/x86_64-linux-gnu/libnvidia-opencl.so.1' \
      "$work/out/system.txt"
    grep -q '"host":"node-7"' "$work/out/results/"*.jsonl
    ;;
  reproducible)
    source=$(cd "$(dirname "$0")/../.." && pwd)
    commit=$(git -C "$source" rev-parse HEAD)
    grep -q "commit $commit," "$dist/build-environment.txt" ||
      Skip "$dist was built from another commit than $commit"
    [[ -z $(git -C "$source" status --porcelain) ]] ||
      Skip "the working tree has changes that a clone would not have"
    git clone -q "$source" "$work/elsewhere/vramcheck"
    if ! "$work/elsewhere/vramcheck/scripts/build-release" \
        >"$work/build.log" 2>&1; then
      tail -n 30 "$work/build.log"
      exit 1
    fi
    diff "$dist/SHA256SUMS" "$work/elsewhere/vramcheck/dist/SHA256SUMS"
    ;;
  install)
    [[ $(id -u) -eq 0 ]] || Skip "installing the package needs root"
    if [[ ! -e $marker ]]; then
      # One run at a time on this machine: another build tree's checks may
      # be installing or purging the same package now.
      mkdir "$claim" 2>/dev/null ||
        Skip "another test run holds the package ($claim): not sharing it"
      if dpkg-query -W -f='${Status}' vramcheck 2>/dev/null | grep -q installed; then
        rmdir "$claim"
        Skip "a vramcheck package was installed before: not replacing it"
      fi
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
    # gpu-check finds the benchmark that the package put in libexec.
    if ! OCL_ICD_VENDORS=$vendors GPU_CHECK_SECONDS=2 /usr/bin/gpu-check \
        "$work/check" >"$work/check.log" 2>&1; then
      cat "$work/check.log"
      exit 1
    fi
    ;;
  manual)
    for page in vramcheck gpu-check; do
      [[ $(man -w "$page") == "/usr/share/man/man1/$page.1.gz" ]]
    done
    ;;
  remove)
    "${apt_get[@]}" purge vramcheck >/dev/null
    rm "$marker"
    rm -rf "$claim"
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
