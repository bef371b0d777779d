#!/usr/bin/env python3
"""The demo's show: runs the SIMULATED mixer (mixsim CLI), the stand-in
infodriver and mixtally.exe for device 1 on COM15, plays a scripted show,
draws the tally slots live, takes a screenshot of the driver's window and
shuts everything down. Called by scripts/demo.sh with the Wine env loaded.
Exits non-zero with a clear message when any step fails; never waits
without a deadline."""
import os
import queue
import shutil
import signal
import subprocess
import sys
import threading
import time

BUILD = os.environ.get("MIXTALLY_BUILD") or sys.exit("demo: source the build's wine/env.sh first")
WINBIN = os.path.join(BUILD, "win", "bin")
WINERUN = os.path.join(BUILD, "win", "winerun")
MIXSIM = os.path.join(BUILD, "host", "sim", "mixsim")
DEMO = os.path.join(BUILD, "demo")
SHOT = os.path.join(DEMO, "mixtally-demo.png")
COM = 15
DEVICE = 1
TITLE = "DEV_%03d - mixtally - Vede Doriv Urere Dizodo" % DEVICE
TTY = sys.stdout.isatty()

procs = []


class DemoError(Exception):
    pass


class Child:
    """A child with line-wise stdout collected by a reader thread."""

    def __init__(self, name, argv, **kw):
        self.name = name
        self.lines = queue.Queue()
        try:
            self.p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL, text=True, bufsize=1,
                                      start_new_session=True, **kw)
        except OSError as e:
            raise DemoError("%s did not start: %s" % (name, e))
        procs.append(self)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line.rstrip("\r\n"))
        self.lines.put(None)

    def send(self, line):
        try:
            self.p.stdin.write(line + "\n")
            self.p.stdin.flush()
        except (BrokenPipeError, ValueError):
            raise DemoError("%s has gone (writing %r)" % (self.name, line))

    def until(self, pred, timeout, what):
        """Lines until pred(line) holds; returns (line, lines before it)."""
        deadline = time.monotonic() + timeout
        seen = []
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise DemoError("%s: no %s within %d s" % (self.name, what, timeout))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise DemoError("%s ended while waiting for %s" % (self.name, what))
            if pred(line):
                return line, seen
            seen.append(line)

    def cmd(self, line, timeout=20):
        self.send(line)
        ans, seen = self.until(lambda l: l == "ok" or l.startswith(("ok ", "err")), timeout,
                               "answer to %r" % line)
        if ans.startswith("err"):
            raise DemoError("%s: %r -> %s" % (self.name, line, ans))
        return ans, seen

    def stop(self, quit_line=None, timeout=10):
        if self.p.poll() is None and quit_line:
            try:
                self.send(quit_line)
                self.p.stdin.close()
            except (DemoError, OSError):
                pass
        try:
            self.p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(self.p.pid, signal.SIGKILL)
            self.p.wait(timeout=10)


