#!/usr/bin/env bash
# Demo: builds Kivmod, makes a sample phone folder and drives it with the kivmod tool
# through the simulated phone in the tool's own process.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/release --target kivmod-cli kivmod-phonesim

phone=build/demo-phone
rm -rf "$phone"
mkdir -p "$phone/Music" "$phone/Pictures" "$phone/Java" "$phone/Memory Card"
head -c 200000 /dev/urandom > "$phone/Music/first song.mp3"
head -c 150000 /dev/urandom > "$phone/Music/second song.mp3"
printf 'Music/first song.mp3\nMusic/second song.mp3\n' > "$phone/Music/Favourites.m3u"
head -c 50000 /dev/urandom > "$phone/Pictures/holiday.jpg"
head -c 30000 /dev/urandom > "$phone/Java/game.jar"
printf 'MIDlet-Name: Game\nMIDlet-Jar-URL: game.jar\n' > "$phone/Java/game.jad"
cat > build/demo-phone.xml <<'XML'
<phone model="Kivsim 100" version="9" maxPacket="32768">
  <card name="Memory Card"/>
</phone>
XML

export KIVMOD_SIM_CONFIG=build/demo-phone.xml
tool=build/release/tools/kivmod
echo "== kivmod info"
"$tool" --link "sim:$phone" info
echo
echo "== kivmod ls"
"$tool" --link "sim:$phone" ls
echo
echo "== kivmod info --json"
"$tool" --link "sim:$phone" --json info

pc=build/demo-pc
rm -rf "$pc"
mkdir -p "$pc"
head -c 400000 /dev/urandom > "$pc/new song.mp3"
kiv() { "$tool" --link "sim:$phone" "$@"; }

echo
echo "== kivmod put (a PC file into Music, with progress)"
kiv put "$pc/new song.mp3" Music
cmp "$pc/new song.mp3" "$phone/Music/new song.mp3"
echo
echo "== kivmod get (a phone file into a PC folder)"
kiv get "Music/first song.mp3" "$pc/copies"
cmp "$phone/Music/first song.mp3" "$pc/copies/first song.mp3"
ls -l "$pc/copies"
echo
echo "== kivmod mkdir Music\\New"
kiv mkdir 'Music\New'
kiv put --from-phone "Music/second song.mp3" 'Music\New'
kiv ls -R Music
echo
echo "== kivmod rename (a file)"
kiv rename "Music/new song.mp3" "newest song.mp3"
echo
echo "== kivmod rm -r Music\\New"
kiv rm -r 'Music\New'
echo
echo "== kivmod df Music"
kiv df Music
echo
echo "== kivmod ls -l Music"
kiv ls -l Music
echo
echo "== kivmod backup (the whole phone into one backup data file)"
kiv backup build/demo-phone.kbk
echo
echo "== kivmod backup-info (read offline)"
"$tool" backup-info build/demo-phone.kbk
echo
echo "== kivmod restore onto an empty phone"
other=build/demo-phone-2
rm -rf "$other"
mkdir -p "$other"
"$tool" --link "sim:$other" restore build/demo-phone.kbk
diff -r "$phone" "$other" && echo "the restored phone holds the same tree"
