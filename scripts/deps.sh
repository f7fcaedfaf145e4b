#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Needs root (or sudo) only when something is missing.
#   scripts/deps.sh          everything the full test run uses
#   scripts/deps.sh tool     only what building the tool needs
# Further package names on the command line are installed as well.
set -euo pipefail

# libisal-dev and zlib1g-dev (gzip: ISA-L inflates it, zlib where the build
# goes without ISA-L), libzstd-dev (zstd) and libarchive-dev (bzip2, xz) build
# the reading of compressed data files, nlohmann-json3-dev scorix-fit's JSON
# report, liblapack-dev the eigenpairs of its principal axis factoring,
# liblbfgsb-dev the bounded quasi-Newton search of its maximum likelihood.
packages=(cmake make g++ libeigen3-dev libarchive-dev libisal-dev zlib1g-dev libzstd-dev nlohmann-json3-dev
  liblapack-dev liblbfgsb-dev)
if [ "${1:-}" = tool ]; then
  shift
else
  # GoogleTest; the checks: leaks, man page lint, source layout, the Debian package, the
  # libFuzzer targets, the GNU parallel recipe (rsync carries its files);
  # the compressors make the compressed inputs of the tests; chromium
  # renders scorix-fit's web page, whose HTML python3-html5lib checks.
  packages+=(libgtest-dev libgmock-dev valgrind mandoc groff-base dpkg-dev clang-14 libclang-rt-14-dev clang-format-14 parallel rsync
    gzip bzip2 xz-utils zstd chromium python3-html5lib)
fi
packages+=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
