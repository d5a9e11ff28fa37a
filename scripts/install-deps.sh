#!/usr/bin/env bash
# Installs the Debian 12 (bookworm) packages the client library needs to build, run and test:
# ZeroC Ice 3.7 (headers/libs, slice2cpp, Glacier2 router, IceGrid registry/node, admin tools, Python binding),
# Boost 1.74 (-dev packages only), zlib, lz4, zstd, SWIG 4.1 + python3-dev, pytest, nlohmann-json,
# GoogleTest/GoogleMock, Google Benchmark, valgrind, clang with libFuzzer.
# Idempotent: if everything is already installed it does nothing (no apt-get update, no network).
# Must run as root (or via sudo). Verified on Debian 12.11.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake pkg-config
  # ZeroC Ice 3.7.8
  libzeroc-ice-dev       # headers /usr/include/{Ice,IceUtil,Glacier2,IceGrid,...}, libIce.so, libGlacier2.so, ...
  zeroc-ice-compilers    # slice2cpp, slice2py, ...
  zeroc-ice-slice        # /usr/share/ice/slice/*.ice
  zeroc-glacier2         # glacier2router
  zeroc-icegrid          # icegridregistry, icegridnode
  zeroc-ice-utils        # icegridadmin
  python3-zeroc-ice      # `import Ice` for /usr/bin/python3 (Python test peers with Ice.loadSlice)
  # Boost 1.74 (separate -dev packages; libboost-all-dev is not needed)
  libboost-dev libboost-serialization-dev libboost-filesystem-dev libboost-system-dev
  libboost-iostreams-dev libboost-regex-dev libboost-thread-dev libboost-program-options-dev
  zlib1g-dev
  # compression
  liblz4-dev libzstd-dev
  # command-line codecs and network tools used by the tests
  lz4 zstd gzip iproute2 util-linux
  # Python extension via SWIG (build against Debian's /usr/bin/python3)
  swig python3-dev python3-pytest
  # JSON (header-only)
  nlohmann-json3-dev
  # tests / tooling
  googletest libgtest-dev libgmock-dev libbenchmark-dev valgrind
  # OpenSSL: the reference MD5 of the toolkit benchmark
  libssl-dev
  # libFuzzer targets (scripts/run-fuzz.sh): clang 14 and its fuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # the format check of scripts/run-tests.sh
  clang-format
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed"
  exit 0
fi

echo "install-deps: installing ${#missing[@]} package(s): ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

# sanity checks (fail loudly if something is off)
command -v slice2cpp >/dev/null
command -v glacier2router >/dev/null
command -v icegridregistry >/dev/null
command -v icegridnode >/dev/null
command -v icegridadmin >/dev/null
command -v swig >/dev/null
command -v clang++ >/dev/null
command -v clang-format >/dev/null
/usr/bin/python3 -c 'import Ice, pytest' >/dev/null
test -f /usr/include/Ice/Ice.h
test -f /usr/include/boost/version.hpp
test -f /usr/include/nlohmann/json.hpp
echo "install-deps: done"
