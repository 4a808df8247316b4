"""The kivmod tool through its process: exit codes and output against the simulated phone."""
import concurrent.futures
import email.policy
import json
import os
import pathlib
import pty
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

tool = os.path.abspath(sys.argv[1])
results = []  # True or False per check; appending to a list needs no lock between threads
# The user's own configuration file stays out of the tests.
os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp()
for name in ("KIVMOD_LINK", "KIVMOD_SIM_CONFIG"):
    os.environ.pop(name, None)


def run(*args, env=None, timeout=30, cwd=None, text=True):
    return subprocess.run([tool, *args], capture_output=True, text=text, timeout=timeout, env=env,
                          stdin=subprocess.DEVNULL, cwd=cwd)


# Runs the tool once per argument list, all at once: each run spends most of its time in the
# library's pause after disconnecting, so cases that only read take turns for nothing.
def run_all(runner, arg_lists):
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        return list(pool.map(lambda args: runner(*args), arg_lists))


def check(name, condition, detail=""):
    results.append(bool(condition))
    if not condition:
        print("FAIL:", name, detail)


# One run: its exit code, texts on its standard error and ok, what it printed or left behind.
def expect(name, r, code, *texts, ok=True):
    check(name, r.returncode == code and all(t in r.stderr for t in texts) and ok, (r.returncode, r.stdout, r.stderr))


FOLDER = "a folder"


# What is at path: a file's bytes, FOLDER, or None when there is nothing.
def read(path):
    return FOLDER if os.path.isdir(path) else pathlib.Path(path).read_bytes() if os.path.exists(path) else None


# Whether each path of made (below folder) holds what made says: bytes, FOLDER or None.
def holds(made, folder):
    return all(read(os.path.join(folder, path)) == data for path, data in made.items())


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pathlib.Path(os.fsdecode(path)).write_bytes(data)


# Runs the tool with a terminal as standard input and error; answers each prompt in turn.
def at_terminal(args, answers, env, cwd, prompt=b"[y/N/a]", seconds=30):
    master, slave = pty.openpty()
    p = subprocess.Popen([tool, *args], stdin=slave, stderr=slave, stdout=subprocess.DEVNULL, env=env, cwd=cwd)
    os.close(slave)
    seen, asked, end = b"", 0, time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([master], [], [], 0.1)[0]:
            try:
                seen += os.read(master, 4096)
            except OSError:  # the tool has closed the terminal
                break
            if answers and seen.count(prompt) > asked:
                asked += 1
                os.write(master, answers.pop(0) + b"\n")
        elif p.poll() is not None:
            break
    if time.monotonic() >= end:
        p.kill()
    code = p.wait(timeout=5)
    os.close(master)
    return code, seen.decode(errors="replace")


# ---- the command line, and connecting: exit code, then the text expected on standard error (on
# standard output for a success) and the text that must not be there ---------------------------
line_cases = [
    (["frobnicate"], 2, "unknown command"),
    (["--bogus", "info"], 2, "unknown option"),
    (["ls", "-x"], 2, "unknown option"),
    ([], 2, "no command"),
    (["get"], 2, "missing arguments"),
    (["java", "install"], 2, "usage: kivmod java install"),
    (["ls", "Music", "Pictures"], 2, "too many arguments"),
    (["get", "--move", "Music/a", "out"], 2, "does not apply"),
    (["--yes", "--no-clobber", "put", "a", "Music"], 2, "exclude"),
    (["resume", "--restart", "--discard"], 2, "exclude"),
    (["--spp", "info"], 2, "--bt"),
    (["--bt", "00:11:22", "info"], 2, "Bluetooth address"),
    (["--port", "zero", "info"], 2, "--port"),
    (["info", "--link"], 2, "needs a value"),
    (["--link", "bogus", "info"], 2, "unknown link bogus"),
    (["--link", "tcp:localhost", "info"], 2, "tcp:HOST:PORT"),
    (["--link", "serial:", "info"], 2, "names no device"),
    (["--help"], 0, "6 cancelled"),
    (["get", "--help"], 0, "get [-R] PHONEPATH... [DIR]", "put [-R]"),
    (["-h", "playlist"], 0, "playlist put [--replace] NAME FILE", "sounds [PATH]"),
    (["java", "install", "--help"], 0, "java install FILE", "mail send"),
    (["--link", "sim:/nonexistent/phone", "info"], 3, "the simulated phone's folder /nonexistent/phone: No such file"),
    (["--link", "serial:/dev/ttyKIV7", "info"], 3, "could not connect to the phone: cannot open /dev/ttyKIV7: No such file"),
    (["--link", "serial:" + __file__, "info"], 3, "could not connect to the phone: " + __file__ + " is not a serial device"),
]
for (args, code, shown, *absent), r in zip(line_cases, run_all(run, [case[0] for case in line_cases])):
    printed = r.stdout if code == 0 else r.stderr
    check(" ".join(args) + " exits " + str(code), r.returncode == code and shown in printed
          and not any(text in printed for text in absent), (r.returncode, r.stdout, r.stderr))
