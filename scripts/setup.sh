#!/usr/bin/env bash
# Installs every Debian package Lumvane needs to build, run and test.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential python3 clang libclang-rt-14-dev cmake ninja-build ccache pkg-config git
  thrift-compiler libthrift-dev libboost-dev python3-thrift
  libssl-dev openssl libbz2-dev libargon2-dev libfmt-dev libcpp-httplib-dev
  nlohmann-json3-dev libicu-dev libzip-dev libsecret-1-dev libqrencode-dev libcurl4-openssl-dev
  qt6-base-dev qt6-connectivity-dev
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
  john-data libnss3-tools nghttp2-server gnome-keyring dbus dbus-x11
  curl wrk zip unzip xvfb procps
  trayer xdotool imagemagick xclip zbar-tools x11-utils xauth fonts-dejavu-core valgrind
)

# One question to dpkg for every package (one call per package took seconds). Packages it
# does not know at all are reported on standard error and simply stay missing.
declare -A installed=()
while read -r name status; do
  [ "$status" = "ii" ] && installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${PACKAGES[@]}" 2>/dev/null || true)
missing=()
for p in "${PACKAGES[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  # Another apt run (an automatic update, another build) may hold the lock: wait for it.
  APT_WAIT=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${APT_WAIT[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${APT_WAIT[@]}" install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
fi
