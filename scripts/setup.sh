#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
set -euo pipefail
packages=(build-essential cmake pkg-config libxml2-dev libxml2-utils libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
          locales clang libclang-rt-14-dev ccache
          libpq-dev postgresql postgresql-common libxlsxwriter-dev libzip-dev libcsv-dev
          python3-dev pybind11-dev python3-pytest python3-openpyxl libjemalloc-dev)
# locales for the decimal-comma test, clang for scripts/fuzz.sh, ccache for rebuilds, the server for the
# server ledger's tests; xlsxwriter, zip and csv for spreadsheets; Python, pybind11 and pytest for the Python package,
# openpyxl to read our workbooks as another program does;
# jemalloc for the tool's allocations
missing=()
# httplib for `morvent serve`; chromium with its driver, selenium and a Chinese font for the page's browser test
packages+=(libcpp-httplib-dev chromium chromium-driver python3-selenium fonts-wqy-microhei)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
