#!/usr/bin/env bash
# Installs from Debian's packages what a step needs and this machine lacks
# (as root, or through sudo): nothing is installed that is already there.
#
#   bash scripts/install-packages.sh build|test|ci
#     build: the compiler, the build tools and the libraries the build reads
#            (GoogleTest, as the default build has the tests; the JSON reader;
#            libpng for frame-snr's error maps),
#            for the programs and the demo;
#     test:  and what the tests use (ffmpeg, man, mpmath, GNU parallel, pkg-config,
#            pybind11, numpy and pytest for the Python module, scipy and
#            scikit-image as models of the measures, the SVG, JSON and
#            package checkers);
#     ci:    and git, the sanitizer and fuzzing runtime, the micro-benchmark
#            library, the style checker, the 64-bit Arm cross-compiler and
#            emulator, debootstrap for the fresh-machine check, and Slurm, munge
#            and an ssh server for the sharded runs on real job runners.
set -euo pipefail
level=${1:-build}
packages=(cmake ninja-build g++ libgtest-dev nlohmann-json3-dev libpng-dev)
case "$level" in
  build) ;;
  test | ci)
    packages+=(ffmpeg man-db pkg-config librsvg2-bin libxml2-utils python3 python3-mpmath parallel lintian file
      python3-dev python3-numpy python3-pytest python3-pybind11 pybind11-dev python3-scipy python3-skimage)
    if [ "$level" = ci ]; then
      packages+=(git clang libclang-rt-14-dev clang-format libbenchmark-dev g++-aarch64-linux-gnu
        qemu-user debootstrap slurmctld slurmd slurm-client munge openssh-server openssh-client)
    fi
    ;;
  *) echo "usage: $0 build|test|ci" >&2; exit 2 ;;
esac
need=()
for pkg in "${packages[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)
echo "installing from Debian's packages: ${need[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
