"""Drives the real programs on a private Xvfb server: start, find the window, send keys and
pointer events, read pixels back, collect the console output.

No window manager runs, so requested window positions and sizes are honoured as they are.
Every child (the X server, the program) gets SIGTERM if this process dies, so a test killed
by ctest's timeout leaves nothing behind.
"""

import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77  # ctest SKIP_RETURN_CODE

SCREEN = (1600, 1200)  # room for the GPU window (530, 10) stretched to 800 wide

PROGRAMS = {
    "velmora-cpu": {"title": "Velmora CPU", "position": (10, 10), "swarm": True,
                    "main": "swarm/main.cpp"},
    "velmora-gpu": {"title": "Velmora GPU", "position": (530, 10), "swarm": True,
                    "main": "swarm/main.cpp"},
    "velmora-nbody": {"title": "nBody GPU", "position": (620, 100), "swarm": False,
                      "main": "nbody/main.cpp"},
}

WHITE = (255, 255, 255)
TIMING_LINE = re.compile(r"^(\S+)\t(\S+)$")


class TestFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise TestFailure(message)


def _die_with_parent():
    # PR_SET_PDEATHSIG: the child is told when the test process goes away.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)


def wait_until(predicate, timeout, what, interval=0.1):
    """Polls predicate until it returns something truthy; returns that, or fails naming what."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TestFailure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def require_tools(*tools):
    missing = [t for t in tools if not any(
        os.access(os.path.join(d, t), os.X_OK) for d in os.environ.get("PATH", "").split(":"))]
    if missing:
        print("SKIP: missing tools: %s (scripts/deps installs them)" % " ".join(missing))
        sys.exit(SKIP)


class Xvfb:
    """A private X server on the first free display from :90 to :200."""

    def __init__(self):
        self.proc = None
        self.display = None

    def __enter__(self):
        for n in range(90, 201):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            proc = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
            if self._ready(proc, ":%d" % n):
                self.proc, self.display = proc, ":%d" % n
                return self
            # Another test took this display between our look and Xvfb's start.
            self._stop(proc)
        raise TestFailure("no free X display between :90 and :200")

    @staticmethod
    def _ready(proc, display):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if proc.poll() is not None:
                return False
            if subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return True
            time.sleep(0.05)
        return False

    @staticmethod
    def _stop(proc):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()

    def __exit__(self, *exc):
        if self.proc is not None:
            self._stop(self.proc)

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("HOSTGPU_FAIL", None)
        env.update(extra or {})
        return env

    def run(self, args, **kw):
        return subprocess.run(args, env=self.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=30, **kw)


class Image:
    """An 8-bit RGB screenshot."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def from_ppm(cls, blob):
        tokens, pos = [], 0
        while len(tokens) < 4:
            while blob[pos:pos + 1].isspace():
                pos += 1
            if blob[pos:pos + 1] == b"#":
                pos = blob.index(b"\n", pos)
                continue
            end = pos
            while not blob[end:end + 1].isspace():
                end += 1
            tokens.append(blob[pos:end])
            pos = end
        check(tokens[0] == b"P6" and tokens[3] == b"255", "unexpected PPM header %r" % tokens)
        width, height = int(tokens[1]), int(tokens[2])
        data = blob[pos + 1:pos + 1 + 3 * width * height]
        check(len(data) == 3 * width * height, "short PPM data")
        return cls(width, height, data)

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def pixels(self, box=None):
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                yield x, y, self.pixel(x, y)

    def count(self, predicate, box=None):
        return sum(1 for _, _, p in self.pixels(box) if predicate(p))

    def centroid(self, predicate, box=None):
        """(x, y, count) of the pixels matching predicate, or None if there are none."""
        xs = ys = n = 0
        for x, y, p in self.pixels(box):
            if predicate(p):
                xs, ys, n = xs + x, ys + y, n + 1
        return (xs / n, ys / n, n) if n else None

    def save(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height) + self.data)


def near(colour, target, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, target))


