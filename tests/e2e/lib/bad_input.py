"""Bad-input matrix for the real game binary (run by bad_input.sh under Xvfb).

Every case checks the exact message on the standard error stream, the exit
status 1, and that kiv.prf is neither lost nor corrupted.
"""
import concurrent.futures
import os
import pwd
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

KIV, SRC, BUILD = sys.argv[1:4]
USAGE = "Usage: %s [-nosound] [-mousespeed num] [-window]\n" % KIV
IMAGES = ["ball_b7", "ball_b10", "ball_b15", "ball_g7", "ball_g10", "ball_g15", "ball_r7", "ball_r10",
          "ball_r15"] + ["%ds" % d for d in range(10)] + ["xs"] + ["pp%ds" % k for k in range(8)] + [
          "pr0", "pr2", "pr4", "pr6", "panh", "panv", "fire", "vlcn", "tree", "vcnt", "clud", "watg",
          "bar0", "bar1", "bar2", "bar3", "start", "quit", "hiscore", "cursor"]
SOUNDS = ["kiv1.ogg", "kiv2.ogg", "gen.wav", "score.wav", "miss.wav"]
failures = []
cases = 0


def check(ok, what):
    global cases
    cases += 1
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def workdir(copy_images=False, copy_sounds=False):
    d = tempfile.mkdtemp(prefix="kiv-bad-")
    for name, copy in (("images", copy_images), ("sounds", copy_sounds)):
        if copy:
            shutil.copytree(os.path.join(SRC, name), os.path.join(d, name))
        else:
            os.symlink(os.path.join(SRC, name), os.path.join(d, name))
    return d


def xdo(*args):
    """xdotool, tried again when Xvfb drops the new connection (it now and
    then does while busy)."""
    for _ in range(5):
        if subprocess.run(["xdotool"] + list(args), capture_output=True).returncode == 0:
            return True
        time.sleep(0.1)
    return False


def quit_with_escape(p, wid, timeout):
    """Escape until the game has ended, or the time is up."""
    end = time.time() + timeout
    while time.time() < end:
        xdo("windowfocus", "--sync", wid)
        xdo("key", "Escape")
        try:
            p.wait(timeout=3.0)
            return
        except subprocess.TimeoutExpired:
            pass


