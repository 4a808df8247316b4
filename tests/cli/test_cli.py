"""The kivmod tool through its process: exit codes and output against the simulated phone.

Every connecting run pauses half a second as it disconnects, so the cases run in groups side
by side, each group on its own simulated phone; cases that change nothing run all at once."""
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
failures = []
lock = threading.Lock()
checked = [0]


def check(name, condition, detail=""):
    with lock:
        checked[0] += 1
        if not condition:
            failures.append(name)
            print("FAIL:", name, detail)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run(*args, env=None, cwd=None, timeout=30):
    return subprocess.run([tool, *args], capture_output=True, text=True, timeout=timeout, env=env,
                          stdin=subprocess.DEVNULL, cwd=cwd)


def in_parallel(function, cases):
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        list(pool.map(lambda case: function(*case), cases))


TYPES = '<types>mp3|3|0/jar|2|1000/txt|1|0</types><internal total="100000000"/>'
SETTINGS = ('<phone model="cli phone" version="3">' + TYPES +
            '<folder path="Music\\Rock" attr="0x0400"/><folder path="Music\\Fixed" attr="0x4000"/></phone>')


class Phone:
    """A simulated phone of its own (folder, settings, PC folder, work folder) and the tool on it."""

    def __init__(self, top, name):
        self.base = os.path.join(top, name)
        self.phone, self.pc = os.path.join(self.base, "phone"), os.path.join(self.base, "pc")
        self.song, self.rock = os.urandom(120000), os.urandom(3000)
        write(self.at("Music", "first song.mp3"), self.song)
        write(self.at("Music", "Rock", "loud.mp3"), self.rock)
        write(self.at("Music", "Rock", "Live", "encore.mp3"), os.urandom(5000))
        write(self.at("Java", "game.jar"), os.urandom(700))
        for d in ("Music/Fixed", "Pictures", "../pc", "../work"):
            os.makedirs(os.path.join(self.phone, d))
        self.config = os.path.join(self.base, "phone.xml")
        self.configure(SETTINGS)
        self.env = dict(os.environ, KIVMOD_SIM_CONFIG=self.config, KIVMOD_WORKDIR=os.path.join(self.base, "work"))
        self.env.pop("KIVMOD_LINK", None)
        self.link = ["--link", "sim:" + self.phone]

    def at(self, *parts):
        return os.path.join(self.phone, *parts)

    def configure(self, text):
        with open(self.config, "w") as f:
            f.write(text)

    def kiv(self, *args, **kw):
        return run(*self.link, *args, env=self.env, cwd=self.pc, **kw)


def usage_errors(top):
    """Command-line errors, found before any connection is tried."""
    cases = [
        (["frobnicate"], "unknown command"), (["--bogus", "info"], "unknown option"), (["ls", "-x"], "unknown option"),
        ([], "no command"), (["get", "Music/a.mp3"], "missing arguments"), (["mv", "Music/a.mp3"], "missing arguments"),
        (["ls", "Music", "Pictures"], "too many arguments"), (["info", "x"], "too many arguments"),
        (["get", "--move", "Music/a", "out"], "does not apply"), (["--json", "rm", "Music/a"], "does not apply"),
        (["--yes", "--no-clobber", "put", "a", "Music"], "exclude"), (["resume", "--restart", "--discard"], "exclude"),
        (["--spp", "info"], "--bt"), (["--bt", "00:11:22", "info"], "Bluetooth address"),
        (["--port", "zero", "info"], "--port"), (["info", "--link"], "needs a value")]

    def one(args, text):
        r = run(*args)
        check("usage: %s exits 2" % args, r.returncode == 2 and text in r.stderr, (r.returncode, r.stderr))
    in_parallel(one, cases)
    r = run("--help")
    check("help lists exit codes", r.returncode == 0 and "Exit codes" in r.stdout and "6 cancelled" in r.stdout)
    r = run("--link", "sim:/nonexistent/phone", "info")
    check("missing phone folder exits 3", r.returncode == 3 and "could not connect" in r.stderr, r.stderr)


