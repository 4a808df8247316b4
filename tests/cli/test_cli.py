"""The kivmod tool through its process: exit codes and output against the simulated phone."""
import json
import os
import subprocess
import sys
import tempfile

tool = sys.argv[1]
passed = failed = 0


def run(*args, env=None):
    return subprocess.run([tool, *args], capture_output=True, text=True, timeout=30, env=env)


def check(name, condition, detail=""):
    global passed, failed
    if condition:
        passed += 1
    else:
        failed += 1
        print("FAIL:", name, detail)


r = run("--help")
check("help exits 0", r.returncode == 0 and "Exit codes" in r.stdout)
r = run("frobnicate")
check("unknown command exits 2", r.returncode == 2 and "unknown command" in r.stderr)
r = run("--bogus", "info")
check("unknown option exits 2", r.returncode == 2)
r = run("--link", "sim:/nonexistent/phone", "info")
check("missing phone folder exits 3", r.returncode == 3 and "could not connect" in r.stderr, r.stderr)

with tempfile.TemporaryDirectory() as phone:
    for name in ("Music", "Pictures"):
        os.mkdir(os.path.join(phone, name))
    config = phone + ".xml"
    with open(config, "w") as f:
        f.write('<phone model="cli phone" version="3"><types>mp3|3|0/jar|2|1000</types></phone>')
    env = dict(os.environ, KIVMOD_SIM_CONFIG=config)
    r = run("--link", "sim:" + phone, "info", env=env)
    check("info exits 0", r.returncode == 0, r.stderr)
    check("info shows model", "CLI PHONE" in r.stdout, r.stdout)
    check("info shows folders", "Music/" in r.stdout and "Pictures/" in r.stdout, r.stdout)
    r = run("--link", "sim:" + phone, "--json", "info", env=env)
    data = json.loads(r.stdout)
    check("json info", data["version"] == 3 and data["types"][1] == {"ext": "jar", "maxSize": 1000, "rules": 2})
    check("json folders", [f["path"] for f in data["folders"]] == ["Music", "Pictures"])
    env_link = dict(env, KIVMOD_LINK="sim:" + phone)
    r = run("ls", env=env_link)
    check("KIVMOD_LINK is the default link", r.returncode == 0 and "Music/" in r.stdout, r.stderr)
    with open(config, "w") as f:
        f.write('<phone locked="1"/>')
    r = run("--link", "sim:" + phone, "info", env=env)
    check("locked phone exits 4", r.returncode == 4 and "locked" in r.stderr)
    os.remove(config)

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
