#!/usr/bin/env bash
# Installs the build tree into scratch prefixes: the delivered plan lands in
# share/orvel, and a reinstall into ~/.local keeps the user's own store there.
#   test_Install.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
delivered=$(dirname "$0")/../data/Projects.dat

install_into() {  # prefix, then the environment of the installing user
    local prefix=$1
    shift
    env "$@" cmake --install "$build" --prefix "$prefix" >/dev/null
}
fail() { echo "test_Install: $*" >&2; exit 1; }

install_into "$scratch/usr" HOME="$scratch/home" XDG_DATA_HOME=
[ -x "$scratch/usr/bin/orvel" ] && [ -x "$scratch/usr/bin/orvel-cli" ] || fail "programs not in bin/"
cmp -s "$delivered" "$scratch/usr/share/orvel/Projects.dat" || fail "delivered plan not in share/orvel"
[ -s "$scratch/usr/share/man/man1/orvel-cli.1.gz" ] || fail "no man page"

# Under ~/.local, share/orvel is the user's store: a reinstall keeps it.
local_prefix="$scratch/home/.local"
install_into "$local_prefix" HOME="$scratch/home" XDG_DATA_HOME=
echo "the user's plans" > "$local_prefix/share/orvel/Projects.dat"
install_into "$local_prefix" HOME="$scratch/home" XDG_DATA_HOME=
grep -q "the user's plans" "$local_prefix/share/orvel/Projects.dat" || fail "reinstall wrote over the user's store"

# Where the data folder lies elsewhere, the delivered plan is brought up to date.
install_into "$local_prefix" HOME="$scratch/home" XDG_DATA_HOME="$scratch/elsewhere"
cmp -s "$delivered" "$local_prefix/share/orvel/Projects.dat" || fail "delivered plan not refreshed"
# A staged install (as packaging does) puts everything under DESTDIR once.
install_into /usr HOME="$scratch/home" XDG_DATA_HOME= DESTDIR="$scratch/stage"
cmp -s "$delivered" "$scratch/stage/usr/share/orvel/Projects.dat" || fail "staged install misplaced the plan"
echo "test_Install: passed"