def reading(top):
    """info, ls and df, and unknown paths: nothing changes, so every run goes at once (each
    with a work folder of its own: the listing passes through a file there)."""
    p = Phone(top, "reading")

    def expect(name, args, test, link=None):
        env = dict(p.env, KIVMOD_WORKDIR=tempfile.mkdtemp(dir=p.base))
        r = run(*args, env=dict(env, KIVMOD_LINK=link), cwd=p.pc) if link else run(*p.link, *args, env=env, cwd=p.pc)
        check(name, test(r), (r.returncode, r.stdout, r.stderr))

    def ls(lines):
        return lambda r: r.returncode == 0 and r.stdout.split("\n")[:-1] == lines

    def js(test):
        return lambda r: r.returncode == 0 and test(json.loads(r.stdout))

    def song_line(r):
        line = next((l for l in r.stdout.splitlines() if l.endswith("first song.mp3")), "")
        return re.match(r"^-\s+120000\s+\d{4}-\d\d-\d\d \d\d:\d\d\s+first song\.mp3$", line)

    def tree(data):
        rock = next(f for f in data["folders"] if f["name"] == "Rock")
        live = rock["folders"][0]
        return (data["path"] == "Music" and live["path"] == "Music\\Rock\\Live" and live["files"][0]["size"] == 5000
                and rock["flags"] == ["renamable"] and data["files"][0]["name"] == "first song.mp3"
                and re.match(r"\d{4}-\d\d-\d\dT", data["files"][0]["time"]))

    def df(data):
        d = data[0]
        return len(data) == 1 and d["path"] == "Music" and d["total"] == 100000000 and 0 < d["free"] <= d["total"] \
            and d["used"] == d["total"] - d["free"]

    cases = [
        ("info", ["info"], lambda r: r.returncode == 0 and all(t in r.stdout for t in ("CLI PHONE", "Music/", "Pictures/"))),
        ("json info", ["--json", "info"], js(lambda d: d["version"] == 3 and [f["path"] for f in d["folders"]] ==
                                            ["Java", "Music", "Pictures"]
                                            and d["types"][1] == {"ext": "jar", "maxSize": 1000, "rules": 2})),
        ("KIVMOD_LINK is the default link", ["ls"], lambda r: r.returncode == 0 and "Music/" in r.stdout,
         "sim:" + p.phone),
        ("ls top level", ["ls"], ls(["Java/", "Music/", "Pictures/"])),
        ("ls a folder", ["ls", "Music"], ls(["Fixed/", "Rock/", "first song.mp3"])),
        ("ls slashes either way", ["ls", "Music\\Rock"], ls(["Live/", "loud.mp3"])),
        ("ls case of the typed path", ["ls", "music/ROCK/live"], ls(["encore.mp3"])),
        ("ls one file", ["ls", "Music/first song.mp3"], ls(["first song.mp3"])),
        ("ls -l shows size and local time", ["ls", "-l", "Music"], song_line),
        ("ls -l shows folder attributes", ["ls", "-l", "Music"],
         lambda r: re.search(r"^d .*Rock/\s+renamable$", r.stdout, re.M) and re.search(r"^d .*Fixed/\s+fixed$", r.stdout, re.M)),
        ("ls -R lists every level", ["ls", "-lR", "Music"], lambda r: "Music\\Rock\\Live:" in r.stdout and "encore.mp3" in r.stdout),
        ("ls --json -R nests folders", ["--json", "ls", "-R", "Music"], js(tree)),
        ("df --json", ["--json", "df", "Music"], js(df)),
        ("df is readable", ["df", "Music"], lambda r: re.search(r"^Music\s+95\.4M\s+\S+\s+\S+\s+\d+%$", r.stdout, re.M)),
    ] + [("unknown path exits 7: " + " ".join(a), a, lambda r: r.returncode == 7 and "no such file or folder" in r.stderr)
         for a in (["ls", "Music/Nothing"], ["ls", "Nowhere"], ["get", "Music/none.mp3", "out"], ["rm", "Music/none.mp3"],
                   ["mv", "Music/none.mp3", "x.mp3"], ["df", "Music/Nothing"])]
    in_parallel(expect, cases)