def window_id(timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        r = subprocess.run(["xdotool", "search", "--name", "^Kiv$"], capture_output=True, text=True)
        if r.stdout.strip():
            return r.stdout.split()[0]
        time.sleep(0.05)
    return None


def run_game(cwd, args, env_extra=None, play=None, user=None, timeout=15.0):
    """Starts the game; if it opens its window, quits it with Escape (or lets
    `play` drive it first). Returns (status, stderr, had_window)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    cmd = [KIV] + args
    if user:
        pw = pwd.getpwnam(user)
        cmd = ["setpriv", "--reuid=%d" % pw.pw_uid, "--regid=%d" % pw.pw_gid, "--clear-groups"] + cmd
    p = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    had_window = False
    end = time.time() + timeout
    wid = None
    while time.time() < end and p.poll() is None:
        wid = window_id(0.2)
        if wid:
            break
    if wid and p.poll() is None:
        had_window = True
        time.sleep(0.3)
        if play:
            play(wid)
        quit_with_escape(p, wid, timeout)
    try:
        _, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        _, err = p.communicate()
        return -999, err.decode("utf-8", "replace"), had_window
    return p.returncode, err.decode("utf-8", "replace"), had_window


def run_failing(cwd, args, env_extra=None, timeout=30.0):
    """Starts the game where it must end by itself; returns (status, stderr)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    try:
        p = subprocess.run([KIV] + args, cwd=cwd, env=env, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return -999, "timeout"
    return p.returncode, p.stderr.decode("utf-8", "replace")


def prf(d):
    path = os.path.join(d, "kiv.prf")
    if os.path.isdir(path):
        return "dir"
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def own_lines(err):
    """The game's own lines; libraries may add theirs."""
    prefixes = ("Usage:", "Unable to", "Couldn't")
    return [l for l in err.splitlines() if l.startswith(prefixes)]


# ---- options -------------------------------------------------------------
def model(args):
    """What the command line must do: (valid, windowed)."""
    i, windowed = 0, False
    while i < len(args):
        a = args[i]
        if a == b"-mousespeed" and i + 1 < len(args):
            i += 1
        elif a == b"-nosound":
            pass
        elif a == b"-window":
            windowed = True
        else:
            return False, False
        i += 1
    return True, windowed


def options():
    d = workdir()
    with open(os.path.join(d, "kiv.prf"), "wb") as f:
        f.write(b"\x00\x00\x30\x39")
    fixed = [[b"-mousespeed"], [b"-Window"], [b"kiv.prf"], [b"-window", b"-mousespeed"], [b""],
             [b"-nosound", b"-window", b"x"], [b"-mousespeed", b"10", b"--"], [b"-\xff\xfe"],
             [b"-window", b"-window", b"-mousespeed", b"15", b"-nosound", b"-nosound", b"oops"]]
    rng = random.Random(20261206)
    words = [b"-window", b"-nosound", b"-mousespeed", b"15", b"fast", b"", b"-", b"--window", b"-WINDOW",
             b"kiv", b"-mousespeed=3", b"\xc3\xa9t\xc3\xa9", b"\xff\x80\x01", b"%s%s%n", b"a" * 5000]
    lists = list(fixed)
    while len(lists) < len(fixed) + 200:
        n = rng.randint(1, 6)
        args = []
        for _ in range(n):
            r = rng.random()
            if r < 0.6:
                args.append(rng.choice(words))
            elif r < 0.8:
                args.append(bytes(rng.randint(1, 255) for _ in range(rng.randint(1, 40))))
            else:
                args.append(b"x" * rng.randint(1000, 100000))
        lists.append(args)
    started = 0
    env = dict(os.environ)
    env.pop("DISPLAY", None)

    def usage_case(args):
        p = subprocess.run([KIV.encode()] + args, cwd=d, env=env, capture_output=True, timeout=20)
        return args, p.returncode, p.stderr

    invalid = [a for a in lists if not model(a)[0]]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for args, st, err in pool.map(usage_case, invalid):
            check(st == 1 and err == USAGE.encode(), "options %r: %r %r" % ([a[:20] for a in args], st, err[:200]))
    for args in lists:
        valid, windowed = model(args)
        if not valid:
            continue
        if not windowed:
            args = args + [b"-window"]
        started += 1
        st, err, had_window = run_game(d, [os.fsdecode(a) for a in args] + ["-nosound"])
        check(st == 1 and had_window and own_lines(err) == [],
              "options %r should start: %r %r" % ([a[:20] for a in args], st, err))
    check(prf(d) == b"\x00\x00\x30\x39", "the options changed kiv.prf: %r" % (prf(d),))
    print("options: %d lists, %d valid ones started" % (len(lists), started), flush=True)
    shutil.rmtree(d)


# ---- kiv.prf ---------------------------------------------------------------
def prefs():
    rng = random.Random(7)
    contents = [None] + [bytes(rng.randint(0, 255) for _ in range(n)) for n in range(9)] + [
        bytes(rng.randint(0, 255) for _ in range(1000)), struct.pack(">i", 1234567890),
        struct.pack(">i", -5), struct.pack(">i", 2147483647), struct.pack(">i", -2147483648)]
    for c in contents:
        d = workdir()
        if c is not None:
            with open(os.path.join(d, "kiv.prf"), "wb") as f:
                f.write(c)
        st, err, had_window = run_game(d, ["-window", "-nosound"])
        if c is None:
            want = struct.pack(">i", 1000000)
        elif len(c) < 4:
            want = struct.pack(">i", -1)
        else:
            want = c[:4]
        check(st == 1 and had_window and own_lines(err) == [] and prf(d) == want,
              "kiv.prf %r: status %r, file %r" % (c if c is None else c[:8], st, prf(d)))
        shutil.rmtree(d)
    # A directory in the file's place is left as it is.
    d = workdir()
    os.mkdir(os.path.join(d, "kiv.prf"))
    st, err, had_window = run_game(d, ["-window", "-nosound"])
    check(st == 1 and had_window and prf(d) == "dir" and sorted(os.listdir(d)) == ["images", "kiv.prf", "sounds"],
          "kiv.prf directory: %r %r" % (st, os.listdir(d)))
    shutil.rmtree(d)
    # Unreadable file and read-only directory, as an ordinary user.
    user = "nobody"
    d = workdir()
    os.chmod(d, 0o777)
    path = os.path.join(d, "kiv.prf")
    with open(path, "wb") as f:
        f.write(struct.pack(">i", 4242))
    os.chmod(path, 0o000)
    st, err, had_window = run_game(d, ["-window", "-nosound"], user=user)
    os.chmod(path, 0o644)
    check(st == 1 and had_window and prf(d) == struct.pack(">i", 4242) and len(os.listdir(d)) == 3,
          "unreadable kiv.prf: %r %r %r" % (st, prf(d), err))
    os.chmod(d, 0o555)
    st, err, had_window = run_game(d, ["-window", "-nosound"], user=user)
    check(st == 1 and had_window and prf(d) == struct.pack(">i", 4242) and len(os.listdir(d)) == 3,
          "kiv.prf in a read-only directory: %r %r" % (st, prf(d)))
    os.chmod(d, 0o755)
    shutil.rmtree(d)


# ---- pictures --------------------------------------------------------------
def pictures():
    d = workdir(copy_images=True)
    with open(os.path.join(d, "kiv.prf"), "wb") as f:
        f.write(b"\x00\x00\x00\x07")
    images = os.path.join(d, "images")
    def missing_case(name):
        # Each case in a directory of its own, so that they can run together.
        case = tempfile.mkdtemp(prefix="kiv-bad-", dir=d)
        os.mkdir(os.path.join(case, "images"))
        for other in IMAGES:
            if other != name:
                os.symlink(os.path.join(images, other + ".png"), os.path.join(case, "images", other + ".png"))
        st, err = run_failing(case, ["-window", "-nosound"])
        shutil.rmtree(case)
        return name, st, err

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for name, st, err in pool.map(missing_case, IMAGES):
            check(st == 1 and own_lines(err) == ["Unable to load: images/%s.png" % name],
                  "missing %s: %r %r" % (name, st, err))
    # The first missing one in catalogue order is reported.
    for a, b in (("ball_g10", "cursor"), ("pr0", "fire")):
        for n in (a, b):
            os.rename(os.path.join(images, n + ".png"), os.path.join(images, n + ".away"))
        st, err = run_failing(d, ["-window", "-nosound"])
        for n in (a, b):
            os.rename(os.path.join(images, n + ".away"), os.path.join(images, n + ".png"))
        check(st == 1 and own_lines(err) == ["Unable to load: images/%s.png" % a], "missing %s and %s: %r" % (a, b, err))
    with open(os.path.join(images, "tree.png"), "rb") as f:
        tree = f.read()
    for label, data in (("zero-byte", b""), ("truncated", tree[:len(tree) // 2]), ("header only", tree[:33]),
                        ("text", b"this is not a picture\n")):
        with open(os.path.join(images, "tree.png"), "wb") as f:
            f.write(data)
        st, err = run_failing(d, ["-window", "-nosound"])
        check(st == 1 and own_lines(err) == ["Unable to load: images/tree.png"], "%s tree.png: %r %r" % (label, st, err))
    # A huge but valid picture loads and the game runs.
    subprocess.run(["convert", "-size", "4000x4000", "xc:rgb(0,0,255)", "-fill", "rgb(30,135,30)",
                    "-draw", "circle 2000,2000 2000,10", "PNG8:" + os.path.join(images, "tree.png")], check=True)
    st, err, had_window = run_game(d, ["-window", "-nosound"], timeout=30)
    check(st == 1 and had_window and own_lines(err) == [], "4000x4000 tree.png: %r %r" % (st, err))
    check(prf(d) == b"\x00\x00\x00\x07", "pictures: kiv.prf %r" % (prf(d),))
    shutil.rmtree(d)


# ---- sounds ----------------------------------------------------------------
def sounds():
    d = workdir(copy_sounds=True)
    env = {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": os.path.join(d, "audio.raw")}
    for name in SOUNDS:
        path = os.path.join(d, "sounds", name)
        with open(path, "rb") as f:
            good = f.read()
        for label in ("missing", "corrupt"):
            if label == "missing":
                os.remove(path)
            else:
                with open(path, "wb") as f:
                    f.write(good[:12] + b"\x00garbage" * 16)   # the header, then junk
            st, err, had_window = run_game(d, ["-window"], env_extra=env)
            check(st == 1 and had_window and own_lines(err) == ["Couldn't load: sounds/%s" % name],
                  "%s %s: %r %r" % (label, name, st, err))
            with open(path, "wb") as f:
                f.write(good)
    for driver in ("no-such-driver",):
        st, err, had_window = run_game(d, ["-window"], env_extra={"SDL_AUDIODRIVER": driver})
        lines = own_lines(err)
        check(st == 1 and had_window and len(lines) == 1 and
              (lines[0].startswith("Unable to initialize SDL_AUDIO: ") or lines[0].startswith("Couldn't open audio: ")),
              "no audio device: %r %r" % (st, err))
    shutil.rmtree(d)


# ---- durability ------------------------------------------------------------
def durability(rounds=100):
    d = workdir()
    rng = random.Random(99)
    bad = 0
    for i in range(rounds):
        old = struct.pack(">i", rng.randint(-5, 999999999))
        with open(os.path.join(d, "kiv.prf"), "wb") as f:
            f.write(old)
        p = subprocess.Popen([KIV, "-window", "-nosound"], cwd=d, stderr=subprocess.PIPE)
        wid = window_id(30.0)   # generous: CI machines can be busy
        if not wid:
            p.kill()
            _, err = p.communicate()
            check(False, "durability: no window; status %r, %r" % (p.returncode, err[-300:]))
            continue
        xdo("windowfocus", "--sync", wid)
        xdo("key", "Escape")
        time.sleep(rng.random() * 0.03)
        try:
            os.kill(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        p.communicate()
        now = prf(d)
        if now != old:
            bad += 1
        leftovers = [n for n in os.listdir(d) if n not in ("images", "sounds", "kiv.prf")]
        for n in leftovers:   # a temporary file killed before its rename
            os.remove(os.path.join(d, n))
    check(bad == 0, "durability: kiv.prf changed or damaged in %d of %d kills" % (bad, rounds))
    shutil.rmtree(d)


only = os.environ.get("KIV_BAD_PARTS", "").split()
for part in (options, prefs, pictures, sounds, durability):
    if only and part.__name__ not in only:
        continue
    t = time.time()
    part()
    print("%s: done in %.1f s" % (part.__name__, time.time() - t), flush=True)

print("%d checks, %d failed" % (cases, len(failures)))
sys.exit(1 if failures else 0)
