#!/usr/bin/env bash
# Installs the Debian packages that are missing for what is asked:
#   setup.sh [build] [test] [fuzz] [package]     (default: build)
# build: build and run the programs; test: run the test suite and the
# benchmarks; fuzz: the clang fuzz targets; package: build, check and try the
# Debian package. As root it installs them; otherwise it uses sudo if there is
# one, and else names the missing packages and the command, and fails.
set -euo pipefail

declare -A group=(
    [build]="cmake ninja-build g++ pkg-config
             qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libcurl4-openssl-dev
             libgtest-dev libgmock-dev libssl-dev libsqlite3-dev libmicrohttpd-dev libcli11-dev nlohmann-json3-dev
             fonts-wqy-microhei qt6-translations-l10n scdoc librsvg2-bin"
    [test]="python3 iproute2 procps iputils-ping dnsutils curl openssl sqlite3 xvfb xauth util-linux dbus-daemon
            prometheus prometheus-blackbox-exporter fping nftables"
    [fuzz]="clang libclang-rt-14-dev"
    [package]="dpkg-dev file lintian desktop-file-utils appstream libcap2-bin man-db
               xvfb xauth xdotool x11-utils"
)

# Daemons these packages start and enable on install. The tests and
# benchmarks start their own, on loopback in namespaces of their own; the
# packaged ones would listen on every interface (9090, 9115) and come back at
# each boot, so what this script installs it stops and disables again.
declare -A services=(
    [prometheus]=prometheus
    [prometheus-blackbox-exporter]=prometheus-blackbox-exporter
)

wanted=()
for name in "${@:-build}"; do
    [ -n "${group[$name]:-}" ] || { echo "setup.sh: unknown group '$name' (build, test, fuzz, package)" >&2; exit 2; }
    # shellcheck disable=SC2206  # the lists are words
    wanted+=(${group[$name]})
done

# Stops and disables the services of the given packages (those that have
# any). With systemd running, systemctl does both; without it (a container),
# the init script stops the daemon it may have started, and systemctl and
# update-rc.d remove the links that would start it at boot. Each step may find
# nothing to do; none fails the set-up.
quiet_services() {
    local package service
    for package in "$@"; do
        service=${services[$package]:-}
        [ -n "$service" ] || continue
        if [ -d /run/systemd/system ]; then
            "${sudo[@]}" systemctl disable --now "$service.service" >/dev/null 2>&1 || true
        else
            if [ -x "/etc/init.d/$service" ]; then
                "${sudo[@]}" "/etc/init.d/$service" stop >/dev/null 2>&1 || true
            fi
            if command -v systemctl >/dev/null; then
                "${sudo[@]}" systemctl disable "$service.service" >/dev/null 2>&1 || true
            fi
        fi
        if command -v update-rc.d >/dev/null; then
            "${sudo[@]}" update-rc.d "$service" disable >/dev/null 2>&1 || true
        fi
        echo "Stopped and disabled the $service service (the tests start their own)"
    done
}

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

install=(apt-get install -y -q --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null; then
    sudo=(sudo)
else
    echo "setup.sh: these Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root (there is no sudo here), then run this again:" >&2
    echo "    apt-get update && ${install[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
if ! { "${sudo[@]}" apt-get update -q && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" "${install[@]}"; }; then
    echo "setup.sh: could not install: ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "    apt-get update && ${install[*]}" >&2
    exit 1
fi
quiet_services "${missing[@]}"