def getting(top):
    p = Phone(top, "get")
    out = os.path.join(p.pc, "out")
    r = p.kiv("get", "Music/first song.mp3", "Music/Rock/loud.mp3", "out")
    check("get copies the bytes", r.returncode == 0 and read(os.path.join(out, "first song.mp3")) == p.song
          and read(os.path.join(out, "loud.mp3")) == p.rock, r.stderr)
    check("get prints a line per file without a terminal", "get first song.mp3 120000/120000" in r.stderr, r.stderr)
    r = p.kiv("get", "Music/Rock", "out")
    check("get of a folder needs -R", r.returncode == 2 and "get -R" in r.stderr, r.stderr)
    r = p.kiv("get", "-R", "Music/Rock", "tree")
    check("get -R keeps the folders", r.returncode == 0 and read(os.path.join(p.pc, "tree", "Rock", "Live", "encore.mp3"))
          == read(p.at("Music", "Rock", "Live", "encore.mp3")), r.stderr)
    write(os.path.join(out, "first song.mp3"), b"mine")
    r = p.kiv("--no-clobber", "get", "Music/first song.mp3", "out")
    check("get --no-clobber keeps the PC file",
          r.returncode == 0 and read(os.path.join(out, "first song.mp3")) == b"mine" and "skipped" in r.stderr, r.stderr)
    r = p.kiv("get", "Music/first song.mp3", "out")
    check("get replaces a PC file by default", r.returncode == 0 and read(os.path.join(out, "first song.mp3")) == p.song)
    r = p.kiv("get", "Java/game.jar", "out")
    check("type refused to the PC", r.returncode == 5 and "files of type jar may not be copied to the PC" in r.stderr
          and not os.path.exists(os.path.join(out, "game.jar")), r.stderr)


def putting(top):
    p = Phone(top, "put")
    tune, newer = os.urandom(90000), os.urandom(50000)
    write(os.path.join(p.pc, "tune.mp3"), tune)
    r = p.kiv("put", "tune.mp3", "Music")
    check("put copies the bytes", r.returncode == 0 and read(p.at("Music", "tune.mp3")) == tune, r.stderr)
    check("put prints a line per file", "put tune.mp3 90000/90000" in r.stderr, r.stderr)
    write(os.path.join(p.pc, "tune.mp3"), newer)
    for name, flags, expected, text in [("without a terminal keeps the phone file", [], tune, "skipped"),
                                        ("--no-clobber keeps the phone file", ["--no-clobber"], tune, "skipped"),
                                        ("--yes replaces the phone file", ["--yes"], newer, "put tune.mp3 50000/50000")]:
        r = p.kiv(*flags, "put", "tune.mp3", "Music")
        check("put " + name, r.returncode == 0 and read(p.at("Music", "tune.mp3")) == expected and text in r.stderr,
              (r.returncode, r.stderr))
    write(os.path.join(p.pc, "moved.mp3"), b"m" * 3000)
    write(os.path.join(p.pc, "note.txt"), b"note")
    cases = [
        ("--move removes the PC file", ["put", "--move", "moved.mp3", "Music/Rock"], 0,
         lambda: not os.path.exists(os.path.join(p.pc, "moved.mp3")) and read(p.at("Music", "Rock", "moved.mp3")) == b"m" * 3000),
        ("--from-phone copies on the phone", ["put", "--from-phone", "Music/Rock/moved.mp3", "Pictures"], 0,
         lambda: read(p.at("Pictures", "moved.mp3")) == b"m" * 3000 and os.path.exists(p.at("Music", "Rock", "moved.mp3"))),
        ("--from-phone --move moves on the phone", ["put", "--from-phone", "--move", "Pictures/moved.mp3", "Java"], 0,
         lambda: os.path.exists(p.at("Java", "moved.mp3")) and not os.path.exists(p.at("Pictures", "moved.mp3"))),
        ("--from-phone into its own folder is refused", ["--yes", "put", "--from-phone", "Music/tune.mp3", "Music"], 5,
         lambda: read(p.at("Music", "tune.mp3")) == newer),
        ("of a missing PC file", ["put", "absent.mp3", "Music"], 7, "no such file on the PC"),
        ("into a missing folder", ["put", "tune.mp3", "Music/Nothing"], 7, "no such file or folder"),
        ("of a type the phone refuses", ["put", "note.txt", "Music"], 5, "may not be copied to the phone"),
        ("into a file", ["put", "tune.mp3", "Music/tune.mp3"], 2, "not a folder"),
    ]
    for name, args, code, effect in cases:
        r = p.kiv(*args)
        ok = effect() if callable(effect) else effect in r.stderr
        check("put " + name, r.returncode == code and ok, (r.returncode, r.stderr))


