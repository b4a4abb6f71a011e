#!/usr/bin/env bash
# CI's package stage, as root: builds the Debian package and checks it (its
# files, lintian, the desktop entry, the metainfo), installs it with apt-get,
# tries the installed programs as an ordinary user with a fresh, empty HOME
# under Xvfb, and removes the package again. A copy of the package that is
# already installed is purged first.
#   package-check.sh [DIR]   (default DIR: build)
# The window is only opened and a plan saved: the delivered plan names real
# web sites, so no test run is ever started there. Ping goes to 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-check.sh: run it as root: it installs the package" >&2; exit 2; }
started=$SECONDS
dir=${1:-build}
user=orvel-ci
desktop=/usr/share/applications/org.orvel.Orvel.desktop
metainfo=/usr/share/metainfo/org.orvel.Orvel.metainfo.xml

step() { echo "-- $*"; }
fail() { echo "package-check: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' orvel 2>/dev/null | grep -q 'install ok installed'; }

# What the package holds, and nothing else: nothing built for the tests may
# leak in.
expected_files() {
    echo /usr/bin/orvel /usr/bin/orvel-cli
    echo /usr/share/orvel/Projects.dat /usr/share/orvel/DestLists.ini
    echo "$desktop" "$metainfo"
    for size in 16 22 24 32 48 64 128 256; do
        echo "/usr/share/icons/hicolor/${size}x${size}/apps/orvel.png"
    done
    echo /usr/share/icons/hicolor/scalable/apps/orvel.svg
    echo /usr/share/man/man1/orvel.1.gz /usr/share/man/man1/orvel-cli.1.gz
    echo /usr/share/doc/orvel/copyright /usr/share/doc/orvel/changelog.gz
}

check_package_file() {
    local deb=$1
    step "contents of $(basename "$deb")"
    diff <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||' | sort) \
         <(expected_files | tr ' ' '\n' | sort) || fail "the package holds other files than the install rules'"
    dpkg-deb -f "$deb" Depends | grep -q 'libcap2-bin' || fail "no dependency on libcap2-bin"
    dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "no dependencies from dpkg-shlibdeps"
    for library in libqt6charts6 libsqlite3-0 libmicrohttpd12; do  # the history window, History.db, /metrics
        dpkg-deb -f "$deb" Depends | grep -q "$library" || fail "no dependency on $library"
    done
    local unpacked
    unpacked=$(mktemp -d)
    dpkg-deb -x "$deb" "$unpacked"
    for program in orvel orvel-cli; do
        file "$unpacked/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
    done
    rm -rf "$unpacked"

    step "lintian (errors fail; warnings are listed)"
    lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true
    lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
}

install_package() {
    local deb=$1 folder
    if installed; then
        step "purging the orvel package already installed"
        dpkg --purge orvel >/dev/null
    fi
    step "apt-get install ./$(basename "$deb")"
    # apt reads the file as its own user _apt.
    folder=$(mktemp -d)
    chmod 755 "$folder"
    cp "$deb" "$folder"/
    chmod 644 "$folder"/*.deb
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$folder/$(basename "$deb")" >/dev/null
    rm -rf "$folder"
    installed || fail "the package did not install"

    step "installed files"
    for program in /usr/bin/orvel /usr/bin/orvel-cli; do
        getcap "$program" | grep -q 'cap_net_raw=ep' || fail "$program has no cap_net_raw"
    done
    desktop-file-validate "$desktop"
    appstreamcli validate --no-net "$metainfo"
    MANPAGER=cat MANWIDTH=80 man orvel-cli 2>/dev/null | grep -q 'PING RIGHTS' || fail "man orvel-cli shows no page"
    MANPAGER=cat MANWIDTH=80 man orvel 2>/dev/null | grep -q 'FILES' || fail "man orvel shows no page"
}

# Runs as the ordinary user, under xvfb-run, with nothing in HOME.
user_checks() {
    set -euo pipefail
    local data=$HOME/.local/share/orvel
    local log scratch
    log=$(mktemp)
    scratch=$(mktemp -d)
    [ -z "$(ls -A "$HOME")" ] || fail "HOME is not empty"

    # start_window TITLE: starts the installed window and waits for TITLE.
    start_window() {
        orvel >>"$log" 2>&1 &
        pid=$!
        window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Orvel' | head -n 1) ||
            { cat "$log" >&2; fail "the window of orvel did not show"; }
        wait_for_title "$1"
    }
    wait_for_title() {
        local title=""
        for _ in $(seq 100); do
            title=$(xdotool getwindowname "$window")
            [ "$title" = "$1" ] && return 0
            sleep 0.1
        done
        cat "$log" >&2
        fail "the window's title is \"$title\", not \"$1\""
    }
    stop_window() {
        kill "$pid"
        wait "$pid" || true
    }

    step "the installed orvel opens with the delivered plan, seeded into $data"
    start_window "Orvel网络测速器 [当前测速方案--常见网站]"
    cmp -s "$data/Projects.dat" /usr/share/orvel/Projects.dat || fail "$data/Projects.dat is not the delivered plan"
    local class
    class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*= ".*", "\(.*\)"$/\1/p')
    echo "WM_CLASS class of the window: $class"
    grep -qx "StartupWMClass=$class" /usr/share/applications/org.orvel.Orvel.desktop ||
        fail "the desktop entry's StartupWMClass is not the window's class \"$class\""

    step "方案 > 另存方案为 saves the plan as ci-saved into $data"
    xdotool windowfocus --sync "$window"
    xdotool key --delay 200 alt+f a
    local dialog=""
    for _ in $(seq 50); do
        dialog=$(xdotool search --onlyvisible --pid "$pid" | grep -vx "$window" | head -n 1 || true)
        [ -n "$dialog" ] && break
        sleep 0.2
    done
    [ "$(xdotool getwindowname "$dialog" 2>/dev/null)" = "另存测速方案为..." ] || fail "the save-as dialog did not show"
    xdotool windowfocus --sync "$dialog"
    xdotool type --delay 50 ci-saved
    xdotool key alt+y
    wait_for_title "Orvel网络测速器 [当前测速方案--ci-saved]"
    grep -q '^ci-saved=' "$data/Projects.dat" || fail "ci-saved is not in $data/Projects.dat"
    stop_window

    step "a new start reopens ci-saved"
    start_window "Orvel网络测速器 [当前测速方案--ci-saved]"
    stop_window

    step "orvel-cli --list"
    orvel-cli --list | tee "$scratch/list"
    grep -qx '常见网站' "$scratch/list" && grep -qx 'ci-saved' "$scratch/list" || fail "orvel-cli --list misses a plan"

    step "orvel-cli pings 127.0.0.1 through its capability"
    printf 'lo=loopback^127.0.0.1^0\r\n' >"$scratch/Projects.dat"
    printf '[config]\r\nproject=lo\r\n' >"$scratch/DestLists.ini"
    orvel-cli --dir "$scratch" --format csv | tee "$scratch/ping.csv" || fail "orvel-cli could not ping 127.0.0.1"
    grep -q '^loopback,127\.0\.0\.1,0,Ping,done,' "$scratch/ping.csv" || fail "the Ping item did not answer"
    step "orvel-cli --path 127.0.0.1 through its capability"
    orvel-cli --path 127.0.0.1 -c 2 -i 50 --format csv | tee "$scratch/path.csv" ||
        fail "orvel-cli --path did not reach 127.0.0.1"
    grep -q '^1,127\.0\.0\.1,,0\.0,2,' "$scratch/path.csv" || fail "the path to 127.0.0.1 is not one answering hop"
    # A copy has no capability: where the user may open no ping socket either,
    # its Ping fails, so the capability is what made the run above work.
    local low high allowed=no
    read -r low high </proc/sys/net/ipv4/ping_group_range
    for group in $(id -G); do
        [ "$group" -ge "$low" ] && [ "$group" -le "$high" ] && allowed=yes
    done
    if [ "$allowed" = no ]; then
        cp /usr/bin/orvel-cli "$scratch/"
        if "$scratch/orvel-cli" --dir "$scratch" --format csv >/dev/null 2>&1; then
            fail "a copy without the capability pinged too: the check proves nothing"
        fi
        if "$scratch/orvel-cli" --path 127.0.0.1 -c 1 >/dev/null 2>"$scratch/path.err"; then
            fail "a copy without the capability traced a path"
        fi
        grep -q 'could open no ICMP socket' "$scratch/path.err" || fail "a trace without rights does not say why"
    else
        echo "(net.ipv4.ping_group_range lets this user ping anyway: the capability is not all that is tried)"
    fi
    rm -rf "$scratch" "$log"
}

deb=$(realpath "$(bash scripts/package.sh "$dir" | tail -n 1)")
check_package_file "$deb"

home=""
runtime=""
cleanup() {
    if id "$user" >/dev/null 2>&1; then
        userdel --force "$user" 2>/dev/null || true
    fi
    rm -rf "$home" "$runtime"
    if installed; then
        dpkg --purge orvel >/dev/null || true
    fi
}
trap cleanup EXIT

install_package "$deb"

step "as the ordinary user $user with a fresh HOME, under Xvfb"
if id "$user" >/dev/null 2>&1; then
    userdel --force "$user"
fi
home=$(mktemp -d /tmp/orvel-ci-home.XXXXXX)
runtime=$(mktemp -d /tmp/orvel-ci-run.XXXXXX)
useradd --no-create-home --home-dir "$home" --shell /bin/bash --user-group "$user"
chown "$user:" "$home" "$runtime"
chmod 700 "$home" "$runtime"
runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin \
    LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash -c "$(declare -f step fail user_checks); user_checks"

step "apt-get remove, then purge"
apt-get remove -y -q orvel >/dev/null
for path in /usr/bin/orvel /usr/bin/orvel-cli /usr/share/orvel "$desktop" "$metainfo" /usr/share/doc/orvel; do
    [ ! -e "$path" ] || fail "$path is left after apt-get remove"
done
# Purged only where remove left its configuration; apt-get cannot name a
# package no source holds.
if dpkg-query -W -f='${Status}' orvel 2>/dev/null | grep -q config-files; then
    dpkg --purge orvel >/dev/null
fi
! dpkg-query -W -f='${Status}' orvel 2>/dev/null | grep -q 'ok installed\|config-files' || fail "orvel is still known to dpkg"

echo "package-check: passed in $((SECONDS - started)) s"
