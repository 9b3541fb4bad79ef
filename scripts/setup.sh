#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks, builds the program, then
#   run   starts it,
#   test  runs the whole test suite against a throw-away MariaDB server under a virtual display,
#   build only builds.
set -euo pipefail

cd "$(dirname "$0")/.."
action=${1:-run}
build_dir=${BUILD_DIR:-build}

packages=(
  cmake g++ make pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5sql5-mysql
  qtwebengine5-dev qtmultimedia5-dev qttools5-dev qttools5-dev-tools qttranslations5-l10n
  qt5-image-formats-plugins
  zlib1g-dev sqlite3 libsqlite3-dev
  xvfb xauth mariadb-server mariadb-client dbus-daemon
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# The description editor's packages come through npm; a Node.js installation that brings its
# own npm (and conflicts with Debian's npm package) serves as well.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# The description editor (TinyMCE and its German language pack), at the versions in
# web/package-lock.json.
npm ci --prefix web --no-audit --no-fund

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAPP_WERROR=ON
cmake --build "$build_dir" -j"$(nproc)"

# The description editor's web engine refuses to start its sandbox as root.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi

case "$action" in
  run)
    exec "$build_dir/zerire3"
    ;;
  test)
    exec scripts/with-mariadb.sh xvfb-run -a -s "-screen 0 1600x1200x24" \
      ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
    ;;
  build)
    ;;
  *)
    echo "usage: $0 [run|test|build]" >&2
    exit 2
    ;;
esac