def changing(top):
    """mkdir, mv and rm, in order: each case works on what the ones before left."""
    p = Phone(top, "tree")
    tune = os.urandom(5000)
    write(p.at("Music", "tune.mp3"), tune)
    exists, isdir = lambda *a: os.path.exists(p.at(*a)), lambda *a: os.path.isdir(p.at(*a))
    cases = [
        ("mkdir makes a folder", ["mkdir", "Music/New"], 0, lambda: isdir("Music", "New")),
        ("mkdir of an existing folder fails", ["mkdir", "Music/New"], 5, lambda: True),
        ("mkdir without parents fails", ["mkdir", "Music/A/B"], 7, lambda: not exists("Music", "A")),
        ("mkdir -p makes the parents", ["mkdir", "-p", "Music/A/B"], 0, lambda: isdir("Music", "A", "B")),
        ("mkdir -p of an existing folder is fine", ["mkdir", "-p", "Music/A"], 0, lambda: True),
        ("mv renames a file in place", ["mv", "Music/tune.mp3", "song.mp3"], 0,
         lambda: exists("Music", "song.mp3") and not exists("Music", "tune.mp3")),
        ("rename moves a file into a folder", ["rename", "Music/song.mp3", "Music/New"], 0,
         lambda: read(p.at("Music", "New", "song.mp3")) == tune),
        ("mv moves and renames", ["mv", "Music/New/song.mp3", "Music/A/other.mp3"], 0,
         lambda: read(p.at("Music", "A", "other.mp3")) == tune),
        ("mv onto an existing file fails", ["mv", "Music/A/other.mp3", "Music/first song.mp3"], 5,
         lambda: read(p.at("Music", "first song.mp3")) == p.song),
        ("mv renames a renamable folder", ["mv", "Music/Rock", "Music/Pop"], 0, lambda: isdir("Music", "Pop", "Live")),
        ("mv of a folder the phone keeps fails", ["mv", "Music/New", "Music/Newer"], 5, lambda: isdir("Music", "New")),
        ("rm of a folder needs -r", ["rm", "Music/A"], 2, lambda: isdir("Music", "A")),
        ("rm deletes a file", ["rm", "Music/A/other.mp3"], 0, lambda: not exists("Music", "A", "other.mp3")),
        ("rm -r deletes folders with contents", ["rm", "-r", "Music/A", "Music/Pop"], 0,
         lambda: not exists("Music", "A") and not exists("Music", "Pop")),
        ("rm -r of a fixed folder fails", ["rm", "-r", "Music/Fixed"], 5, lambda: isdir("Music", "Fixed")),
    ]
    for name, args, code, effect in cases:
        r = p.kiv(*args)
        check(name, r.returncode == code and effect(), (r.returncode, r.stderr))
        if name == "mv of a folder the phone keeps fails":
            check("a refused rename says why", "does not let folder Music\\New be renamed" in r.stderr, r.stderr)
    os.makedirs(os.path.join(p.pc, "Music", "New"))
    r = p.kiv("rm", "-r", "Music/New")
    check("rm refuses when a PC folder has the phone path",
          r.returncode == 5 and "PC folder" in r.stderr and isdir("Music", "New"), r.stderr)


