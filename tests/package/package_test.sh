#!/usr/bin/env bash
# Builds the .deb from the build tree given as $1 and checks what a user gets: the
# exact file list, a dependency for every library the miner links, and a miner
# that runs from the unpacked tree.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
expected="./usr/bin/ilvo-varnel-tlm
./usr/bin/tlm-bench
./usr/bin/tlm-hash
./usr/lib/systemd/system/ilvo-varnel-tlm.service
./usr/share/doc/ilvo-varnel-tlm/README.md
./usr/share/doc/ilvo-varnel-tlm/copyright
./usr/share/doc/ilvo-varnel-tlm/examples/config.json"
[ "$files" = "$expected" ] || fail "file list:
$files"

# Every shared library the miner needs belongs to a package the .deb depends on.
depends=$(dpkg-deb -f "$deb" Depends)
dpkg-deb -x "$deb" "$work/root"
miner="$work/root/usr/bin/ilvo-varnel-tlm"
for soname in $(objdump -p "$miner" | awk '$1 == "NEEDED" {print $2}'); do
  path=$(ldd "$miner" | awk -v s="$soname" '$1 == s {print $3}')
  [ -n "$path" ] || continue  # the dynamic loader, part of libc6
  package=$({ dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")"; } | head -n1 | cut -d: -f1)
  [[ ", $depends" == *", $package"* ]] || fail "$soname comes from $package, missing in Depends: $depends"
done

grep -q "^ExecStart=/usr/bin/ilvo-varnel-tlm " "$work/root/usr/lib/systemd/system/ilvo-varnel-tlm.service" ||
  fail "the unit does not run /usr/bin/ilvo-varnel-tlm"
# The example config is read and checked before --version is reached.
example="$work/root/usr/share/doc/ilvo-varnel-tlm/examples/config.json"
version=$("$miner" --config "$example" --version | tail -n 1) || fail "the packaged miner refuses the example config"
[ "$version" = "Ilvo Varnel TLM 1.1.0" ] || fail "--version printed: $version"
echo "package ok: $(basename "$deb") depends on $depends"
