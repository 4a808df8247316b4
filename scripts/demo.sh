#!/usr/bin/env bash
# Demo: builds Kivmod, makes a sample phone folder and drives it with the kivmod tool
# through the simulated phone in the tool's own process.
set -euo pipefail
cd "$(dirname "$0")/.."
# The build goes to a log, shown only when it fails; the demo shows the phone. Only the tool
# is built (the simulated phone runs inside it), with as many jobs as there are cores.
mkdir -p build
log=build/demo-build.log
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if ! { bash scripts/install-deps.sh &&
       cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" &&
       cmake --build build/release -j "$(nproc)" --target kivmod-cli; } > "$log" 2>&1; then
  cat "$log" >&2
  echo "demo: the build failed (log: $log)" >&2
  exit 1
fi

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
kiv get "Music/first song.mp3" "$pc/copies/"
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
echo "== kivmod playlist put / ls / show (the phone keeps Playlists/Road Trip.m3u8)"
printf 'Music/first song.mp3:Music/second song.mp3:Card/Music/live.mp3' > "$pc/road.txt"
kiv playlist put "Road Trip" "$pc/road.txt"
kiv playlist ls
kiv playlist show "Road Trip"
cat "$phone/Playlists/Road Trip.m3u8"
kiv playlist get "Road Trip" "$pc/back.txt"
cmp "$pc/road.txt" "$pc/back.txt" && echo "round trip: identical"
kiv playlist mv "Road Trip" "Holiday"
kiv playlist rm "Holiday"

echo
echo "== kivmod sounds (tags read by the phone with TagLib)"
# Two short WAV files with RIFF INFO tags (artist, title, album, genre).
python3 - "$phone" <<'PY'
import struct, sys
def wav(path, seconds, tags):
    info = b"INFO"
    for key, value in tags.items():
        v = value.encode() + b"\0"
        if len(v) % 2: v += b"\0"
        info += key.encode() + struct.pack("<I", len(v)) + v
    data = b"\x80" * (8000 * seconds)
    body = (b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 8000, 1, 8) +
            b"LIST" + struct.pack("<I", len(info)) + info + b"data" + struct.pack("<I", len(data)) + data)
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
wav(sys.argv[1] + "/Music/intro.wav", 65, {"IART": "Kivi Band", "INAM": "Intro", "IPRD": "First Light", "IGNR": "Pop"})
wav(sys.argv[1] + "/Music/outro.wav", 3, {"IART": "Kivi Band", "INAM": "Outro", "IPRD": "First Light", "IGNR": "Pop"})
PY
kiv sounds

echo
echo "== kivmod java install (send a JAR into Java, then install it)"
python3 - "$pc/snake.jar" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as jar:
    jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\nMIDlet-Name: Snake\nMIDlet-Version: 1.2\nMIDlet-Vendor: Kivmod\n")
    jar.writestr("Snake.class", bytes(40000))
PY
kiv java install "$pc/snake.jar"
echo "the phone's installed applications ($phone/installed-apps.txt):"
cat "$phone/installed-apps.txt"
echo
echo "== kivmod mail send (a message with two attachments, through the phone)"
printf 'Hello Bob,\n\nthe holiday picture and the song are attached.\n' > "$pc/letter.txt"
kiv mail send --to bob@example.org --cc carl@example.org --subject "Holiday" --body "$pc/letter.txt" \
  --attach "$phone/Pictures/holiday.jpg" --attach "$pc/new song.mp3"
echo "the phone's outbox:"
ls -l "$phone/Outbox"
grep -E '^(To|Cc|Subject|Content-Type):' "$phone/Outbox/message-0001.eml"

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
# The backup agent offers the phone's folders; the simulated phone's own list of installed
# applications lies beside them at the top and is not part of a backup.
diff -r -x installed-apps.txt "$phone" "$other" && echo "the restored phone holds the same folders"
