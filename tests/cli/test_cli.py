"""The kivmod tool through its process: exit codes and output against the simulated phone."""
import concurrent.futures
import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

tool = os.path.abspath(sys.argv[1])
passed = failed = 0
# The user's own configuration file stays out of the tests.
config_home = tempfile.mkdtemp()
os.environ["XDG_CONFIG_HOME"] = config_home
os.environ.pop("KIVMOD_LINK", None)


def run(*args, env=None, timeout=30, cwd=None, text=True):
    return subprocess.run([tool, *args], capture_output=True, text=text, timeout=timeout, env=env,
                          stdin=subprocess.DEVNULL, cwd=cwd)


def run_all(runner, arg_lists):
    """Runs the tool once per argument list, all at once: each run spends most of its time in
    the library's pause after disconnecting, so cases that only read take turns for nothing."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        return list(pool.map(lambda args: runner(*args), arg_lists))


checked = threading.Lock()


def check(name, condition, detail=""):
    global passed, failed
    with checked:
        if condition:
            passed += 1
        else:
            failed += 1
            print("FAIL:", name, detail)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.02)
    return False


# ---- command-line errors: found before any connection is tried -------------------------
usage_cases = [
    ("unknown command", ["frobnicate"], "unknown command"),
    ("unknown option", ["--bogus", "info"], "unknown option"),
    ("unknown short option", ["ls", "-x"], "unknown option"),
    ("no command", [], "no command"),
    ("get without a name", ["get"], "missing arguments"),
    ("mv with one name", ["mv", "Music/a.mp3"], "missing arguments"),
    ("ls with two paths", ["ls", "Music", "Pictures"], "too many arguments"),
    ("info with an argument", ["info", "x"], "too many arguments"),
    ("option of another command", ["get", "--move", "Music/a", "out"], "does not apply"),
    ("json on a copy", ["--json", "rm", "Music/a"], "does not apply"),
    ("yes and no-clobber", ["--yes", "--no-clobber", "put", "a", "Music"], "exclude"),
    ("restart and discard", ["resume", "--restart", "--discard"], "exclude"),
    ("spp without bt", ["--spp", "info"], "--bt"),
    ("bad bluetooth address", ["--bt", "00:11:22", "info"], "Bluetooth address"),
    ("bad port", ["--port", "zero", "info"], "--port"),
    ("link without value", ["info", "--link"], "needs a value"),
    ("unknown link scheme", ["--link", "bogus", "info"], "unknown link bogus"),
    ("tcp link without port", ["--link", "tcp:localhost", "info"], "tcp:HOST:PORT"),
    ("serial link without device", ["--link", "serial:", "info"], "names no device"),
]
for name, args, text in usage_cases:
    r = run(*args)
    check("usage: " + name + " exits 2", r.returncode == 2 and text in r.stderr, (r.returncode, r.stderr))

r = run("--help")
check("help exits 0 and lists exit codes", r.returncode == 0 and "Exit codes" in r.stdout and "6 cancelled" in r.stdout)
for args, shown, absent in ((["get", "--help"], "get [-R] PHONEPATH... [DIR]", "put [-R]"),
                            (["-h", "playlist"], "playlist put [--replace] NAME FILE", "sounds [PATH]"),
                            (["java", "install", "--help"], "java install FILE", "mail send")):
    r = run(*args)
    check("command help: " + " ".join(args), r.returncode == 0 and shown in r.stdout and absent not in r.stdout,
          r.stdout)
connect_cases = [
    ("missing phone folder", "sim:/nonexistent/phone", "folder /nonexistent/phone: No such file or directory"),
    ("missing serial device", "serial:/dev/ttyKIV7", "cannot open /dev/ttyKIV7: No such file or directory"),
    ("file that is no serial device", "serial:" + os.path.abspath(__file__), "is not a serial device"),
]
for (name, link_text, text), r in zip(connect_cases,
                                     run_all(run, [["--link", link_text, "info"] for _, link_text, _ in connect_cases])):
    check("connect: " + name + " exits 3 and says why", r.returncode == 3 and "could not connect" in r.stderr
          and text in r.stderr, (r.returncode, r.stderr))
env_bad = dict(os.environ, KIVMOD_LINK="serial:/dev/ttyKIV7", KIVMOD_CONNECT_WAIT_MS="200")
r = run("--port", "3", "info", env=dict(env_bad, KIVMOD_LINK="", KIVMOD_COM3="/dev/ttyKIV3"))
check("connect: the default cable names the port and device", r.returncode == 3 and "no link given" in r.stderr
      and "COM3 (/dev/ttyKIV3)" in r.stderr, r.stderr)

def phone_cases(part):
    """The commands against one simulated phone, in order: each case starts from the last. Each
    part (file commands; the terminal, display and Ctrl-C; music and backup) has a phone of its own."""
    with tempfile.TemporaryDirectory() as top:
        phone = os.path.join(top, "phone")
        pc = os.path.join(top, "pc")
        work = os.path.join(top, "work")
        for d in (phone, pc, work):
            os.mkdir(d)
        for name in ("Music", "Pictures", "Java"):
            os.mkdir(os.path.join(phone, name))
        song = os.urandom(120000)
        write(os.path.join(phone, "Music", "first song.mp3"), song)
        write(os.path.join(phone, "Music", "Rock", "loud.mp3"), os.urandom(3000))
        write(os.path.join(phone, "Music", "Rock", "Live", "encore.mp3"), os.urandom(5000))
        write(os.path.join(phone, "Java", "game.jar"), os.urandom(700))
        os.mkdir(os.path.join(phone, "Music", "Fixed"))
        config = os.path.join(top, "phone.xml")

        def configure(text):
            with open(config, "w") as f:
                f.write(text)

        configure('<phone model="cli phone" version="3"><types>mp3|3|0/jar|2|1000/txt|1|0</types>'
                  '<internal total="100000000"/>'
                  '<folder path="Music\\Rock" attr="0x0400"/><folder path="Music\\Fixed" attr="0x4000"/></phone>')
        config_home = os.path.join(top, "config")  # the configuration file's cases write there
        env = dict(os.environ, KIVMOD_SIM_CONFIG=config, KIVMOD_WORKDIR=work, XDG_CONFIG_HOME=config_home)
        env.pop("KIVMOD_LINK", None)
        link = ["--link", "sim:" + phone]

        def kiv(*args, **kw):
            return run(*link, *args, env=env, cwd=pc, **kw)

        def kiv_apart(*args, text=True):
            """kiv with a work folder of its own: tool runs at the same time must not share one."""
            return run(*link, *args, env=dict(env, KIVMOD_WORKDIR=tempfile.mkdtemp(dir=top)), cwd=pc, text=text)

        if part == "files":
            # ---- info ------------------------------------------------------------------------------
            r = kiv("info")
            check("info exits 0", r.returncode == 0, r.stderr)
            check("info shows model and folders", "CLI PHONE" in r.stdout and "Music/" in r.stdout and "Pictures/" in r.stdout,
                  r.stdout)
            r = kiv("--json", "info")
            data = json.loads(r.stdout)
            check("json info", data["version"] == 3 and data["types"][1] == {"ext": "jar", "maxSize": 1000, "rules": 2})
            check("json info folders", [f["path"] for f in data["folders"]] == ["Java", "Music", "Pictures"], data["folders"])
            r = run("ls", env=dict(env, KIVMOD_LINK="sim:" + phone), cwd=pc)
            check("KIVMOD_LINK is the default link", r.returncode == 0 and "Music/" in r.stdout, r.stderr)
            os.makedirs(os.path.join(config_home, "kivmod"), exist_ok=True)
            # The configuration file, overridden by the environment, overridden by the options.
            config_cases = [
                ("gives the link", "[phone]\nlink = sim:" + phone + "\n", {}, [], 0, "Music/"),
                ("yields to KIVMOD_LINK", "link = sim:/nonexistent\n", {"KIVMOD_LINK": "sim:" + phone}, [], 0, "Music/"),
                ("yields to --link", "link = sim:/nonexistent\n", {}, ["--link", "sim:" + phone], 0, "Music/"),
                ("names the cable port", "port = 4\nwait = 100\n", {"KIVMOD_COM4": "/dev/ttyKIV4"}, [], 3, "COM4 (/dev/ttyKIV4)"),
                ("with a bad value is a usage error", "link = tcp:nowhere\n", {}, [], 2, "config:1: link = tcp:nowhere"),
                ("with an unknown key is a usage error", "[phone]\ncolour = red\n", {}, [], 2, "config:2: phone.colour = red"),
            ]
            for name, text, extra, args, code, shown in config_cases:
                with open(os.path.join(config_home, "kivmod", "config"), "w") as f:
                    f.write(text)
                r = run(*args, "ls", env=dict(env, **extra), cwd=pc)
                check("config file " + name, r.returncode == code and shown in r.stdout + r.stderr, (r.returncode, r.stderr))
            os.remove(os.path.join(config_home, "kivmod", "config"))

            # ---- ls -----------------------------------------------------------------------------------
            ls_cases = [
                ("top level", ["ls"], ["Java/", "Music/", "Pictures/"]),
                ("a folder", ["ls", "Music"], ["Fixed/", "Rock/", "first song.mp3"]),
                ("slashes either way", ["ls", "Music\\Rock"], ["Live/", "loud.mp3"]),
                ("case of the typed path", ["ls", "music/ROCK/live"], ["encore.mp3"]),
                ("one file", ["ls", "Music/first song.mp3"], ["first song.mp3"]),
            ]
            for (name, args, expected), r in zip(ls_cases, run_all(kiv_apart, [case[1] for case in ls_cases])):
                check("ls " + name, r.returncode == 0 and r.stdout.split("\n")[:-1] == expected, (r.stdout, r.stderr))

            r = kiv("ls", "-l", "Music")
            song_line = next((l for l in r.stdout.splitlines() if l.endswith("first song.mp3")), "")
            check("ls -l shows size and local time",
                  re.match(r"^-\s+120000\s+\d{4}-\d\d-\d\d \d\d:\d\d\s+first song\.mp3$", song_line) is not None, r.stdout)
            check("ls -l shows folder attributes",
                  re.search(r"^d .*Rock/\s+renamable$", r.stdout, re.M) and re.search(r"^d .*Fixed/\s+fixed$", r.stdout, re.M),
                  r.stdout)
            r = kiv("ls", "-lR", "Music")
            check("ls -R lists every level", "Music\\Rock\\Live:" in r.stdout and "encore.mp3" in r.stdout, r.stdout)
            r = kiv("--json", "ls", "-R", "Music")
            data = json.loads(r.stdout)
            rock = next(f for f in data["folders"] if f["name"] == "Rock")
            live = rock["folders"][0]
            check("ls --json -R nests folders",
                  data["path"] == "Music" and live["path"] == "Music\\Rock\\Live" and live["files"][0]["size"] == 5000, data)
            check("ls --json flags", rock["flags"] == ["renamable"] and data["files"][0]["name"] == "first song.mp3"
                  and re.match(r"\d{4}-\d\d-\d\dT", data["files"][0]["time"]), data)
            unknown = (["ls", "Music/Nothing"], ["ls", "Nowhere"], ["get", "Music/none.mp3", "out"],
                       ["rm", "Music/none.mp3"], ["mv", "Music/none.mp3", "x.mp3"], ["df", "Music/Nothing"],
                       ["ls", "--", "-l"])
            for args, r in zip(unknown, run_all(kiv_apart, unknown)):
                check("unknown path exits 7: " + " ".join(args), r.returncode == 7 and "no such file or folder" in r.stderr,
                      (r.returncode, r.stderr))

            # ---- get ----------------------------------------------------------------------------------
            out = os.path.join(pc, "out")
            r = kiv("get", "Music/first song.mp3", "Music/Rock/loud.mp3", "out")
            check("get exits 0", r.returncode == 0, r.stderr)
            check("get copies the bytes", read(os.path.join(out, "first song.mp3")) == song
                  and read(os.path.join(out, "loud.mp3")) == read(os.path.join(phone, "Music", "Rock", "loud.mp3")))
            check("get prints a line per file without a terminal", "get first song.mp3 120000/120000" in r.stderr, r.stderr)
            r = kiv("-q", "get", "Music/first song.mp3", "out")
            check("get -q prints no progress", r.returncode == 0 and r.stderr == "", r.stderr)
            r = kiv("get", "Music/Rock", "out")
            check("get of a folder needs -R", r.returncode == 2 and "get -R" in r.stderr, r.stderr)
            r = kiv("get", "-R", "Music/Rock", "tree")
            check("get -R keeps the folders",
                  r.returncode == 0 and read(os.path.join(pc, "tree", "Rock", "Live", "encore.mp3"))
                  == read(os.path.join(phone, "Music", "Rock", "Live", "encore.mp3")), r.stderr)
            # Destinations as cp has them, and patterns matched against the phone's listing.
            loud = read(os.path.join(phone, "Music", "Rock", "loud.mp3"))
            dest_cases = [
                ("into the current folder", ["Music/first song.mp3"], 0, {"first song.mp3": song}),
                ("to a new file name", ["Music/Rock/loud.mp3", "renamed.mp3"], 0, {"renamed.mp3": loud}),
                ("with a pattern into a new folder", ["music/*/*.MP3", "globbed"], 0, {"globbed/loud.mp3": loud}),
                ("with a pattern that matches nothing", ["Music/*.ogg", "none"], 7, {"none": None}),
                ("to a file in a missing folder", ["Music/Rock/loud.mp3", "no/where.mp3"], 7, {"no": None}),
            ]
            for (name, args, code, made), r in zip(dest_cases, run_all(kiv_apart, [["get", *c[1]] for c in dest_cases])):
                check("get " + name, r.returncode == code and all(
                    (read(os.path.join(pc, f)) if os.path.exists(os.path.join(pc, f)) else None) == data
                    for f, data in made.items()), (r.returncode, r.stderr))
            r = kiv_apart("get", "Music/Rock/loud.mp3", "Music/Rock/Live/encore.mp3", "-", text=False)
            check("get - writes the files to standard output only", r.returncode == 0 and r.stdout ==
                  loud + read(os.path.join(phone, "Music", "Rock", "Live", "encore.mp3")) and b"get loud.mp3" in r.stderr,
                  r.stderr)
            write(os.path.join(out, "first song.mp3"), b"mine")
            r = kiv("--no-clobber", "get", "Music/first song.mp3", "out")
            check("get --no-clobber keeps the PC file",
                  r.returncode == 0 and read(os.path.join(out, "first song.mp3")) == b"mine" and "skipped" in r.stderr, r.stderr)
            r = kiv("get", "Music/first song.mp3", "out")
            check("get replaces a PC file by default", r.returncode == 0 and read(os.path.join(out, "first song.mp3")) == song)
            r = kiv("get", "Java/game.jar", "out")
            check("type refused to the PC", r.returncode == 5 and "files of type jar may not be copied to the PC" in r.stderr
                  and not os.path.exists(os.path.join(out, "game.jar")), r.stderr)

            # ---- put ----------------------------------------------------------------------------------
            tune = os.urandom(90000)
            write(os.path.join(pc, "tune.mp3"), tune)
            r = kiv("put", "tune.mp3", "Music")
            check("put exits 0 and copies the bytes", r.returncode == 0 and read(os.path.join(phone, "Music", "tune.mp3")) == tune,
                  r.stderr)
            check("put prints a line per file", "put tune.mp3 90000/90000" in r.stderr, r.stderr)
            newer = os.urandom(50000)
            write(os.path.join(pc, "tune.mp3"), newer)
            overwrite_cases = [
                ("without a terminal keeps the phone file", [], tune, "skipped"),
                ("--no-clobber keeps the phone file", ["--no-clobber"], tune, "skipped"),
                ("--yes replaces the phone file", ["--yes"], newer, "put tune.mp3 50000/50000"),
            ]
            for name, flags, expected, text in overwrite_cases:
                r = kiv(*flags, "put", "tune.mp3", "Music")
                check("put " + name, r.returncode == 0 and read(os.path.join(phone, "Music", "tune.mp3")) == expected
                      and text in r.stderr, (r.returncode, r.stderr))
            write(os.path.join(pc, "moved.mp3"), b"m" * 3000)
            r = kiv("put", "--move", "moved.mp3", "Music/Rock")
            check("put --move removes the PC file", r.returncode == 0 and not os.path.exists(os.path.join(pc, "moved.mp3"))
                  and read(os.path.join(phone, "Music", "Rock", "moved.mp3")) == b"m" * 3000, r.stderr)
            r = kiv("put", "--from-phone", "Music/Rock/moved.mp3", "Pictures")
            check("put --from-phone copies on the phone", r.returncode == 0
                  and read(os.path.join(phone, "Pictures", "moved.mp3")) == b"m" * 3000
                  and os.path.exists(os.path.join(phone, "Music", "Rock", "moved.mp3")), r.stderr)
            r = kiv("put", "--from-phone", "--move", "Pictures/moved.mp3", "Java")
            check("put --from-phone --move moves on the phone", r.returncode == 0
                  and os.path.exists(os.path.join(phone, "Java", "moved.mp3"))
                  and not os.path.exists(os.path.join(phone, "Pictures", "moved.mp3")), r.stderr)
            r = kiv("--yes", "put", "--from-phone", "Music/tune.mp3", "Music")
            check("put --from-phone into its own folder is refused",
                  r.returncode == 5 and read(os.path.join(phone, "Music", "tune.mp3")) == newer, r.stderr)
            write(os.path.join(pc, "note.txt"), b"note")
            put_failures = [
                ("of a missing PC file", ["put", "absent.mp3", "Music"], 7, "no such file on the PC"),
                ("into a missing folder", ["put", "tune.mp3", "Music/Nothing"], 7, "no such file or folder"),
                ("of a type the phone refuses", ["put", "note.txt", "Music"], 5, "may not be copied to the phone"),
                ("into a file", ["put", "tune.mp3", "Music/tune.mp3"], 2, "not a folder"),
                ("of a folder without -R", ["put", "out", "Music"], 2, "put -R"),
            ]
            for name, args, code, text in put_failures:
                r = kiv(*args)
                check("put " + name, r.returncode == code and text in r.stderr, (r.returncode, r.stderr))

            write(os.path.join(pc, "album", "one.mp3"), b"1")
            write(os.path.join(pc, "album", "disc 2", "two.mp3"), b"22")
            r = kiv("put", "-R", "album", "Music")
            check("put -R makes the folders on the phone", r.returncode == 0
                  and read(os.path.join(phone, "Music", "album", "disc 2", "two.mp3")) == b"22"
                  and read(os.path.join(phone, "Music", "album", "one.mp3")) == b"1", r.stderr)
            for name in ("x1.mp3", "x2.mp3"):
                write(os.path.join(phone, "Music", "album", name), b"x")

            # ---- mkdir, mv, rm --------------------------------------------------------------------------
            tree_cases = [
                ("mkdir makes a folder", ["mkdir", "Music/New"], 0, lambda: os.path.isdir(os.path.join(phone, "Music", "New"))),
                ("mkdir of an existing folder fails", ["mkdir", "Music/New"], 5, lambda: True),
                ("mkdir without parents fails", ["mkdir", "Music/A/B"], 7,
                 lambda: not os.path.exists(os.path.join(phone, "Music", "A"))),
                ("mkdir -p makes the parents", ["mkdir", "-p", "Music/A/B"], 0,
                 lambda: os.path.isdir(os.path.join(phone, "Music", "A", "B"))),
                ("mkdir -p of an existing folder is fine", ["mkdir", "-p", "Music/A"], 0, lambda: True),
                ("mv renames a file in place", ["mv", "Music/tune.mp3", "song.mp3"], 0,
                 lambda: os.path.exists(os.path.join(phone, "Music", "song.mp3"))
                 and not os.path.exists(os.path.join(phone, "Music", "tune.mp3"))),
                ("rename moves a file into a folder", ["rename", "Music/song.mp3", "Music/New"], 0,
                 lambda: read(os.path.join(phone, "Music", "New", "song.mp3")) == newer),
                ("mv moves and renames", ["mv", "Music/New/song.mp3", "Music/A/other.mp3"], 0,
                 lambda: read(os.path.join(phone, "Music", "A", "other.mp3")) == newer),
                ("mv onto an existing file fails", ["mv", "Music/A/other.mp3", "Music/first song.mp3"], 5,
                 lambda: read(os.path.join(phone, "Music", "first song.mp3")) == song),
                ("mv renames a renamable folder", ["mv", "Music/Rock", "Music/Pop"], 0,
                 lambda: os.path.isdir(os.path.join(phone, "Music", "Pop", "Live"))),
                ("mv of a folder the phone keeps fails", ["mv", "Music/New", "Music/Newer"], 5,
                 lambda: os.path.isdir(os.path.join(phone, "Music", "New"))),
                ("rm of a folder needs -r", ["rm", "Music/A"], 2, lambda: os.path.isdir(os.path.join(phone, "Music", "A"))),
                ("rm deletes a file", ["rm", "Music/A/other.mp3"], 0,
                 lambda: not os.path.exists(os.path.join(phone, "Music", "A", "other.mp3"))),
                ("rm reports a missing name and deletes the others", ["rm", "Music/album/x1.mp3", "Music/none.mp3"], 7,
                 lambda: not os.path.exists(os.path.join(phone, "Music", "album", "x1.mp3"))),
                ("rm -f ignores missing names", ["rm", "-f", "Music/none.mp3", "Music/album/x*", "Music/*.ogg"], 0,
                 lambda: not os.path.exists(os.path.join(phone, "Music", "album", "x2.mp3"))),
                ("rm -r deletes folders with contents", ["rm", "-r", "Music/A", "Music/Pop", "Music/album"], 0,
                 lambda: not os.path.exists(os.path.join(phone, "Music", "A"))
                 and not os.path.exists(os.path.join(phone, "Music", "Pop"))),
                ("rm -r of a fixed folder fails", ["rm", "-r", "Music/Fixed"], 5,
                 lambda: os.path.isdir(os.path.join(phone, "Music", "Fixed"))),
            ]
            for name, args, code, effect in tree_cases:
                r = kiv(*args)
                check(name, r.returncode == code and effect(), (r.returncode, r.stderr))
            r = kiv("mv", "Music/New", "Music/Newer")
            check("a refused rename says why", "does not let folder Music\\New be renamed" in r.stderr, r.stderr)
            os.makedirs(os.path.join(pc, "Music", "New"))
            r = kiv("rm", "-r", "Music/New")
            check("rm refuses when a PC folder has the phone path", r.returncode == 5 and "PC folder" in r.stderr
                  and os.path.isdir(os.path.join(phone, "Music", "New")), r.stderr)
            shutil.rmtree(os.path.join(pc, "Music"))

            # ---- df -----------------------------------------------------------------------------------
            r = kiv("--json", "df", "Music")
            data = json.loads(r.stdout)
            check("df --json", r.returncode == 0 and len(data) == 1 and data[0]["path"] == "Music"
                  and data[0]["total"] == 100000000 and 0 < data[0]["free"] <= data[0]["total"]
                  and data[0]["used"] == data[0]["total"] - data[0]["free"], r.stdout)
            r = kiv("df", "Music")
            check("df is readable", r.returncode == 0 and re.search(r"^Music\s+95\.4M\s+\S+\s+\S+\s+\d+%$", r.stdout, re.M),
                  r.stdout)

        if part == "terminal":
            # ---- questions at a terminal ----------------------------------------------------------------
            def at_terminal(args, answers, seconds=30):
                """Runs the tool with a terminal as standard input and error; answers each question."""
                master, slave = pty.openpty()
                p = subprocess.Popen([tool, *link, *args], stdin=slave, stderr=slave, stdout=subprocess.DEVNULL, env=env,
                                     cwd=pc)
                os.close(slave)
                seen = b""
                asked = 0
                end = time.monotonic() + seconds
                while time.monotonic() < end:
                    ready, _, _ = select.select([master], [], [], 0.1)
                    if ready:
                        try:
                            chunk = os.read(master, 4096)
                        except OSError:
                            break
                        if not chunk:
                            break
                        seen += chunk
                        if answers and seen.count(b"[y/N/a]") > asked:
                            asked += 1
                            os.write(master, answers.pop(0) + b"\n")
                    elif p.poll() is not None:
                        break
                try:
                    code = p.wait(timeout=max(1, end - time.monotonic()))
                except subprocess.TimeoutExpired:
                    p.kill()
                    code = None
                os.close(master)
                return code, seen.decode(errors="replace")

            first = os.path.join(phone, "Music", "first song.mp3")
            other = os.urandom(40000)
            write(os.path.join(pc, "first song.mp3"), other)
            write(os.path.join(pc, "second.mp3"), other)
            write(os.path.join(phone, "Music", "second.mp3"), b"old")
            terminal_cases = [
                ("no keeps the phone files", [b"n", b"n"], song, b"old", 2),
                ("yes replaces that file only", [b"y", b"n"], other, b"old", 2),
                ("all replaces the rest unasked", [b"a"], other, other, 1),
            ]
            for name, answers, expect_first, expect_second, asked in terminal_cases:
                write(first, song)
                write(os.path.join(phone, "Music", "second.mp3"), b"old")
                code, screen = at_terminal(["put", "first song.mp3", "second.mp3", "Music"], list(answers))
                check("terminal: " + name, code == 0 and read(first) == expect_first
                      and read(os.path.join(phone, "Music", "second.mp3")) == expect_second
                      and screen.count("overwrite Music\\") == asked, (code, screen))
            check("terminal: the progress line is redrawn", "\r" in screen and "done" in screen, screen)

            # ---- detect: a phone on a serial device (the simulated phone on a pseudo-terminal) -------
            simulator = os.path.join(os.path.dirname(tool), "kivmod-phonesim")
            if os.path.exists(simulator):
                sim = subprocess.Popen([simulator, "--config", config, phone], stdout=subprocess.PIPE, text=True, env=env)
                expected = json.loads(kiv("--json", "info").stdout)
                try:
                    device = sim.stdout.readline().strip().rsplit("serial:", 1)[-1]
                    r = run("--json", "detect", device, "/dev/ttyKIV9", env=env)
                    found = json.loads(r.stdout) if r.stdout else []
                    check("detect finds the phone on its device and says why others failed",
                          r.returncode == 0 and found == [{"link": "serial:" + device, "model": expected["model"],
                                                           "version": expected["version"]}]
                          and "/dev/ttyKIV9: No such file" in r.stderr, (r.returncode, r.stdout, r.stderr))
                finally:
                    sim.terminate()
                    sim.wait()
            r = run("detect", "/dev/ttyKIV9", env=env)
            check("detect without a phone exits 3", r.returncode == 3 and "no phone answered" in r.stderr, r.stderr)
            adapters = os.listdir("/sys/class/bluetooth") if os.path.isdir("/sys/class/bluetooth") else []
            if not adapters:
                r = run("--json", "detect", env=env)
                check("detect without a Bluetooth adapter says so and goes on", r.returncode == 3 and json.loads(r.stdout) == []
                      and "Bluetooth phones not searched" in r.stderr, (r.returncode, r.stderr))

            # ---- display: wide names, names that are not UTF-8, JSON read back ------------------------
            wide = "歌" * 60 + ".mp3"
            write(os.path.join(pc, wide), b"w" * 5000)
            code, screen = at_terminal(["--yes", "put", wide, "Music"], [])
            check("terminal: a wide name is cut between characters", code == 0 and "\ufffd" not in screen and "歌..." in screen,
                  (code, screen))
            write(os.fsencode(os.path.join(phone, "Pictures")) + b"/bad\xff.jpg", b"j")
            r = run(*link, "--json", "ls", "Pictures", env=dict(env, TZ="Asia/Kolkata"), cwd=pc)
            files = json.loads(r.stdout)["files"] if r.returncode == 0 else []
            check("ls --json stays valid JSON and times carry the UTC offset",
                  len(files) == 1 and files[0]["name"].startswith("bad") and files[0]["time"].endswith("+05:30"), r.stdout)
            os.remove(os.fsencode(os.path.join(phone, "Pictures")) + b"/bad\xff.jpg")

            # PC names that are not text in the locale are refused before anything is sent.
            bad = os.path.join(os.fsencode(pc), b"caf\xe9.mp3")
            write(bad, b"x" * 100)
            before = sorted(os.listdir(os.path.join(phone, "Music")))
            for locale_name in ("C", "C.UTF-8"):
                r = run(*link, "put", os.fsdecode(bad), "Music", env=dict(env, LC_ALL=locale_name), cwd=pc)
                check("put refuses a name that is not text (" + locale_name + ")", r.returncode == 2
                      and "caf\\xE9.mp3 is not valid text" in r.stderr
                      and sorted(os.listdir(os.path.join(phone, "Music"))) == before, (r.returncode, r.stderr))
            os.remove(bad)

            # ---- Ctrl-C during a slow copy, then resume -------------------------------------------------
            configure('<phone delayMs="5" maxPacket="2048"><internal total="100000000"/></phone>')
            big = os.urandom(3000000)
            write(os.path.join(pc, "big.bin"), big)
            target = os.path.join(phone, "Music", "big.bin")

            def cancelled_put():
                p = subprocess.Popen([tool, *link, "put", "big.bin", "Music"], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, cwd=pc)
                started = wait_for(lambda: os.path.exists(target) and os.path.getsize(target) > 0, 15)
                p.send_signal(signal.SIGINT)
                try:
                    _, err = p.communicate(timeout=15)
                except subprocess.TimeoutExpired:
                    p.kill()
                    return None, "", started
                return p.returncode, err, started

            code, err, started = cancelled_put()
            partial = os.path.getsize(target) if os.path.exists(target) else 0
            check("Ctrl-C cancels a put with exit 6", started and code == 6 and "kivmod: cancelled" in err, (code, err))
            check("a cancelled put leaves a partial phone file", 0 < partial < len(big), partial)
            check("a cancelled put tells how to resume", "kivmod resume" in err, err)
            configure('<phone><internal total="100000000"/></phone>')
            r = kiv("resume", "--discard")
            check("resume --discard drops the partial file", r.returncode == 0 and not os.path.exists(target), r.stderr)
            r = kiv("resume")
            check("resume with nothing to resume fails", r.returncode == 5 and "no interrupted copy" in r.stderr, r.stderr)
            # A record whose PC file is gone cannot be resumed, but --discard still clears it.
            with open(os.path.join(work, "ResumeFiles.txt"), "w") as f:
                f.write(os.path.join(pc, "gone.bin") + "\tMusic")
            r = kiv("resume", "--discard")
            check("resume --discard clears a stale record", r.returncode == 0 and kiv("resume").returncode == 5
                  and "no interrupted copy" in kiv("resume").stderr, r.stderr)
            configure('<phone delayMs="5" maxPacket="2048"><internal total="100000000"/></phone>')
            code, err, started = cancelled_put()
            check("a second Ctrl-C run cancels too", code == 6, (code, err))
            configure('<phone><internal total="100000000"/></phone>')
            r = kiv("resume", timeout=60)
            check("resume completes the copy", r.returncode == 0 and read(target) == big, (r.returncode, r.stderr))

            # ---- a locked phone -------------------------------------------------------------------------
            configure('<phone locked="1"/>')
            r = kiv("info")
            check("locked phone exits 4", r.returncode == 4 and "locked" in r.stderr)

        if part == "music":
            # ---- playlists and sounds -----------------------------------------------------------------
            configure('<phone maxPacket="256"><internal total="100000000"/></phone>')
            write(os.path.join(pc, "list.txt"), "Music/first song.mp3:Music/Rock/loud.mp3".encode())
            r = kiv("playlist", "put", "Mix", "list.txt")
            check("playlist put", r.returncode == 0 and os.path.exists(os.path.join(phone, "Playlists", "Mix.m3u8")), r.stderr)
            r = kiv("playlist", "put", "Mix", "list.txt")
            check("playlist put does not replace without --replace", r.returncode == 5 and "--replace" in r.stderr, r.stderr)
            r = kiv("playlist", "put", "--replace", "Mix", "list.txt")
            check("playlist put --replace", r.returncode == 0, r.stderr)
            r = kiv("--json", "playlist", "show", "Mix")
            check("playlist show --json", r.returncode == 0 and json.loads(r.stdout)["songs"][1] == "Music/Rock/loud.mp3", r.stdout)
            r = kiv("playlist", "get", "Mix", "back.txt")
            check("playlist get is byte-identical", r.returncode == 0 and read(os.path.join(pc, "back.txt")) == read(os.path.join(pc, "list.txt")))
            r = kiv("playlist", "mv", "Mix", "Party")
            listed = kiv("playlist", "ls")
            check("playlist mv", r.returncode == 0 and listed.stdout == "Party\n", (r.stderr, listed))
            check("playlist rm of a missing one exits 7", kiv("playlist", "rm", "Mix").returncode == 7)
            check("playlist rm", kiv("playlist", "rm", "Party").returncode == 0 and kiv("playlist", "ls").stdout == "")
            check("unknown playlist command is usage", kiv("playlist", "frob").returncode == 2)
            r = kiv("--json", "sounds")
            paths = [x["path"] for x in json.loads(r.stdout)] if r.returncode == 0 else []
            check("sounds --json lists the audio files only", "Music\\first song.mp3" in paths and
                  not any(p.endswith(".jar") for p in paths), r.stdout)
            # ---- backup, backup-info, restore ------------------------------------------------------------
            configure('<phone><internal total="100000000"/></phone>')

            def tree(root):
                out = {}
                for base, dirs, files in os.walk(root):
                    for d in dirs:
                        out[os.path.relpath(os.path.join(base, d), root)] = None
                    for f in files:
                        out[os.path.relpath(os.path.join(base, f), root)] = read(os.path.join(base, f))
                return out

            kbk = os.path.join(top, "phone.kbk")
            r = kiv("--json", "backup", kbk, timeout=60)
            check("backup exits 0", r.returncode == 0 and json.loads(r.stdout)["complete"], (r.stdout, r.stderr))
            check("backup prints a line per file", "backup [" in r.stderr and "first song.mp3" in r.stderr, r.stderr)
            r = kiv("--json", "backup-info", kbk)
            info = json.loads(r.stdout) if r.returncode == 0 else {}
            check("backup-info reads it as usable", info.get("usable") and
                  any(f["path"].endswith("first song.mp3") and f["size"] == os.path.getsize(os.path.join(phone, "Music", "first song.mp3"))
                      for f in info.get("files", [])), r.stdout)
            empty = os.path.join(top, "empty-phone")
            os.mkdir(empty)
            r = run("--link", "sim:" + empty, "restore", kbk, env=env, cwd=pc, timeout=60)
            check("restore onto an empty phone gives the same tree", r.returncode == 0 and tree(empty) == tree(phone),
                  r.stderr)
            cut = os.path.join(top, "cut.kbk")
            write(cut, read(kbk)[:-100])
            r = kiv("backup-info", cut)
            check("backup-info names a cut file as not usable", r.returncode == 5 and "NOT usable" in r.stdout, r.stdout)
            r = run("--link", "sim:" + empty, "restore", cut, env=env, cwd=pc)
            check("restore refuses a cut file", r.returncode == 5 and "Invalid Format" in r.stderr, r.stderr)
            configure('<phone><internal total="100000000"/><backup password="pw"/></phone>')
            r = run("--link", "sim:" + empty, "restore", kbk, env=env, cwd=pc)
            check("restore without the password fails", r.returncode == 5 and "--password" in r.stderr, r.stderr)
            r = run("--link", "sim:" + empty, "restore", "--password", "pw", kbk, env=env, cwd=pc)
            check("restore with --password", r.returncode == 0, r.stderr)
            master, slave = pty.openpty()
            p = subprocess.Popen([tool, "--link", "sim:" + empty, "restore", kbk], stdin=slave, stderr=slave,
                                 stdout=subprocess.DEVNULL, env=env, cwd=pc)
            os.close(slave)
            seen = b""
            end = time.monotonic() + 30
            while time.monotonic() < end and b"Password" not in seen:
                if select.select([master], [], [], 0.1)[0]:
                    seen += os.read(master, 4096)
            os.write(master, b"pw\n")
            try:
                code = p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()
                code = None
            os.close(master)
            check("restore asks for the password at a terminal", code == 0 and b"Password" in seen, (code, seen))


    # ---- hardening: nothing lost, nothing reported wrong ------------------------------------
def hardening_cases():
    with tempfile.TemporaryDirectory() as top:
        phone, pc, work = (os.path.join(top, d) for d in ("phone", "pc", "work"))
        for d in (phone, pc, work):
            os.mkdir(d)
        os.mkdir(os.path.join(phone, "Music"))
        config = os.path.join(top, "phone.xml")
        env = dict(os.environ, KIVMOD_SIM_CONFIG=config, KIVMOD_WORKDIR=work, XDG_CONFIG_HOME=top)
        env.pop("KIVMOD_LINK", None)
        link = ["--link", "sim:" + phone]

        def configure(text):
            with open(config, "w") as f:
                f.write('<phone maxPacket="2048"><internal total="100000000"/>' + text + '</phone>')

        def kiv(*args, **kw):
            return run(*link, *args, env=env, cwd=pc, **kw)

        def leftovers(folder):
            return [n for n in os.listdir(folder) if n.startswith(".kivmod-")]

        big = os.urandom(10000)
        write(os.path.join(phone, "Music", "big.mp3"), big)
        write(os.path.join(pc, "out", "big.mp3"), b"older")
        # A copy that fails after its first piece leaves the older PC file as it was.
        configure('<fault code="0x20" kind="result" value="0x23"/>')
        r = kiv("get", "Music/big.mp3", "out")
        check("failed get keeps the older PC file", r.returncode == 5
              and read(os.path.join(pc, "out", "big.mp3")) == b"older" and not leftovers(os.path.join(pc, "out")),
              (r.returncode, r.stderr))
        # A killed copy's temporary goes with the next copy into that folder.
        write(os.path.join(pc, "out", ".kivmod-999999999-0.part"), b"partial")
        configure("")
        r = kiv("get", "Music/big.mp3", "out")
        check("next get replaces and sweeps a dead copy's temporary", r.returncode == 0
              and read(os.path.join(pc, "out", "big.mp3")) == big and not leftovers(os.path.join(pc, "out")), r.stderr)
        # The last-piece mark ends a copy; a size other than the listed one is said, and fails.
        write(os.path.join(phone, "Music", "t.mp3"), os.urandom(100))
        configure('<fault code="0x06" kind="truncate" length="79"/>')
        r = kiv("get", "Music/t.mp3", "out")
        check("a short copy is reported", r.returncode == 5 and "received 40 bytes, the phone listed 100" in r.stderr,
              (r.returncode, r.stderr))
        configure("")
        # An unsafe name is reported (which and why); the good file beside it is copied.
        write(os.path.join(phone, "Music", "Odd", "a:b.mp3"), b"x")
        write(os.path.join(phone, "Music", "Odd", "good.mp3"), b"good")
        r = kiv("get", "-R", "Music/Odd", "tree")
        check("get -R goes on past an unsafe name", r.returncode == 5
              and read(os.path.join(pc, "tree", "Odd", "good.mp3")) == b"good"
              and "a:b.mp3" in r.stderr and "colon" in r.stderr, (r.returncode, r.stderr))
        # Names from the phone are shown with control characters escaped.
        write(os.path.join(phone, "Music", "Odd", "tab\t.mp3"), b"t")
        r = kiv("ls", "Music/Odd")
        check("ls escapes control characters", "tab\\t.mp3" in r.stdout.splitlines(), r.stdout)
        r = kiv("get", "Music/big.mp3", "a\\b")
        check("a PC folder with a backslash is refused", r.returncode == 2 and "backslash" in r.stderr,
              (r.returncode, r.stderr))
        check("a refused target makes nothing", not os.path.exists(os.path.join(pc, "a\\b")), os.listdir(pc))
        # A target that is a folder is named as the reason.
        os.makedirs(os.path.join(pc, "dirs", "big.mp3"))
        r = kiv("get", "Music/big.mp3", "dirs")
        check("a folder at the target is said", r.returncode == 5 and "is a folder" in r.stderr, r.stderr)

        # The resume hint follows the record: a copy cut at its first piece can be resumed, a
        # killed one too, and a full phone offers nothing.
        write(os.path.join(pc, "song.mp3"), big)
        target = os.path.join(phone, "Music", "song.mp3")
        configure('<fault code="0x05" kind="result" value="0x23" times="1"/>')
        r = kiv("put", "song.mp3", "Music")
        check("a put cut at its first piece offers resume", r.returncode == 5 and "kivmod resume" in r.stderr, r.stderr)
        if os.path.exists(target):
            os.remove(target)  # nothing of it reached the phone
        configure("")
        r = kiv("resume")
        check("resume sends a copy that never reached the phone", r.returncode == 0 and read(target) == big,
              (r.returncode, r.stderr))
        check("a completed resume leaves nothing to resume", "kivmod resume" not in kiv("resume").stderr)
        os.remove(target)
        configure('<internal total="5000"/>')
        r = kiv("put", "song.mp3", "Music")
        check("a full phone offers no resume", r.returncode == 5 and "kivmod resume" not in r.stderr, r.stderr)
        with open(config, "w") as f:
            f.write('<phone delayMs="5" maxPacket="2048"><internal total="100000000"/></phone>')
        write(os.path.join(pc, "long.mp3"), os.urandom(400000))
        long_target = os.path.join(phone, "Music", "long.mp3")
        p = subprocess.Popen([tool, *link, "put", "long.mp3", "Music"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, cwd=pc)
        started = wait_for(lambda: os.path.exists(long_target) and os.path.getsize(long_target) > 0, 15)
        p.kill()
        p.wait()
        configure("")
        r = kiv("resume", timeout=60)
        check("a killed put can be resumed", started and r.returncode == 0
              and read(long_target) == read(os.path.join(pc, "long.mp3")), (started, r.returncode, r.stderr))


# ---- java and mail: their own sessions -------------------------------------------------------
def family_cases():
    with tempfile.TemporaryDirectory() as top:
        import email
        import email.policy
        import zipfile
        phone, pc = os.path.join(top, "phone"), os.path.join(top, "pc")
        os.makedirs(os.path.join(phone, "Java"))
        os.makedirs(pc)
        env = dict(os.environ, KIVMOD_WORKDIR=top, XDG_CONFIG_HOME=top)
        env.pop("KIVMOD_SIM_CONFIG", None)

        def kiv(*args):
            return run("--link", "sim:" + phone, *args, env=env)

        jar = os.path.join(pc, "snake.jar")
        with zipfile.ZipFile(jar, "w") as z:
            z.writestr("META-INF/MANIFEST.MF", "MIDlet-Name: Snake\nMIDlet-Version: 1.2\nMIDlet-Vendor: Kiv\n")
        r = kiv("java", "install", jar)
        check("java install names the application", r.returncode == 0 and "installed Snake 1.2" in r.stdout, r)
        apps = read(os.path.join(phone, "installed-apps.txt")).decode()
        check("the phone lists the installed application", apps.startswith("Snake\t1.2\tKiv\tJava/snake.jar"), apps)
        write(os.path.join(pc, "bad.jar"), b"no zip")
        r = kiv("java", "install", os.path.join(pc, "bad.jar"))
        check("a refused install exits 5", r.returncode == 5 and "did not install" in r.stderr, r)
        r = kiv("java", "rm", "missing.jar")
        check("java rm of a missing file exits 7", r.returncode == 7, r)
        r = kiv("java", "install")
        check("java install without a file is a usage error", r.returncode == 2, r)

        write(os.path.join(pc, "body.txt"), "Hello Bob\n".encode())
        write(os.path.join(pc, "a", "one.bin"), os.urandom(2000))
        write(os.path.join(pc, "b", "two.bin"), os.urandom(3333))
        r = kiv("mail", "send", "--to", "bob@example.org", "--subject", "Grüße", "--body", os.path.join(pc, "body.txt"),
                "--attach", os.path.join(pc, "a", "one.bin"), "--attach", os.path.join(pc, "b", "two.bin"))
        check("mail send reports each part", r.returncode == 0 and r.stderr.count(": sent") == 3, r)
        eml = os.path.join(phone, "Outbox", "message-0001.eml")
        msg = email.message_from_bytes(read(eml), policy=email.policy.default) if os.path.exists(eml) else None
        parts = list(msg.iter_attachments()) if msg else []
        check("the outbox message parses back", msg is not None and msg["subject"] == "Grüße" and
              [p.get_content() for p in parts] == [read(os.path.join(pc, "a", "one.bin")),
                                                   read(os.path.join(pc, "b", "two.bin"))], eml)
        r = kiv("mail", "send", "--to", "bob@example.org", "--subject", "x", "--body", os.path.join(pc, "none.txt"))
        check("an unreadable body is not sent", r.returncode == 5 and "body none.txt: failed" in r.stderr, r)
        r = kiv("mail", "limits")
        check("mail limits prints the header buffer", r.returncode == 0 and "header buffer: 23184 bytes" in r.stdout, r)


# The groups have phones, PC folders and configuration folders of their own: they run at
# the same time (most of a run is the library's pause after disconnecting).
with concurrent.futures.ThreadPoolExecutor(max_workers=5) as pool:
    for group in [pool.submit(f, *a) for f, *a in ((phone_cases, "files"), (phone_cases, "terminal"),
                                                   (phone_cases, "music"), (hardening_cases,), (family_cases,))]:
        group.result()
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
