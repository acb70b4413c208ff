#!/usr/bin/env bash
# Installs the Debian packages a job needs and this machine lacks, saying what it installs.
#   scripts/install-deps.sh demo   what building the module and the host needs
#   scripts/install-deps.sh test   everything the whole test run needs
set -euo pipefail
demo=(cmake make g++ libcli11-dev libspng-dev zlib1g-dev pkg-config)
test=("${demo[@]}" libgtest-dev libbenchmark-dev python3 python3-pefile
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 clang libclang-rt-14-dev llvm-14 valgrind
      gcovr qemu-user gcc-i686-linux-gnu g++-i686-linux-gnu binutils-i686-linux-gnu zip)
case "${1:-test}" in
  demo) wanted=("${demo[@]}") ;;
  test) wanted=("${test[@]}") ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
echo "installing Debian packages: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
