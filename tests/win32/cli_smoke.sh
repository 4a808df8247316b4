#!/usr/bin/env bash
# kivmod.exe under Wine: its version and a command's help; given the Linux kivmod-phonesim,
# also a listing and a copy each way over TCP (byte-identical, a non-ASCII name among them)
# and a listing over --port 8, a Wine COM port that is a Linux pseudo-terminal.
# Arguments: kivmod.exe [the Linux kivmod-phonesim].
set -euo pipefail
kivmod=$1 phonesim=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
run() { bash "$here/../../scripts/wine/run.sh" "$kivmod" "$@"; }
source "$here/phone.sh"
# Wine turns the Linux command line into the Windows one through the locale's character set.
export LC_ALL=C.UTF-8
export WINEPREFIX=$(bash "$here/../../scripts/wine/prefix.sh")

out=$(run --version)
[[ $out == "kivmod "[0-9]* ]] || { echo "--version printed: $out"; exit 1; }
out=$(run get --help)
[[ $out == "usage: kivmod [options] get"* ]] || { echo "get --help printed: $out"; exit 1; }
echo "--version and get --help"
[ -n "$phonesim" ] || exit 0

tmp=$(mktemp -d)
sim= ptysim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  [ -n "$ptysim" ] && kill "$ptysim" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/com8"
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/phone/Music" "$tmp/phone/Pictures" "$tmp/pc" "$tmp/back"
head -c $((300 << 10)) /dev/urandom > "$tmp/pc/Grüße.mp3"
start_phone "$phonesim" "$tmp/phone" "$tmp/sim.out" --tcp 0
sim=$phone_pid link=$phone_at

out=$(run --link "$link" ls)
[[ $out == *"Music/"* && $out == *"Pictures/"* ]] || { echo "ls printed: $out"; exit 1; }
run --link "$link" -q put -y "$tmp/pc/Grüße.mp3" Music
cmp "$tmp/pc/Grüße.mp3" "$tmp/phone/Music/Grüße.mp3"
out=$(run --link "$link" ls Music)
[[ $out == *"Grüße.mp3"* ]] || { echo "ls Music printed: $out"; exit 1; }
run --link "$link" -q get "Music/Grüße.mp3" "$tmp/back"
cmp "$tmp/pc/Grüße.mp3" "$tmp/back/Grüße.mp3"
echo "ls, put and get over $link, byte-identical"

start_phone "$phonesim" "$tmp/phone" "$tmp/pty.out" --pty
ptysim=$phone_pid device=${phone_at#serial:}
ln -sfn "$device" "$WINEPREFIX/dosdevices/com8"
out=$(run --port 8 ls Music)
[[ $out == *"Grüße.mp3"* ]] || { echo "ls Music over COM8 printed: $out"; exit 1; }
echo "ls over --port 8"
