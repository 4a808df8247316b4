#!/usr/bin/env bash
# End to end across systems: the Windows DLL under Wine, driven by tests/host_win32.c, talks
# over a Wine COM port that is a Linux pseudo-terminal to the Linux simulated phone. A 5 MiB
# file goes to the phone and comes back; both copies must be byte-identical.
# Arguments: the Linux kivmod-phonesim, host_win32.exe, Kivmod.dll.
set -euo pipefail
phonesim=$1 host=$2 dll=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/phone.sh"
prefix=$(bash "$here/../../scripts/wine/prefix.sh")
tmp=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  rm -f "$prefix/dosdevices/com7"
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/phone/Music" "$tmp/pc"
head -c $((5 << 20)) /dev/urandom > "$tmp/pc/up.mp3"
start_phone "$phonesim" "$tmp/phone" "$tmp/sim.out" --pty
sim=$phone_pid device=${phone_at#serial:}
ln -sfn "$device" "$prefix/dosdevices/com7"
export WINEPREFIX=$prefix
bash "$here/../../scripts/wine/run.sh" "$host" "$dll" 7 "Z:${tmp//\//\\}\\pc"
cmp "$tmp/pc/up.mp3" "$tmp/phone/Music/up.mp3"
cmp "$tmp/pc/up.mp3" "$tmp/pc/back/up.mp3"
echo "5 MiB both ways over COM7, byte-identical"
