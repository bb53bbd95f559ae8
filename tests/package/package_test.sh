#!/usr/bin/env bash
# Runs the README's service section as written (as root: no sudo), from the .deb of
# the build tree $1 to the purge, checking what each command leaves. In namespaces of
# its own, /etc, /usr, /var and the build tree are copy-on-write layers, /run and the
# network are empty, and the test is the first process: whatever ends it (a failure,
# a kill) ends all it started, and the machine keeps nothing of it.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
build=$(realpath "$1")
source=$(realpath "$(dirname "$0")/../..")
if [ "${TLM_PACKAGE_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "skipped: installing a package needs root"; exit 77; }
  unshare --mount --pid --net --fork true 2>/dev/null ||
    { echo "skipped: this machine allows no private namespaces to install the package in"; exit 77; }
  # One run at a time on a machine; the lock is dpkg's directory, so no file stays.
  exec 9</var/lib/dpkg
  flock -w 600 9 || fail "another package test held the lock for 10 minutes"
  TLM_PACKAGE_NAMESPACE=1 exec unshare --mount --pid --net --fork --kill-child --mount-proc "$0" "$@"
fi
mount -t tmpfs run /run
ip link set lo up
work=/run/package-test
for dir in /etc /usr /var "$build"; do
  layer=$work/layers/${dir//\//_}
  mkdir -p "$layer/upper" "$layer/work"
  mount -t overlay overlay -o "lowerdir=$dir,upperdir=$layer/upper,workdir=$layer/work" "$dir"
done
unit=/usr/lib/systemd/system/ilvo-varnel-tlm.service
machine_files() {  # all but dpkg's and apt's own books
  find /etc /usr /var -xdev -not -path '/var/lib/dpkg/*' -not -path '/var/log/*' -not -path '/var/cache/*' \
    -not -path '/var/lib/apt/*' | sort
}
wait_for() {  # a condition, checked every 0.1 s for at most 60 s; else fails with a message and a log
  for _ in $(seq 600); do eval "$1" && return; sleep 0.1; done
  fail "$2: $(cat "$3")"
}
# Under apt_run the maintainer scripts find systemd running, and Debian's policy hook
# records each service action they ask for and declines it; apt_run prints them.
printf '#!/bin/sh\necho "$1 $2" >>%s\nexit 101\n' "$work/actions" >/usr/sbin/policy-rc.d
chmod 755 /usr/sbin/policy-rc.d
apt_run() {
  : >"$work/actions"
  mkdir -p /run/systemd/system
  eval "$1" < <(yes) >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "$1"; }
  rmdir /run/systemd/system
  cat "$work/actions"
}
machine_files >"$work/before"
"$build/tools/tlm-testpool/tlm-testpool" --port 0 >"$work/pool.log" 2>&1 &
mkdir "$work/checkout" && ln -s "$build" "$work/checkout/build" && cd "$work/checkout"
while IFS= read -r line; do
  run=${line#sudo }
  run=${run//_amd64.deb/_$(dpkg --print-architecture).deb}
  case "$line" in
    "cmake -S . -B build "*) ;;  # the suite has built the tree
    "(cd build && cpack -G DEB)") eval "$run" >"$work/cpack.log" 2>&1 || fail "$line: $(cat "$work/cpack.log")" ;;
    "sudo apt install ./build/"*)
      deb=${run#apt install }
      calls=$(apt_run "$run")
      [ "$calls" = "ilvo-varnel-tlm.service start" ] || fail "a first install asked systemd for: $calls"
      files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | xargs)
      doc=./usr/share/doc/ilvo-varnel-tlm
      expected="./usr/bin/ilvo-varnel-tlm ./usr/bin/tlm-bench ./usr/bin/tlm-hash .$unit"
      expected+=" $doc/README.md $doc/copyright $doc/examples/config.json ./usr/share/man/man1/ilvo-varnel-tlm.1.gz"
      [ "$files" = "$expected" ] || fail "file list: $files"
      # Every shared library the miner needs belongs to a package the .deb depends on.
      depends=$(dpkg-deb -f "$deb" Depends)
      for soname in $(objdump -p /usr/bin/ilvo-varnel-tlm | awk '$1 == "NEEDED" {print $2}'); do
        path=$(ldd /usr/bin/ilvo-varnel-tlm | awk -v s="$soname" '$1 == s {print $3}')
        [ -n "$path" ] || continue  # the dynamic loader, part of libc6
        package=$({ dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")"; } | head -n1 | cut -d: -f1)
        [[ ", $depends" == *", $package"* ]] || fail "$path comes from $package, missing in Depends: $depends"
      done
      systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit" ;;
    "man ilvo-varnel-tlm")
      # Every option of the miner's --help has its entry under OPTIONS.
      page=$(export MANPAGER=cat MANWIDTH=200; eval "$run" 2>&1) || fail "$line: $page"
      options=$(sed -n '/^OPTIONS/,/^CONFIG FILE/p' <<<"$page")
      listed=$(ilvo-varnel-tlm --help | grep -oE '^ +(-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+')
      [ "$(wc -l <<<"$listed")" -ge 10 ] || fail "no options in ilvo-varnel-tlm --help: $listed"
      for option in $listed; do
        grep -qE -- "^ +(-[a-z], )?$option( |$)" <<<"$options" || fail "the manual page has no $option: $options"
      done ;;
    "sudo install -m 600 "*) eval "$run" || fail "$line" ;;
    "sudoedit /etc/ilvo-varnel-tlm/config.json")
      wait_for 'grep -q "listening on" "$work/pool.log"' "no test pool" "$work/pool.log"
      port=$(grep -o -m1 'listening on 127.0.0.1:[0-9]*' "$work/pool.log" | cut -d: -f2)
      sed -i -e 's/"YOUR_TALMIC_ADDRESS"/"RTERJMywUCP7mVk3yNv3G1GZfek7heHvpr"/' \
        -e "s|\"stratum+tcp://pool.ilvo-varnel.io:3352\"|\"stratum+tcp://127.0.0.1:$port\"|" /etc/ilvo-varnel-tlm/config.json ;;
    "sudo systemctl enable --now ilvo-varnel-tlm")
      # Enabling works on the unit files; starting needs systemd, which is not here.
      ! eval "$run" >"$work/enable.log" 2>&1 || fail "systemctl started a service without systemd"
      grep -q "System has not been booted with systemd" "$work/enable.log" || fail "$(cat "$work/enable.log")"
      [ -L /etc/systemd/system/multi-user.target.wants/ilvo-varnel-tlm.service ] || fail "not enabled"
      # Then what systemd does, short of its sandbox: condition, runtime directory and
      # credential for an unprivileged user, ExecStart split at blanks, at the unit's Nice.
      [ -f "$(sed -n 's/^ConditionPathExists=//p' "$unit")" ] || fail "the unit's condition does not hold"
      install -d -o nobody -m 755 "/run/$(sed -n 's/^RuntimeDirectory=//p' "$unit")"
      IFS=: read -r name path < <(sed -n 's/^LoadCredential=//p' "$unit")
      install -D -o nobody -m 400 "$path" "$work/credentials/$name"
      command=$(sed -n 's/^ExecStart=//p' "$unit")
      nice -n "$(sed -n 's/^Nice=//p' "$unit")" setpriv --reuid=nobody --regid=nogroup --clear-groups \
        ${command//'${CREDENTIALS_DIRECTORY}'/$work/credentials} </dev/null >"$work/service.log" 2>&1 &
      service=$! ;;
    "sudo journalctl -u ilvo-varnel-tlm -f") ;;  # no journal here: the service's output is read instead
    "cat /run/ilvo-varnel-tlm/stats.json")
      wait_for '[ -f /run/ilvo-varnel-tlm/stats.json ] && grep -q authorized "$work/service.log" || ! kill -0 $service' \
        "the service wrote no statistics or did not log in to the test pool" "$work/service.log"
      [[ $(eval "$run") =~ ^\{\"hashrate_hs\":[0-9]+, ]] || fail "$line: $(eval "$run"; cat "$work/service.log")" ;;
    "sudo apt remove ilvo-varnel-tlm")
      # An upgrade first: the package over itself runs the scripts as a newer one does.
      calls=$(apt_run "apt install --reinstall $deb")
      [ "$calls" = "ilvo-varnel-tlm.service restart" ] || fail "an upgrade asked systemd for: $calls"
      calls=$(apt_run "$run")
      [ "$calls" = "ilvo-varnel-tlm.service stop" ] || fail "the removal asked systemd for: $calls"
      kill -TERM "$service"
      wait "$service" || fail "the service stopped with exit code $?: $(cat "$work/service.log")"
      [ ! -e /usr/bin/ilvo-varnel-tlm ] && [ -f /etc/ilvo-varnel-tlm/config.json ] || fail "after $line" ;;
    "sudo apt purge ilvo-varnel-tlm")
      calls=$(apt_run "$run")
      [ -z "$calls" ] || fail "the purge asked systemd for: $calls"
      ! dpkg-query -W ilvo-varnel-tlm 2>/dev/null || fail "dpkg still knows the package"
      left=$(machine_files | diff "$work/before" - || true)
      [ -z "$left" ] || fail "the purge left the machine changed: $left" ;;
    *) fail "a command of the README's service section this test does not run: $line" ;;
  esac
  echo "ok: $line"
done < <(sed -n '/^### As a systemd service: the Debian package/,/^## /p' "$source/README.md" |
  awk '/^```sh/ {on = 1; next} /^```/ {on = 0} on && NF' | sed 's/ *#.*//')
[ -n "${left+set}" ] || fail "the README's service section has no purge"
echo "package ok: $(basename "$deb") depends on $depends"
