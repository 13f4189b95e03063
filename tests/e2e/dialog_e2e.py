#!/usr/bin/env python3
"""The dialog as a person uses it: the real ZelkSolver on a real X server
(Xvfb) under a window manager (openbox), driven only by real input events
(XTest, through xdotool). It types both hands, presses the start button,
plays a game to its end in the console window, stops the replay, starts a
long search and stops that, has the system refuse the solver thread, and
closes the dialog. Started again with practice stored on, it lets the user
play the winning side: `?` typed in the console window lists the winning plays.

What the console window shows is read as a person would take it: select
all, copy, and the clipboard (xclip). The buttons and the hand inputs are found on the
screen: the start button's green and the stop button's red show only while
they are enabled, and the hand inputs are the two wide white boxes.

usage: dialog_e2e.py ZELKSOLVER [--sanitized]  (exit 77: skipped, no X server here)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
TIMEOUT = 120  # seconds for any one thing to show; sanitizer builds are slow
DIALOG = "Zelk残局"
CONSOLE = "ZelkSolver-机器与玩家对局互动窗口:"
GREEN = lambda r, g, b: r < 100 and g > r + 40 and g > b + 20  # start, enabled
RED = lambda r, g, b: r > g + 80 and r > b + 80  # stop, enabled
children = []


class Failed(Exception):
    pass


def run(*args, check=True):
    return subprocess.run(args, capture_output=True, check=check).stdout


def wait(what, probe, timeout=TIMEOUT):
    end = time.monotonic() + timeout
    while True:
        got = probe()
        if got:
            return got
        if time.monotonic() > end:
            raise Failed("timed out waiting for " + what)
        time.sleep(0.2)


def window(name):
    ids = run("xdotool", "search", "--name", "^" + name + "$", check=False).split()
    return ids[0].decode() if ids else None


def geometry(win):
    out = run("xdotool", "getwindowgeometry", "--shell", win).decode()
    g = dict(line.split("=") for line in out.split())
    return int(g["WIDTH"]), int(g["HEIGHT"])


def pixels(win):
    w, h = geometry(win)
    return w, h, run("import", "-window", win, "-depth", "8", "rgb:-")


def spot(win, colour):
    """The centre of the pixels of that colour, or None when there are few."""
    w, h, px = pixels(win)
    xs, ys = [], []
    for y in range(0, h, 3):
        for x in range(0, w, 3):
            i = 3 * (w * y + x)
            if colour(px[i], px[i + 1], px[i + 2]):
                xs.append(x)
                ys.append(y)
    return ((min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2) if len(xs) > 20 else None


def handBoxes(win):
    """The middles of the two wide white boxes, top first."""
    w, h, px = pixels(win)
    rows = [y for y in range(h) if px[3 * w * y:3 * w * (y + 1)].find(b"\xff" * 900) >= 0]
    bands = [[rows[0]]] if rows else []
    for y in rows[1:]:
        (bands[-1].append(y) if y == bands[-1][-1] + 1 else bands.append([y]))
    return [(w // 4, (b[0] + b[-1]) // 2) for b in bands] if len(bands) == 2 else None


def click(win, at):
    run("xdotool", "mousemove", "--window", win, str(at[0]), str(at[1]), "click", "1")


def keys(*names):
    run("xdotool", "key", "--delay", "30", *names)


def typed(text):
    run("xdotool", "type", "--delay", "30", text)


def copied(win, at):
    """The text of the window part at `at`: select all and copy it."""
    # xclip stays to serve what it took: no pipe of ours may stay with it.
    subprocess.run(["xclip", "-selection", "clipboard", "-i", "/dev/null"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    click(win, at)
    keys("ctrl+a", "ctrl+c")
    return run("xclip", "-selection", "clipboard", "-o", check=False).decode(errors="replace")


def consoleShows(console, *texts):
    w, h = geometry(console)
    shown = copied(console, (w // 2, h // 3))
    return shown if all(t in shown for t in texts) else None


def play(console, line):
    w, h = geometry(console)
    click(console, (w // 2, h - 10))  # the input line at its foot
    if line:
        typed(line)
    keys("Return")


def setHands(dialog, player1, player2):
    for at, hand in zip(wait("the hand inputs", lambda: handBoxes(dialog)), (player1, player2)):
        click(dialog, at)
        keys("ctrl+a")
        typed(hand)


def stopAndWaitForIdle(dialog):
    click(dialog, wait("the enabled stop button", lambda: spot(dialog, RED)))
    wait("the console window to close", lambda: not window(CONSOLE))
    wait("the start button enabled again", lambda: spot(dialog, GREEN))


def scenario(app):
    dialog = wait("the dialog", lambda: window(DIALOG))
    # The system refuses the solver thread's stack (before any solve: the
    # system keeps the stack of an ended thread for the next): a box says
    # so, the inputs stay enabled and no console stays open.
    if "--sanitized" not in sys.argv:  # a sanitizer's reserved memory would leave no room
        limit = lambda soft: run("prlimit", "--pid", str(app.pid), "--as=%s:unlimited" % soft)
        wait("the hand inputs", lambda: handBoxes(dialog))  # all set up
        limit((int(run("ps", "-o", "vsz=", "-p", str(app.pid))) + 28 * 1024) * 1024)
        click(dialog, spot(dialog, GREEN))
        wait("the box", lambda: window("BOX_PRINT"))
        limit("unlimited")
        keys("Return")
        wait("the box to close", lambda: not window("BOX_PRINT"))
        if window(CONSOLE) or not spot(dialog, GREEN):
            raise Failed("a refused solver thread kept the inputs disabled")

    # A game: player2 leads 3 or 4, the machine beats it with a 2 and wins.
    setHands(dialog, "22", "4 3")
    click(dialog, wait("the start button", lambda: spot(dialog, GREEN)))
    console = wait("the console window", lambda: window(CONSOLE))
    stacking = lambda: run("xprop", "-root", "_NET_CLIENT_LIST_STACKING").decode().replace(",", " ")
    order = [int(w, 16) for w in stacking().split() if w.startswith("0x")]
    if order.index(int(console)) < order.index(int(dialog)):
        raise Failed("the console window opened behind the dialog")
    wait("the first prompt", lambda: consoleShows(console, "player1牌:22\n", "player2牌:43 ",
                                                 "最终获胜方是 player1", "player2:"))
    play(console, "3")
    wait("the machine's answer", lambda: consoleShows(console, "player2:3\nplayer2出牌:3\n",
                                                     "player1出牌:2\n"))
    play(console, "")  # nothing beats a 2: pass
    wait("the end of the game", lambda: consoleShows(console, "player2过牌\n", "player1赢\n",
                                                    "按回车键重玩此局..."))
    stopAndWaitForIdle(dialog)

    # A search of minutes (a thirteen-card straight each), stopped.
    setHands(dialog, "2AKQJ09876543", "2AKQJ09876543")
    click(dialog, spot(dialog, GREEN))
    console = wait("the console window", lambda: window(CONSOLE))
    wait("the search", lambda: consoleShows(console, "开始暴力求解..."))
    if "最终获胜方" in consoleShows(console, ""):
        raise Failed("the long search ended by itself")
    stopAndWaitForIdle(dialog)

    # Closing the dialog ends the program.
    run("xdotool", "windowactivate", "--sync", dialog)
    keys("alt+F4")
    wait("the program to end", lambda: app.poll() is not None)
    if app.returncode != 0:
        raise Failed("ZelkSolver ended with status %d" % app.returncode)


def practice(app):
    """Practice (stored on): the machine leads and loses, the user plays player1."""
    dialog = wait("the dialog", lambda: window(DIALOG))
    setHands(dialog, "22", "4 3")
    click(dialog, wait("the start button", lambda: spot(dialog, GREEN)))
    console = wait("the console window", lambda: window(CONSOLE))
    wait("the practice", lambda: consoleShows(console, "你改为扮演player1", "player1:"))
    play(console, "?")
    wait("the hint", lambda: consoleShows(console, "player1:?\n必胜出法:\n2(个子): player1赢 2步\n"))
    play(console, "2")
    wait("the user's play", lambda: consoleShows(console, "player1:2\nplayer1出牌:2\n"))
    stopAndWaitForIdle(dialog)
    run("xdotool", "windowactivate", "--sync", dialog)
    keys("alt+F4")
    wait("the program to end", lambda: app.poll() is not None)


def storePractice(config):
    """The practice box as an earlier run stored it: on."""
    path = config + "/ZelkSolver/ZelkSolver.ini"
    lines = open(path).read().splitlines() if os.path.exists(path) else []
    if "[section]" not in lines:
        lines.append("[section]")
    lines.insert(lines.index("[section]") + 1, "F_PRACTICE=1")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "w").write("\n".join(lines) + "\n")


def startX(tmp):
    """Xvfb on a free display and openbox on it; False where that fails."""
    read, write = os.pipe()
    children.append(subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
        pass_fds=[write], stdout=subprocess.DEVNULL, stderr=open(tmp + "/xvfb.log", "w")))
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            return False
        number += chunk
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    children.append(subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL,
                                     stderr=open(tmp + "/openbox.log", "w")))
    wait("the window manager", lambda: b"window id" in run(
        "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False), 30)
    return True


def main():
    missing = [t for t in ("Xvfb", "openbox", "xdotool", "xclip", "xprop", "import")
               if not shutil.which(t)]
    if missing:
        print("SKIPPED: no X server can be started here (missing: %s)" % " ".join(missing))
        return SKIP
    tmp = tempfile.mkdtemp(prefix="zelk-e2e-")
    try:
        if not startX(tmp):
            print("SKIPPED: Xvfb did not start (%s)" % open(tmp + "/xvfb.log").read().strip())
            return SKIP
        env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp + "/config",
                   XDG_STATE_HOME=tmp + "/state", XDG_CACHE_HOME=tmp + "/cache",
                   XDG_RUNTIME_DIR=tmp + "/runtime", QTWEBENGINE_DISABLE_SANDBOX="1")
        env.pop("QT_QPA_PLATFORM", None)
        os.makedirs(tmp + "/runtime", mode=0o700)
        app = subprocess.Popen([sys.argv[1]], env=env, stdout=open(tmp + "/app.log", "w"),
                               stderr=subprocess.STDOUT)
        children.append(app)
        try:
            scenario(app)
            storePractice(tmp + "/config")
            app = subprocess.Popen([sys.argv[1]], env=env, stdout=open(tmp + "/app.log", "a"),
                                   stderr=subprocess.STDOUT)
            children.append(app)
            practice(app)
        except Failed as e:
            shot = tmp + "-failed.png"
            run("import", "-window", "root", shot, check=False)
            print("FAILED: %s\n(screen in %s; the program's status %s, and it said: %s)" %
                  (e, shot, app.poll(), open(tmp + "/app.log").read()[-2000:]))
            return 1
        print("passed: the dialog, driven through the X server")
        return 0
    finally:
        for child in reversed(children):  # asked first, so that Xvfb cleans up
            child.terminate()
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