def winpeek(*args, timeout=30):
    r = subprocess.run([WINERUN, os.path.join(WINBIN, "winpeek.exe")] + [str(a) for a in args],
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    return r.returncode, r.stdout.splitlines()


def install():
    """The demo installation: device file, workstation, custom controls."""
    cfg = os.path.join(DEMO, "site", "config", "system")
    lib = os.path.join(DEMO, "site", "windows", "lib")
    os.makedirs(cfg, exist_ok=True)
    os.makedirs(lib, exist_ok=True)
    for dll in ("ZARN_CC.DLL", "ZARN_CC09.DLL"):
        shutil.copy(os.path.join(WINBIN, dll), lib)
    # A pty refuses parity, so the demo line runs without it.
    with open(os.path.join(cfg, "dev_%03d.ini" % DEVICE), "w", newline="\r\n") as f:
        f.write("[Configuration]\nCom=%d\nSpeed=38400\nParity=N\n[Device]\nName=Studio A vision mixer\n" % COM)
    with open(os.path.join(DEMO, "xnet.ini"), "w", newline="\r\n") as f:
        f.write("[Network]\nWorkstation=1\n")
    if os.path.exists(SHOT):
        os.unlink(SHOT)


def show_map(program, preview):
    """Tally map of a mixer with 8 cameras: program tally in map byte 0,
    preview tally in map byte 1, both on transition in byte 0 too."""
    m = [0] * 16
    for cam in program:
        m[0] |= 1 << (cam - 1)
    for cam in preview:
        m[1] |= 1 << (cam - 1)
    return "map " + "".join("%02x" % b for b in m)


# (seconds from start of the show, mixsim command, caption)
SHOW = [
    (0.0, show_map([1], [2]), "cam 1 on air, cam 2 in preview"),
    (3.0, show_map([2], [3]), "cut to cam 2"),
    (6.0, show_map([2, 3], []), "mix cam 2 -> cam 3 (both on air)"),
    (7.5, show_map([3], [4]), "mix done: cam 3 on air"),
    (10.0, "ack none", "mixer stops answering: link loss"),
    (13.5, "ack normal", "mixer answers again: link back"),
    (16.0, show_map([4], [5]), "cut to cam 4"),
    (18.0, "unplug", "mixer's USB serial adapter pulled: port lost"),
    (21.0, "replug", "adapter plugged in again: the driver reopens the port"),
    (24.0, show_map([4, 5], []), "mix cam 4 -> cam 5"),
    (25.5, show_map([5], [1]), "mix done: cam 5 on air"),
    (28.0, show_map([1], [2]), "cut to cam 1"),
]
SHOW_END = 32.0
SHOT_AT = 30.0


def view(info, caption, t):
    _, lines = info.cmd("dump 1 128")
    lit = set()
    for l in lines:
        parts = l.split()
        if len(parts) >= 3 and parts[0] == "slot" and parts[2] == "1":
            lit.add(int(parts[1]))
    status, _ = info.cmd("get 4094")
    link = status[3:] if len(status) > 3 else "?"
    out = []
    out.append("mixtally demo  t=%5.1fs  %s" % (t, caption))
    out.append("slot 4094 (link): %s  %s" % (link, {"0": "healthy", "1": "FAILED"}.get(link, "not yet known")))
    out.append("tally slots 1..128 (# on air, . off), 16 per row:")
    for row in range(8):
        first = row * 16 + 1
        out.append("  %3d-%3d  %s" % (first, first + 15,
                   " ".join("#" if s in lit else "." for s in range(first, first + 16))))
    return "\n".join(out)


def screenshot():
    """The driver's window, cut out of the whole (virtual) screen."""
    rc, lines = winpeek("info", TITLE)
    rect = [l for l in lines if l.startswith("rect ")]
    if rc != 0 or not rect:
        raise DemoError("cannot find the driver's window for the screenshot")
    left, top, right, bottom = (int(v) for v in rect[0].split()[1:5])
    full = os.path.join(DEMO, "screen.png")
    disp = os.environ.get("DISPLAY", "")
    for tool in (["import", "-display", disp, "-window", "root", full],
                 ["convert", full, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, max(left, 0),
                                                               max(top, 0)), "+repage", SHOT]):
        r = subprocess.run(tool, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            raise DemoError("%s failed: %s" % (tool[0], r.stderr.strip()))
    os.unlink(full)


def run():
    if not os.access(MIXSIM, os.X_OK):
        raise DemoError("%s is not built" % MIXSIM)
    install()
    print("demo: simulated mixer on COM%d, stand-in infodriver and mixtally.exe for device %d" % (COM, DEVICE))
    mixer = Child("mixsim", [MIXSIM, "--port", str(COM), "--quiet"])
    mixer.cmd("stats")
    info = Child("infodrv", [WINERUN, os.path.join(WINBIN, "infodrv.exe"), str(DEVICE)])
    info.until(lambda l: l.startswith("ready "), 60, "ready line")
    env = dict(os.environ, KV_ROOT="Z:" + DEMO.replace("/", "\\"), KV_SYSTEM="site")
    driver = Child("mixtally", [WINERUN, os.path.join(WINBIN, "mixtally.exe"), str(DEVICE)], cwd=DEMO, env=env)
    info.until(lambda l: l.startswith("hooked "), 60, "hook from mixtally.exe (a start-up message box?)")
    rc, _ = winpeek("wait", TITLE, 30000, timeout=60)
    if rc != 0:
        raise DemoError("the driver's window did not appear")
    winpeek("post", TITLE, 0x111, 97)          # "&Debug": show the debug list

    start = time.monotonic()
    step = 0
    caption = "starting"
    shot_taken = False
    last = None
    while True:
        t = time.monotonic() - start
        while step < len(SHOW) and SHOW[step][0] <= t:
            mixer.cmd(SHOW[step][1])
            caption = SHOW[step][2]
            step += 1
        if driver.p.poll() is not None:
            raise DemoError("mixtally.exe ended unexpectedly (code %s)" % driver.p.returncode)
        frame = view(info, caption, t)
        if TTY:
            sys.stdout.write("\x1b[H\x1b[2J" + frame + "\n")
            sys.stdout.flush()
        elif frame.split("\n", 1)[1] != last:
            print(frame + "\n", flush=True)
            last = frame.split("\n", 1)[1]
        # The picture: link healthy again, frames in the debug list.
        if not shot_taken and t >= SHOT_AT:
            screenshot()
            shot_taken = True
        if t >= SHOW_END:
            break
        time.sleep(0.5)

    print("demo: closing the driver through its infodriver")
    info.cmd("close")
    try:
        code = driver.p.wait(timeout=30)
    except subprocess.TimeoutExpired:
        raise DemoError("mixtally.exe did not end after the close message")
    if code != 0:
        raise DemoError("mixtally.exe ended with code %d" % code)
    mixer.send("stats")
    stats, _ = mixer.until(lambda l: l.startswith("ok stats"), 20, "stats")
    info.stop("quit")
    mixer.stop("quit")
    print("demo: driver ended cleanly (exit code 0); mixer %s" % stats[3:])
    print("demo: screenshot of the driver's window: %s" % SHOT)


def cleanup():
    for c in reversed(procs):
        if c.p.poll() is None:
            try:
                os.killpg(c.p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                c.p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass


def on_signal(signum, frame):
    raise KeyboardInterrupt


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, on_signal)
    try:
        run()
        sys.exit(0)
    except DemoError as e:
        print("demo: FAILED: %s" % e, file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        print("\ndemo: interrupted", file=sys.stderr)
        sys.exit(130)
    finally:
        cleanup()