def at_terminal(p, args, answers, seconds=30):
    """Runs the tool with a terminal as standard input and error; answers each question."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([tool, *p.link, *args], stdin=slave, stderr=slave, stdout=subprocess.DEVNULL, env=p.env,
                            cwd=p.pc)
    os.close(slave)
    seen, asked, end = b"", 0, time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([master], [], [], 0.1)[0]:
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
        elif proc.poll() is not None:
            break
    try:
        code = proc.wait(timeout=max(1, end - time.monotonic()))
    except subprocess.TimeoutExpired:
        proc.kill()
        code = None
    os.close(master)
    return code, seen.decode(errors="replace")


def terminal(top):
    p = Phone(top, "terminal")
    first, second = p.at("Music", "first song.mp3"), p.at("Music", "second.mp3")
    other = os.urandom(40000)
    write(os.path.join(p.pc, "first song.mp3"), other)
    write(os.path.join(p.pc, "second.mp3"), other)
    for name, answers, expect_first, expect_second, asked in [
            ("no keeps the phone files", [b"n", b"n"], p.song, b"old", 2),
            ("yes replaces that file only", [b"y", b"n"], other, b"old", 2),
            ("all replaces the rest unasked", [b"a"], other, other, 1)]:
        write(first, p.song)
        write(second, b"old")
        code, screen = at_terminal(p, ["put", "first song.mp3", "second.mp3", "Music"], list(answers))
        check("terminal: " + name, code == 0 and read(first) == expect_first and read(second) == expect_second
              and screen.count("overwrite Music\\") == asked, (code, screen))
    check("terminal: the progress line is redrawn", "\r" in screen and "done" in screen, screen)


def cancelling(top):
    """Ctrl-C during a slow copy, then resume; and a locked phone."""
    p = Phone(top, "cancel")
    slow, plain = ('<phone delayMs="5" maxPacket="2048"><internal total="100000000"/></phone>',
                   '<phone><internal total="100000000"/></phone>')
    big = os.urandom(3000000)
    write(os.path.join(p.pc, "big.bin"), big)
    target = p.at("Music", "big.bin")

    def cancelled_put():
        p.configure(slow)
        proc = subprocess.Popen([tool, *p.link, "put", "big.bin", "Music"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=p.env, cwd=p.pc)
        end = time.monotonic() + 15
        while time.monotonic() < end and not (os.path.exists(target) and os.path.getsize(target) > 0):
            time.sleep(0.02)
        proc.send_signal(signal.SIGINT)
        try:
            err = proc.communicate(timeout=15)[1]
        except subprocess.TimeoutExpired:
            proc.kill()
            return None, ""
        p.configure(plain)
        return proc.returncode, err

    code, err = cancelled_put()
    partial = os.path.getsize(target) if os.path.exists(target) else 0
    check("Ctrl-C cancels a put with exit 6", code == 6 and "kivmod: cancelled" in err, (code, err))
    check("a cancelled put leaves a partial phone file", 0 < partial < len(big), partial)
    check("a cancelled put tells how to resume", "kivmod resume" in err, err)
    r = p.kiv("resume", "--discard")
    check("resume --discard drops the partial file", r.returncode == 0 and not os.path.exists(target), r.stderr)
    r = p.kiv("resume")
    check("resume with nothing to resume fails", r.returncode == 5 and "no interrupted copy" in r.stderr, r.stderr)
    code, err = cancelled_put()
    check("a second Ctrl-C run cancels too", code == 6, (code, err))
    r = p.kiv("resume", timeout=60)
    check("resume completes the copy", r.returncode == 0 and read(target) == big, (r.returncode, r.stderr))
    p.configure('<phone locked="1"/>')
    r = p.kiv("info")
    check("locked phone exits 4", r.returncode == 4 and "locked" in r.stderr)


with tempfile.TemporaryDirectory() as top:
    groups = [usage_errors, reading, getting, putting, changing, terminal, cancelling]
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(groups)) as pool:
        for future in [pool.submit(group, top) for group in groups]:
            future.result()

print("%d checks, %d failed" % (checked[0], len(failures)))
sys.exit(1 if failures else 0)