r = run("--port", "3", "info", env=dict(os.environ, KIVMOD_LINK="", KIVMOD_CONNECT_WAIT_MS="200", KIVMOD_COM3="/dev/ttyKIV3"))
expect("connect: the default cable names the port and device", r, 3, "no link given", "COM3 (/dev/ttyKIV3)")


# The commands against one simulated phone, in order: each case starts from the last. Each part
# (reading and copying to the PC; changes on the phone; the terminal, display and Ctrl-C; music
# and backup; hardening; Java and mail) has a phone of its own.
def phone_cases(part):
    with tempfile.TemporaryDirectory() as top:
        phone, pc, work, config_home, config = (os.path.join(top, d) for d in ("phone", "pc", "work", "config", "phone.xml"))
        for d in (pc, work, os.path.join(phone, "Pictures"), os.path.join(phone, "Music", "Fixed")):
            os.makedirs(d)
        song, loud, encore = os.urandom(120000), os.urandom(3000), os.urandom(5000)
        for path, data in (("Music/first song.mp3", song), ("Music/Rock/loud.mp3", loud),
                           ("Music/Rock/Live/encore.mp3", encore), ("Java/game.jar", os.urandom(700))):
            write(os.path.join(phone, path), data)

        def configure(text):
            write(config, text.encode())

        configure('<phone model="cli phone" version="3"><types>mp3|3|0/jar|2|1000/txt|1|0</types>'
                  '<internal total="100000000"/>'
                  '<folder path="Music\\Rock" attr="0x0400"/><folder path="Music\\Fixed" attr="0x4000"/></phone>')
        env = dict(os.environ, KIVMOD_SIM_CONFIG=config, KIVMOD_WORKDIR=work, XDG_CONFIG_HOME=config_home)
        link = ["--link", "sim:" + phone]

        def ph(*names):  # a path on the phone
            return os.path.join(phone, *names)

        def pcp(*names):  # a path on the PC
            return os.path.join(pc, *names)

        def kiv(*args, **kw):
            return run(*link, *args, env=env, cwd=pc, **kw)

        # kiv with a work folder of its own: tool runs at the same time must not share one.
        def kiv_apart(*args, text=True):
            return run(*link, *args, env=dict(env, KIVMOD_WORKDIR=tempfile.mkdtemp(dir=top)), cwd=pc, text=text)

        if part == "files":
            # ---- info and the configuration file ----------------------------------------------------
            expect("info shows model and folders", r := kiv("info"), 0,
                   ok=all(t in r.stdout for t in ("CLI PHONE", "Music/", "Pictures/")))
            data = json.loads(kiv("--json", "info").stdout)
            check("json info", data["version"] == 3 and data["types"][1] == {"ext": "jar", "maxSize": 1000, "rules": 2}
                  and [f["path"] for f in data["folders"]] == ["Java", "Music", "Pictures"], data)
            # The configuration file, overridden by the environment, overridden by the options (the
            # last one stays: the other cases give --link).
            config_cases = [
                ("gives the link", "[phone]\nlink = sim:" + phone + "\n", {}, [], 0, "Music/"),
                ("names the cable port", "port = 4\nwait = 100\n", {"KIVMOD_COM4": "/dev/ttyKIV4"}, [], 3, "COM4 (/dev/ttyKIV4)"),
                ("with a bad value is a usage error", "link = tcp:nowhere\n", {}, [], 2, "config:1: link = tcp:nowhere"),
                ("with an unknown key is a usage error", "[phone]\ncolour = red\n", {}, [], 2, "config:2: phone.colour = red"),
                ("yields to KIVMOD_LINK", "link = sim:/nonexistent\n", {"KIVMOD_LINK": "sim:" + phone}, [], 0, "Music/"),
                ("yields to --link", "link = sim:/nonexistent\n", {}, ["--link", "sim:" + phone], 0, "Music/"),
            ]
            for name, text, extra, args, code, shown in config_cases:
                write(os.path.join(config_home, "kivmod", "config"), text.encode())
                r = run(*args, "ls", env=dict(env, **extra), cwd=pc)
                expect("config file " + name, r, code, ok=shown in r.stdout + r.stderr)

            # ---- ls -----------------------------------------------------------------------------------
            ls_cases = [
                ("top level", ["ls"], ["Java/", "Music/", "Pictures/"]),
                ("a folder", ["ls", "Music"], ["Fixed/", "Rock/", "first song.mp3"]),
                ("slashes either way", ["ls", "Music\\Rock"], ["Live/", "loud.mp3"]),
                ("case of the typed path", ["ls", "music/ROCK/live"], ["encore.mp3"]),
                ("one file", ["ls", "Music/first song.mp3"], ["first song.mp3"]),
            ]
            for (name, args, expected), r in zip(ls_cases, run_all(kiv_apart, [case[1] for case in ls_cases])):
                expect("ls " + name, r, 0, ok=r.stdout.split("\n")[:-1] == expected)
            r = kiv("ls", "-lR", "Music")
            check("ls -lR shows size, local time and folder attributes at every level",
                  re.search(r"^-\s+120000\s+\d{4}-\d\d-\d\d \d\d:\d\d\s+first song\.mp3$", r.stdout, re.M)
                  and re.search(r"^d .*Rock/\s+renamable$", r.stdout, re.M) and re.search(r"^d .*Fixed/\s+fixed$", r.stdout, re.M)
                  and re.search(r"^Music\\Rock\\Live:\n-\s+5000\s.*encore\.mp3$", r.stdout, re.M), r.stdout)
            data = json.loads(kiv("--json", "ls", "-R", "Music").stdout)
            rock = next(f for f in data["folders"] if f["name"] == "Rock")
            live = rock["folders"][0]
            check("ls --json -R nests folders with their flags", data["path"] == "Music" and live["path"] == "Music\\Rock\\Live"
                  and live["files"][0]["size"] == 5000 and rock["flags"] == ["renamable"]
                  and data["files"][0]["name"] == "first song.mp3" and re.match(r"\d{4}-\d\d-\d\dT", data["files"][0]["time"]), data)
            unknown = (["ls", "Music/Nothing"], ["ls", "Nowhere"], ["get", "Music/none.mp3", "out"], ["rm", "Music/none.mp3"],
                       ["mv", "Music/none.mp3", "x.mp3"], ["df", "Music/Nothing"], ["ls", "--", "-l"])
            for args, r in zip(unknown, run_all(kiv_apart, unknown)):
                expect("unknown path exits 7: " + " ".join(args), r, 7, "no such file or folder")

            # ---- get ----------------------------------------------------------------------------------
            expect("get copies the bytes, a line per file without a terminal",
                   kiv("get", "Music/first song.mp3", "Music/Rock/loud.mp3", "out"), 0, "get first song.mp3 120000/120000",
                   ok=holds({"out/first song.mp3": song, "out/loud.mp3": loud}, pc))
            expect("get -q prints no progress", r := kiv("-q", "get", "Music/first song.mp3", "out"), 0, ok=r.stderr == "")
            expect("get of a folder needs -R", kiv("get", "Music/Rock", "out"), 2, "get -R")
            expect("get -R keeps the folders", kiv("get", "-R", "Music/Rock", "tree"), 0,
                   ok=holds({"tree/Rock/Live/encore.mp3": encore}, pc))
            # Destinations as cp has them, and patterns matched against the phone's listing.
            dest_cases = [
                ("into the current folder", ["Music/first song.mp3"], 0, {"first song.mp3": song}),
                ("to a new file name", ["Music/Rock/loud.mp3", "renamed.mp3"], 0, {"renamed.mp3": loud}),
                ("with a pattern into a new folder", ["music/*/*.MP3", "globbed"], 0, {"globbed/loud.mp3": loud}),
                ("with a pattern that matches nothing", ["Music/*.ogg", "none"], 7, {"none": None}),
                ("to a file in a missing folder", ["Music/Rock/loud.mp3", "no/where.mp3"], 7, {"no": None}),
            ]
            for (name, args, code, made), r in zip(dest_cases, run_all(kiv_apart, [["get", *c[1]] for c in dest_cases])):
                expect("get " + name, r, code, ok=holds(made, pc))
            expect("get - writes the files to standard output only", r := kiv_apart("get", "Music/Rock/loud.mp3",
                   "Music/Rock/Live/encore.mp3", "-", text=False), 0, b"get loud.mp3", ok=r.stdout == loud + encore)
            write(pcp("out", "first song.mp3"), b"mine")
            expect("get --no-clobber keeps the PC file", kiv("--no-clobber", "get", "Music/first song.mp3", "out"), 0,
                   "skipped", ok=holds({"out/first song.mp3": b"mine"}, pc))
            expect("get replaces a PC file by default", kiv("get", "Music/first song.mp3", "out"), 0,
                   ok=holds({"out/first song.mp3": song}, pc))
            expect("type refused to the PC", kiv("get", "Java/game.jar", "out"), 5,
                   "files of type jar may not be copied to the PC", ok=holds({"out/game.jar": None}, pc))

        if part == "changes":
            # ---- put: to the phone, and from phone to phone ------------------------------------------
            tune, newer, moved = os.urandom(90000), os.urandom(50000), b"m" * 3000
            write(ph("Music", "tune.mp3"), tune)
            for name, data in (("tune.mp3", newer), ("moved.mp3", moved), ("note.txt", b"note"),
                               ("album/one.mp3", b"1"), ("album/disc 2/two.mp3", b"22")):
                write(pcp(name), data)
            put_cases = [  # what is then in the phone (phone/...) and PC (pc/...) folders
                ("without a terminal keeps the phone file", ["put", "tune.mp3", "Music"], 0, "skipped",
                 {"phone/Music/tune.mp3": tune}),
                ("--no-clobber keeps the phone file", ["--no-clobber", "put", "tune.mp3", "Music"], 0, "skipped",
                 {"phone/Music/tune.mp3": tune}),
                ("--yes replaces it, a line per file", ["--yes", "put", "tune.mp3", "Music"], 0, "put tune.mp3 50000/50000",
                 {"phone/Music/tune.mp3": newer}),
                ("--move removes the PC file", ["put", "--move", "moved.mp3", "Music/Rock"], 0, "",
                 {"pc/moved.mp3": None, "phone/Music/Rock/moved.mp3": moved}),
                ("--from-phone copies on the phone", ["put", "--from-phone", "Music/Rock/moved.mp3", "Pictures"], 0, "",
                 {"phone/Pictures/moved.mp3": moved, "phone/Music/Rock/moved.mp3": moved}),
                ("--from-phone into its own folder is refused", ["--yes", "put", "--from-phone", "Music/tune.mp3", "Music"],
                 5, "", {"phone/Music/tune.mp3": newer}),
                ("of a missing PC file", ["put", "absent.mp3", "Music"], 7, "no such file on the PC", {}),
                ("into a missing folder", ["put", "tune.mp3", "Music/Nothing"], 7, "no such file or folder", {}),
                ("of a type the phone refuses", ["put", "note.txt", "Music"], 5, "may not be copied to the phone", {}),
                ("into a file", ["put", "tune.mp3", "Music/tune.mp3"], 2, "not a folder", {}),
                ("of a folder without -R", ["put", "album", "Music"], 2, "put -R", {}),
                ("-R makes the folders on the phone", ["put", "-R", "album", "Music"], 0, "",
                 {"phone/Music/album/disc 2/two.mp3": b"22", "phone/Music/album/one.mp3": b"1"}),
            ]
            for name, args, code, text, made in put_cases:
                expect("put " + name, kiv(*args), code, text, ok=holds(made, top))
            for name in ("x1.mp3", "x2.mp3"):
                write(ph("Music", "album", name), b"x")

            # ---- mkdir, mv, rm: what is then in the phone's folder Music ---------------------------------
            tree_cases = [
                ("mkdir makes a folder", ["mkdir", "Music/New"], 0, "", {"New": FOLDER}),
                ("mkdir of an existing folder fails", ["mkdir", "Music/New"], 5, "exists already", {}),
                ("mkdir without parents fails", ["mkdir", "Music/A/B"], 7, "", {"A": None}),
                ("mkdir -p makes the parents", ["mkdir", "-p", "Music/A/B"], 0, "", {"A/B": FOLDER}),
                ("mkdir -p of an existing folder is fine", ["mkdir", "-p", "Music/A"], 0, "", {}),
                ("mv renames a file in place", ["mv", "Music/tune.mp3", "song.mp3"], 0, "", {"song.mp3": newer, "tune.mp3": None}),
                ("rename moves a file into a folder", ["rename", "Music/song.mp3", "Music/New"], 0, "", {"New/song.mp3": newer}),
                ("mv moves and renames", ["mv", "Music/New/song.mp3", "Music/A/other.mp3"], 0, "", {"A/other.mp3": newer}),
                ("mv onto an existing file fails", ["mv", "Music/A/other.mp3", "Music/first song.mp3"], 5, "exists already",
                 {"first song.mp3": song}),
                ("mv renames a renamable folder", ["mv", "Music/Rock", "Music/Pop"], 0, "", {"Pop/Live": FOLDER}),
                ("mv of a folder the phone keeps fails and says why", ["mv", "Music/New", "Music/Newer"], 5,
                 "does not let folder Music\\New be renamed", {"New": FOLDER}),
                ("rm of a folder needs -r", ["rm", "Music/A"], 2, "rm -r", {"A": FOLDER}),
                ("rm deletes a file", ["rm", "Music/A/other.mp3"], 0, "", {"A/other.mp3": None}),
                ("rm reports a missing name and deletes the others", ["rm", "Music/album/x1.mp3", "Music/none.mp3"], 7,
                 "no such file or folder", {"album/x1.mp3": None}),
                ("rm -f ignores missing names", ["rm", "-f", "Music/none.mp3", "Music/album/x*", "Music/*.ogg"], 0, "",
                 {"album/x2.mp3": None}),
                ("rm -r deletes folders with contents", ["rm", "-r", "Music/A", "Music/Pop", "Music/album"], 0, "",
                 {"A": None, "Pop": None, "album": None}),
                ("rm -r of a fixed folder fails", ["rm", "-r", "Music/Fixed"], 5, "", {"Fixed": FOLDER}),
            ]
            for name, args, code, text, made in tree_cases:
                expect(name, kiv(*args), code, text, ok=holds(made, ph("Music")))
            os.makedirs(pcp("Music", "New"))
            expect("rm refuses when a PC folder has the phone path", kiv("rm", "-r", "Music/New"), 5, "PC folder",
                   ok=holds({"New": FOLDER}, ph("Music")))

            # ---- df -----------------------------------------------------------------------------------
            data = json.loads(kiv("--json", "df", "Music").stdout)
            check("df --json", len(data) == 1 and data[0]["path"] == "Music" and data[0]["total"] == 100000000
                  and 0 < data[0]["free"] <= data[0]["total"] and data[0]["used"] == data[0]["total"] - data[0]["free"], data)
            expect("df is readable", r := kiv("df", "Music"), 0, ok=re.search(r"^Music\s+95\.4M\s+\S+\s+\S+\s+\d+%$", r.stdout, re.M))

        if part == "terminal":
            # ---- questions at a terminal ----------------------------------------------------------------
            first, second, other = ph("Music", "first song.mp3"), ph("Music", "second.mp3"), os.urandom(40000)
            write(pcp("first song.mp3"), other)
            write(pcp("second.mp3"), other)
            terminal_cases = [
                ("no keeps the phone files", [b"n", b"n"], song, b"old", 2),
                ("yes replaces that file only", [b"y", b"n"], other, b"old", 2),
                ("all replaces the rest unasked", [b"a"], other, other, 1),
            ]
            for name, answers, expect_first, expect_second, asked in terminal_cases:
                write(first, song)
                write(second, b"old")
                code, screen = at_terminal([*link, "put", "first song.mp3", "second.mp3", "Music"], list(answers), env, pc)
                check("terminal: " + name, code == 0 and read(first) == expect_first and read(second) == expect_second
                      and screen.count("overwrite Music\\") == asked, (code, screen))
            check("terminal: the progress line is redrawn", "\r" in screen and "done" in screen, screen)

            # ---- detect: a phone on a serial device (the simulated phone on a pseudo-terminal) -------
            simulator = os.path.join(os.path.dirname(tool), "kivmod-phonesim")
            if os.path.exists(simulator):
                sim = subprocess.Popen([simulator, "--config", config, phone], stdout=subprocess.PIPE, text=True, env=env)
                try:
                    device = sim.stdout.readline().strip().rsplit("serial:", 1)[-1]
                    r = run("--json", "detect", device, "/dev/ttyKIV9", env=env)
                    expect("detect finds the phone on its device and says why others failed", r, 0, "/dev/ttyKIV9: No such file",
                           ok=json.loads(r.stdout) == [{"link": "serial:" + device, "model": "CLI PHONE", "version": 3}])
                finally:
                    sim.terminate()
                    sim.wait()
            expect("detect without a phone exits 3", run("detect", "/dev/ttyKIV9", env=env), 3, "no phone answered")
            if not (os.path.isdir("/sys/class/bluetooth") and os.listdir("/sys/class/bluetooth")):
                expect("detect without a Bluetooth adapter says so and goes on", r := run("--json", "detect", env=env), 3,
                       "Bluetooth phones not searched", ok=json.loads(r.stdout) == [])

            # ---- display: wide names, names that are not UTF-8, JSON read back ------------------------
            wide = "歌" * 60 + ".mp3"
            write(pcp(wide), b"w" * 5000)
            code, screen = at_terminal([*link, "--yes", "put", wide, "Music"], [], env, pc)
            check("terminal: a wide name is cut between characters", code == 0 and "\ufffd" not in screen and "歌..." in screen,
                  (code, screen))
            bad_phone_name = os.fsencode(ph("Pictures")) + b"/bad\xff.jpg"
            write(bad_phone_name, b"j")
            files = json.loads(run(*link, "--json", "ls", "Pictures", env=dict(env, TZ="Asia/Kolkata"), cwd=pc).stdout)["files"]
            check("ls --json stays valid JSON and times carry the UTC offset",
                  len(files) == 1 and files[0]["name"].startswith("bad") and files[0]["time"].endswith("+05:30"), files)
            # PC names that are not text in the locale are refused before anything is sent.
            bad = os.path.join(os.fsencode(pc), b"caf\xe9.mp3")
            write(bad, b"x" * 100)
            for locale_name in ("C", "C.UTF-8"):
                r = run(*link, "put", os.fsdecode(bad), "Music", env=dict(env, LC_ALL=locale_name), cwd=pc)
                expect("put refuses a name that is not text (" + locale_name + ")", r, 2, "caf\\xE9.mp3 is not valid text",
                       ok=not any(name.startswith("caf") for name in os.listdir(ph("Music"))))

            # ---- Ctrl-C during a slow copy; resume --discard ---------------------------------------------
            configure('<phone delayMs="5" maxPacket="2048"><internal total="100000000"/></phone>')
            big, target = os.urandom(3000000), ph("Music", "big.bin")
            write(pcp("big.bin"), big)
            p = subprocess.Popen([tool, *link, "put", "big.bin", "Music"], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env, cwd=pc)
            end = time.monotonic() + 15
            while time.monotonic() < end and not (os.path.exists(target) and os.path.getsize(target) > 0):
                time.sleep(0.02)
            p.send_signal(signal.SIGINT)
            try:
                err = p.communicate(timeout=15)[1]
            except subprocess.TimeoutExpired:
                p.kill()
                err = p.communicate()[1]
            partial = os.path.getsize(target) if os.path.exists(target) else 0
            check("Ctrl-C cancels a put with exit 6, leaves a partial phone file and tells how to resume",
                  p.returncode == 6 and "kivmod: cancelled" in err and "kivmod resume" in err
                  and 0 < partial < len(big), (p.returncode, err, partial))
            configure('<phone><internal total="100000000"/></phone>')
            expect("resume --discard drops the partial file", kiv("resume", "--discard"), 0, ok=read(target) is None)
            # A record whose PC file is gone cannot be resumed, but --discard still clears it.
            write(os.path.join(work, "ResumeFiles.txt"), (pcp("gone.bin") + "\tMusic").encode())
            expect("resume --discard clears a stale record; then there is nothing to resume", kiv("resume", "--discard"), 0,
                   ok=(after := kiv("resume")).returncode == 5 and "no interrupted copy" in after.stderr)
            configure('<phone locked="1"/>')
            expect("locked phone exits 4", kiv("info"), 4, "locked")

        if part == "music":
            # ---- playlists and sounds -----------------------------------------------------------------
            configure('<phone maxPacket="256"><internal total="100000000"/></phone>')
            listed = b"Music/first song.mp3:Music/Rock/loud.mp3"
            write(pcp("list.txt"), listed)
            playlist_cases = [
                ("put", ["put", "Mix", "list.txt"], 0, "", lambda r: os.path.exists(ph("Playlists", "Mix.m3u8"))),
                ("put does not replace without --replace", ["put", "Mix", "list.txt"], 5, "--replace", bool),
                ("put --replace", ["put", "--replace", "Mix", "list.txt"], 0, "", bool),
                ("show --json", ["show", "Mix"], 0, "", lambda r: json.loads(r.stdout)["songs"][1] == "Music/Rock/loud.mp3"),
                ("get is byte-identical", ["get", "Mix", "back.txt"], 0, "", lambda r: read(pcp("back.txt")) == listed),
                ("mv", ["mv", "Mix", "Party"], 0, "", lambda r: kiv("playlist", "ls").stdout == "Party\n"),
                ("rm of a missing one exits 7", ["rm", "Mix"], 7, "", bool),
                ("rm", ["rm", "Party"], 0, "", lambda r: kiv("playlist", "ls").stdout == ""),
                ("with an unknown command is a usage error", ["frob"], 2, "", bool),
            ]
            for name, args, code, text, effect in playlist_cases:
                expect("playlist " + name, r := kiv("--json", "playlist", *args), code, text, ok=effect(r) is not False)
            paths = [x["path"] for x in json.loads(kiv("--json", "sounds").stdout)]
            check("sounds --json lists the audio files only", "Music\\first song.mp3" in paths
                  and not any(p.endswith(".jar") for p in paths), paths)

            # ---- backup, backup-info, restore ------------------------------------------------------------
            configure('<phone><internal total="100000000"/></phone>')
            kbk, cut, empty = (os.path.join(top, name) for name in ("phone.kbk", "cut.kbk", "empty-phone"))
            os.mkdir(empty)

            def restore(*args):
                return run("--link", "sim:" + empty, "restore", *args, env=env, cwd=pc, timeout=60)

            expect("backup prints a line per file and its JSON", r := kiv("--json", "backup", kbk, timeout=60), 0,
                   "backup [", "first song.mp3", ok=json.loads(r.stdout)["complete"])
            expect("backup-info reads it as usable", r := kiv("--json", "backup-info", kbk), 0,
                   ok=(info := json.loads(r.stdout))["usable"]
                   and any(f["path"].endswith("first song.mp3") and f["size"] == len(song) for f in info["files"]))
            expect("restore onto an empty phone", restore(kbk), 0,
                   ok=holds({"Music/first song.mp3": song, "Music/Rock/Live/encore.mp3": encore}, empty))
            write(cut, read(kbk)[:-100])
            expect("backup-info names a cut file as not usable", r := kiv("backup-info", cut), 5, ok="NOT usable" in r.stdout)
            expect("restore refuses a cut file", restore(cut), 5, "Invalid Format")
            configure('<phone><internal total="100000000"/><backup password="pw"/></phone>')
            expect("restore without the password fails", restore(kbk), 5, "--password")
            expect("restore with --password", restore("--password", "pw", kbk), 0)
            code, screen = at_terminal(["--link", "sim:" + empty, "restore", kbk], [b"pw"], env, pc, prompt=b"Password")
            check("restore asks for the password at a terminal", code == 0 and "Password" in screen, (code, screen))

        if part == "hardening":
            # ---- nothing lost, nothing reported wrong -------------------------------------------------
            def faults(text):
                configure('<phone maxPacket="2048"><internal total="100000000"/>' + text + '</phone>')

            big = os.urandom(10000)
            write(ph("Music", "big.mp3"), big)
            write(pcp("out", "big.mp3"), b"older")
            # A copy that fails after its first piece leaves the older PC file, and nothing beside it.
            faults('<fault code="0x20" kind="result" value="0x23"/>')
            expect("failed get keeps the older PC file", kiv("get", "Music/big.mp3", "out"), 5,
                   ok=read(pcp("out", "big.mp3")) == b"older" and os.listdir(pcp("out")) == ["big.mp3"])
            # The last-piece mark ends a copy; a size other than the listed one is said, and fails.
            write(ph("Music", "t.mp3"), os.urandom(100))
            faults('<fault code="0x06" kind="truncate" length="79"/>')
            expect("a short copy is reported", kiv("get", "Music/t.mp3", "out"), 5, "received 40 bytes, the phone listed 100")
            faults("")
            # An unsafe name is reported (which and why); the good file beside it is copied.
            for name, data in (("a:b.mp3", b"x"), ("good.mp3", b"good"), ("tab\t.mp3", b"t")):
                write(ph("Music", "Odd", name), data)
            expect("get -R goes on past an unsafe name", kiv("get", "-R", "Music/Odd", "tree"), 5, "a:b.mp3", "colon",
                   ok=read(pcp("tree", "Odd", "good.mp3")) == b"good")
            # Names from the phone are shown with control characters escaped.
            expect("ls escapes control characters", r := kiv("ls", "Music/Odd"), 0, ok="tab\\t.mp3" in r.stdout.splitlines())
            expect("a PC folder with a backslash is refused and not made", kiv("get", "Music/big.mp3", "a\\b"), 2, "backslash",
                   ok=read(pcp("a\\b")) is None)
            os.makedirs(pcp("dirs", "big.mp3"))
            expect("a folder at the target is said", kiv("get", "Music/big.mp3", "dirs"), 5, "is a folder")
            # The resume hint follows the record: a copy cut at its first piece can be resumed; once
            # resumed, nothing is offered, nor for a phone without room.
            write(pcp("song.mp3"), big)
            faults('<fault code="0x05" kind="result" value="0x23" times="1"/>')
            expect("a put cut at its first piece offers resume", kiv("put", "song.mp3", "Music"), 5, "kivmod resume")
            pathlib.Path(ph("Music", "song.mp3")).unlink(missing_ok=True)  # nothing of it reached the phone
            faults("")
            expect("resume sends a copy that never reached the phone", kiv("resume"), 0, ok=read(ph("Music", "song.mp3")) == big)
            check("a completed resume leaves nothing to resume", "kivmod resume" not in kiv("resume").stderr)
            os.remove(ph("Music", "song.mp3"))
            faults('<internal total="5000"/>')
            expect("a full phone is said and offers no resume", r := kiv("put", "song.mp3", "Music"), 5,
                   "not enough free space", ok="kivmod resume" not in r.stderr)

        if part == "family":
            # ---- java and mail ----------------------------------------------------------------------
            env.pop("KIVMOD_SIM_CONFIG")  # the simulated phone as it comes
            with zipfile.ZipFile(pcp("snake.jar"), "w") as z:
                z.writestr("META-INF/MANIFEST.MF", "MIDlet-Name: Snake\nMIDlet-Version: 1.2\nMIDlet-Vendor: Kiv\n")
            one, two = os.urandom(2000), os.urandom(3333)
            for name, data in (("bad.jar", b"no zip"), ("body.txt", b"Hello Bob\n"), ("a/one.bin", one), ("b/two.bin", two)):
                write(pcp(name), data)
            expect("java install names the application", r := kiv("java", "install", "snake.jar"), 0,
                   ok="installed Snake 1.2" in r.stdout)
            expect("a refused install exits 5", kiv("java", "install", "bad.jar"), 5, "did not install")
            expect("java rm of a missing file exits 7", kiv("java", "rm", "missing.jar"), 7)
            r = kiv("mail", "send", "--to", "bob@example.org", "--subject", "Grüße", "--body", "body.txt",
                    "--attach", "a/one.bin", "--attach", "b/two.bin")
            msg = email.message_from_bytes(read(ph("Outbox", "message-0001.eml")) or b"", policy=email.policy.default)
            expect("mail send reports each part; the subject and attachments arrive", r, 0,
                   ok=r.stderr.count(": sent") == 3 and msg["subject"] == "Grüße"
                   and [p.get_content() for p in msg.iter_attachments()] == [one, two])
            expect("an unreadable body is not sent", kiv("mail", "send", "--to", "bob@example.org", "--subject", "x",
                                                         "--body", "none.txt"), 5, "body none.txt: failed")
            expect("mail limits prints the header buffer", r := kiv("mail", "limits"), 0,
                   ok="header buffer: 23184 bytes" in r.stdout)


# Each part has a phone, PC folder and configuration folder of its own: they run at the same
# time (most of a run is the library's pause after disconnecting).
with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
    for group in [pool.submit(phone_cases, part) for part in ("files", "changes", "terminal", "music", "hardening", "family")]:
        group.result()
print(f"{results.count(True)} passed, {results.count(False)} failed")
sys.exit(0 if all(results) else 1)