class Window:
    def __init__(self, server, wid):
        self.server, self.id = server, wid

    def xdotool(self, *args):
        result = self.server.run(["xdotool"] + [str(a) for a in args])
        # A quit key can close the window before xdotool is done with it.
        check(result.returncode == 0 or not self.exists(),
              "xdotool %s failed: %s" % (" ".join(map(str, args)), result.stderr.decode()))

    def exists(self):
        return self.server.run(["xwininfo", "-id", self.id]).returncode == 0

    def info(self):
        out = self.server.run(["xwininfo", "-id", self.id]).stdout.decode()
        title = re.search(r'xwininfo: Window id: \S+ "(.*)"', out)
        fields = {k: int(re.search(r"%s:\s+(-?\d+)" % k, out).group(1))
                  for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")}
        return {"title": title.group(1) if title else None,
                "position": (fields["Absolute upper-left X"], fields["Absolute upper-left Y"]),
                "size": (fields["Width"], fields["Height"])}

    def key(self, *keys):
        self.xdotool("key", "--window", self.id, "--delay", 20, *keys)

    def move(self, x, y):
        """Moves the pointer to window pixel (x, y); outside the window is allowed."""
        self.xdotool("mousemove", "--window", self.id, "--", x, y)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdotool("click", button)

    def down(self, button):
        self.xdotool("mousedown", button)

    def up(self, button):
        self.xdotool("mouseup", button)

    def resize(self, width, height):
        self.xdotool("windowsize", self.id, width, height)
        wait_until(lambda: self.info()["size"] == (width, height), 10,
                   "the window to become %dx%d" % (width, height))

    def screenshot(self):
        result = self.server.run(["import", "-window", self.id, "-depth", "8", "ppm:-"])
        check(result.returncode == 0, "import failed: %s" % result.stderr.decode())
        return Image.from_ppm(result.stdout)

    def next_frames(self, frames=2, timeout=60):
        """Waits until the picture has changed `frames` times; returns the last screenshot."""
        shot = self.screenshot()
        for _ in range(frames):
            previous = shot
            shot = wait_until(lambda: (lambda s: s if s.data != previous.data else None)(
                self.screenshot()), timeout, "the next frame", interval=0.05)
        return shot


class Program:
    def __init__(self, server, path, args=(), env=None, workdir=None):
        self.server, self.path = server, path
        self.workdir = workdir or tempfile.mkdtemp(prefix="velmora-e2e-")
        self.stdout_path = os.path.join(self.workdir, "stdout")
        self.stderr_path = os.path.join(self.workdir, "stderr")
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen([path] + list(args), stdout=out, stderr=err,
                                         env=server.env(env), preexec_fn=_die_with_parent)

    def stdout(self):
        with open(self.stdout_path, "rb") as f:
            return f.read().decode(errors="replace")

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def alive(self):
        return self.proc.poll() is None

    def window(self, title, timeout=30):
        def find():
            check(self.alive(), "the program ended (status %s) before its window appeared"
                  % self.proc.returncode)
            ids = self.server.run(["xdotool", "search", "--name", "^%s$" % re.escape(title)])
            found = ids.stdout.decode().split()
            return found[0] if found else None
        return Window(self.server, wait_until(find, timeout, "window %r" % title))

    def timing_lines(self):
        return [l for l in self.stdout().split("\n") if TIMING_LINE.match(l)]

    def wait_timing_lines(self, count, timeout=90):
        """Waits until at least `count` timing lines have been printed."""
        def enough():
            check(self.alive(), "the program ended (status %s) while running"
                  % self.proc.returncode)
            return len(self.timing_lines()) >= count
        wait_until(enough, timeout, "%d timing line(s)" % count, interval=0.25)

    def wait_exit(self, timeout=30):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure("the program did not end within %d s" % timeout)

    def stop(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait()

    def report(self):
        return "--- stdout (last 20 lines) ---\n%s\n--- stderr ---\n%s" % (
            "\n".join(self.stdout().split("\n")[-20:]), self.stderr()[-2000:])


def is_general_float(text):
    """True if text is how a C++ stream writes a float by default (%g, 6 digits)."""
    try:
        return "%g" % float(text) == text
    except ValueError:
        return False


def check_console(stdout, name, min_timings=1):
    """The console sequence of a complete run of `name` ended by a quit key."""
    check(stdout.endswith("dealokacja... \n"),
          "output does not end with 'dealokacja... \\n': %r" % stdout[-200:])
    lines = stdout.split("\n")[:-1]
    check(lines[0] == "alokacja... ", "first line is %r, not 'alokacja... '" % lines[0])
    body = lines[1:-1]
    if name == "velmora-nbody":
        check(body[:1] == ["particles: 5835"], "second line is not 'particles: 5835': %r"
              % body[:1])
        body = body[1:]
    timings = []
    steps_since = 0
    for line in body:
        m = TIMING_LINE.match(line)
        if name == "velmora-nbody" and line == "step...":
            steps_since += 1
            continue
        check(m is not None, "unexpected output line %r" % line)
        check(is_general_float(m.group(1)) and is_general_float(m.group(2)),
              "timing line %r is not two floats in general format" % line)
        if name == "velmora-nbody":
            check(steps_since == 6, "timing line after %d steps, not 6" % steps_since)
            steps_since = 0
        timings.append((float(m.group(1)), float(m.group(2)), m.group(1)))
    check(len(timings) >= min_timings, "no timing line between 'alokacja... ' and 'dealokacja... '")
    if name == "velmora-nbody":
        check(steps_since <= 5, "%d steps after the last timing line" % steps_since)
        check(all(t[2] == "0" for t in timings), "first column is not 0: %r" % timings)
    if name == "velmora-gpu":
        # The host section is three back-to-back tick readings: a tick rarely falls between.
        check(all(t[0] < 2e-4 for t in timings), "host column of the GPU program is not near 0: %r"
              % [t[2] for t in timings])
    check(all(t[1] >= 0 for t in timings), "negative device average")
    return timings


def is_white(p):
    return p == WHITE


def marker_predicate(name):
    if PROGRAMS[name]["swarm"]:
        # Opaque red; no particle colour (4t, 3t, 0) is pure red.
        return lambda p: p[0] >= 250 and p[1] <= 5 and p[2] <= 5
    # Red at a quarter opacity over whatever lies below: red clearly above green and blue,
    # which stay level; the bodies' own colour is grey-blue.
    return lambda p: p[0] >= 200 and 45 <= p[0] - p[1] <= 80 and 45 <= p[0] - p[2] <= 80 \
        and abs(p[1] - p[2]) <= 12


def marker(window, name, box=None):
    found = window.screenshot().centroid(marker_predicate(name), box)
    return found if found and found[2] >= 12 else None


def wait_marker(window, name, at, timeout=40, tolerance=2.0):
    def there():
        m = marker(window, name)
        return m if m and abs(m[0] - at[0]) <= tolerance and abs(m[1] - at[1]) <= tolerance \
            else None
    try:
        return wait_until(there, timeout, "the marker at %r" % (at,), interval=0.1)
    except TestFailure:
        raise TestFailure("marker not at %r; last seen at %r" % (at, marker(window, name)))


def main(cases, tools=("Xvfb", "xdotool", "xwininfo", "xdpyinfo", "import")):
    """Runs one case: `cases` maps a name to fn(ctx); ctx has program, name, source_dir,
    args and a `start` helper. Exit 0 pass, 1 fail, 77 skip."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(cases))
    parser.add_argument("--program", required=True, help="path of the program under test")
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--runtime", default="host")
    opts = parser.parse_args()
    name = os.path.basename(opts.program)
    check(name in PROGRAMS, "unknown program %s" % name)
    if not os.path.exists(opts.program):
        print("SKIP: %s is not built" % opts.program)
        sys.exit(SKIP)
    require_tools(*tools)

    started = []
    with Xvfb() as server:
        class Context:
            program, source_dir, runtime = opts.program, opts.source_dir, opts.runtime
            profile = PROGRAMS[name]
            display = server

            @staticmethod
            def start(args=(), env=None):
                p = Program(server, opts.program, args, env)
                started.append(p)
                return p
        Context.name = name
        try:
            cases[opts.case](Context)
        except (TestFailure, AssertionError) as e:
            print("FAIL %s %s: %s" % (name, opts.case, e))
            traceback.print_exc()
            for p in started:
                print(p.report())
            sys.exit(1)
        finally:
            for p in started:
                p.stop()
                shutil.rmtree(p.workdir, ignore_errors=True)
    print("PASS %s %s" % (name, opts.case))
