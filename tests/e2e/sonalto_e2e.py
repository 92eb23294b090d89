#!/usr/bin/env python3
"""Sonalto driven like a person, from start to end, on a private X server and a private sound server.

    sonalto_e2e.py --program PATH --server-dir DIR --artifacts DIR [--server-name NAME]

DIR holds the sound server's socket (DIR/native), started beforehand by the test's fixture. The script
starts its own Xvfb (on a free display, no TCP) with openbox, then the program, and drives it with
xdotool: opening a French recording, selecting with both mouse buttons, listening, adding two extracts,
saving the project, exporting WAV and MP3, recording a tone from the sink's monitor, transferring it,
quitting, and reopening the project in a second run. Screenshots of every step stay in the artifacts
folder. Every process it starts is stopped by its pid at the end, whatever happened.
"""

import argparse
import array
import json
import math
import os
import re
import secrets
import shutil
import signal
import struct
import subprocess
import sys
import time
import wave

# The colours the program paints: the waveform box's background and selection, its trace, the level
# meter's lit segments. Values that can be told apart at a glance and that no other widget uses there.
BLUE = (0, 0, 255)
GREEN = (0, 128, 0)
WHITE = (255, 255, 255)
LIME = (0, 255, 0)

WINDOW_TIMEOUT = 10.0
FILE_TIMEOUT = 10.0
MP3_TIMEOUT = 30.0
POLL = 0.05

SPEECH = ("Bonjour à tous. Aujourd'hui, nous enregistrons une petite histoire pour la classe, "
          "avec des voix et de la musique.")
TONE_HZ = 440
TONE_AMPLITUDE = 0.5


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, predicate, timeout):
    """Polls predicate until it returns something true; fails naming what was awaited."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"après {timeout:.0f} s d'attente : {what}")
        time.sleep(POLL)


# ---- Screen ------------------------------------------------------------------------------------------


class Grab:
    """A screen's or a window's pixels, read from xwd's dump (header in network order, pixels in the
    server's)."""

    def __init__(self, data):
        h = struct.unpack(">25I", data[:100])
        header_size, self.width, self.height = h[0], h[4], h[5]
        byte_order, bits_per_pixel, self.stride = h[7], h[11], h[12]
        masks, ncolors = h[14:17], h[19]
        if bits_per_pixel not in (24, 32):
            raise Failure(f"capture d'écran en {bits_per_pixel} bits par point, 24 ou 32 attendus")
        self.bpp = bits_per_pixel // 8
        self.order = "little" if byte_order == 0 else "big"
        self.shifts = [(m, (m & -m).bit_length() - 1) for m in masks]
        self.offset = header_size + 12 * ncolors
        self.data = data

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return None
        at = self.offset + y * self.stride + self.bpp * x
        v = int.from_bytes(self.data[at:at + self.bpp], self.order)
        return tuple((v & m) >> s for m, s in self.shifts)

    def region(self, x, y, w, h):
        if self.order == "little" and [m for m, _ in self.shifts] == [0xFF0000, 0xFF00, 0xFF]:
            rows = []
            for j in range(y, y + h):
                at = self.offset + j * self.stride + self.bpp * x
                row = self.data[at:at + self.bpp * w]
                n = self.bpp
                rows.append(list(zip(row[2::n], row[1::n], row[0::n])))
            return rows
        return [[self.pixel(x + i, y + j) for i in range(w)] for j in range(h)]


# ---- The session: X server, window manager, program ------------------------------------------------


class Session:
    def __init__(self, args):
        self.program = os.path.abspath(args.program)
        self.server_dir = os.path.abspath(args.server_dir)
        self.out = os.path.abspath(args.artifacts)
        self.server_name = args.server_name
        self.processes = []  # (name, Popen), stopped in reverse order
        self.step = 0
        self.step_name = "préparation"
        self.step_started = time.monotonic()
        self.display = None
        self.app = None
        self.app_runs = 0

        if os.path.isdir(self.out):
            shutil.rmtree(self.out)
        self.home = os.path.join(self.out, "home")
        self.runtime = os.path.join(self.out, "run")
        for d in (self.home, self.runtime):
            os.makedirs(d)
        os.chmod(self.runtime, 0o700)
        self.xauthority = os.path.join(self.out, "Xauthority")
        self.sound_env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_RUNTIME_DIR": self.runtime,
            "PULSE_SERVER": "unix:" + os.path.join(self.server_dir, "native"),
            "LANG": "C.UTF-8",
        }

    def path(self, name):
        return os.path.join(self.out, name)

    # ---- processes

    def start(self, name, argv, env, log=None, **kw):
        out = open(self.path(log), "wb") if log else subprocess.DEVNULL
        p = subprocess.Popen(argv, env=env, stdout=out, stderr=subprocess.STDOUT, **kw)
        self.processes.append((name, p))
        return p

    def stop(self, p, grace=3.0):
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(grace)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.processes = [(n, q) for n, q in self.processes if q is not p]

    def stop_all(self):
        for _, p in reversed(list(self.processes)):
            self.stop(p)

    def run(self, argv, env=None, timeout=20, what=None):
        r = subprocess.run(argv, env=env or self.x_env(), capture_output=True, timeout=timeout)
        if r.returncode != 0:
            raise Failure(f"{what or argv[0]} a échoué ({r.returncode}) : "
                          f"{r.stderr.decode(errors='replace').strip()}")
        return r.stdout.decode(errors="replace")

    # ---- X

    def x_env(self):
        return dict(self.sound_env, DISPLAY=self.display, XAUTHORITY=self.xauthority)

    def start_x(self):
        cookie = secrets.token_hex(16)
        for n in range(120, 200):
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            self.display = f":{n}"
            self.run(["xauth", "-q", "-f", self.xauthority, "add", self.display, ".", cookie],
                     env=self.sound_env)
            xvfb = self.start("Xvfb", ["Xvfb", self.display, "-screen", "0", "1366x768x24", "-nolisten",
                                       "tcp", "-noreset", "-auth", self.xauthority],
                              self.sound_env, log="xvfb.log")
            deadline = time.monotonic() + WINDOW_TIMEOUT
            while xvfb.poll() is None and time.monotonic() < deadline:
                if subprocess.run(["xdpyinfo"], env=self.x_env(), capture_output=True).returncode == 0:
                    break
                time.sleep(POLL)
            if xvfb.poll() is None and time.monotonic() < deadline:
                break
            self.stop(xvfb)  # another one took that display meanwhile
        else:
            raise Failure("aucun écran X libre entre :120 et :199")
        # A French keyboard, as in the classroom: the accented letters typed are on its keys, where
        # xdotool would otherwise remap a spare key under the program's feet for each of them.
        self.run(["setxkbmap", "-layout", "fr"], what="setxkbmap")
        wm = self.start("openbox", ["openbox", "--sm-disable"], self.x_env(), log="openbox.log")

        def managed():
            check(wm.poll() is None, "openbox s'est arrêté au démarrage (voir openbox.log)")
            r = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.x_env(),
                               capture_output=True, text=True)
            return "window id" in r.stdout
        wait_for("openbox ne gère pas l'écran", managed, WINDOW_TIMEOUT)

    def xdotool(self, *args):
        self.run(["xdotool", *[str(a) for a in args]], what="xdotool " + str(args[0]))

    def click(self, x, y, button=1):
        # One command: the server takes the move before the press. (--sync would wait ~15 s for a move
        # that never comes when the pointer is already there.)
        self.xdotool("mousemove", x, y, "click", button)

    def type(self, text):
        self.xdotool("type", "--delay", 12, "--", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", 40, *keys)

    def windows(self, name=None):
        """The visible windows of that caption, or all the program's visible windows."""
        how = ["--name", name] if name else ["--class", "^sonalto$"]
        r = subprocess.run(["xdotool", "search", "--onlyvisible", *how], env=self.x_env(),
                           capture_output=True, text=True)
        return [int(w) for w in r.stdout.split()]

    def geometry(self, wid):
        """The client area's place on the screen (xdotool adds the frame's offset twice under openbox)."""
        r = subprocess.run(["xwininfo", "-id", str(wid)], env=self.x_env(), capture_output=True, text=True)
        if r.returncode != 0:
            return None
        values = dict(re.findall(r"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s*(-?\d+)",
                                 r.stdout, re.M))
        return tuple(int(values[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width",
                                               "Height"))

    def wait_window(self, caption, size=None, timeout=WINDOW_TIMEOUT):
        """A window by its caption, or one of the program's by its size when it has no caption."""
        pattern = "^" + re.escape(caption) + "$" if caption else None

        seen = {}

        def found():
            # Placed: the window manager frames it and the program centres it after it is mapped, so
            # its place counts once two looks in a row agree.
            self.check_app_alive()
            for w in self.windows(pattern):
                g = self.geometry(w)
                if g and (size is None or g[2:] == size):
                    if seen.get(w) == g:
                        return w, g
                    seen[w] = g
            return None
        shape = f" de {size[0]} × {size[1]}" if size else ""
        return wait_for(f"la fenêtre « {caption or 'sans titre'} »{shape} ne s'ouvre pas", found, timeout)

    def wait_closed(self, wid, caption, timeout=WINDOW_TIMEOUT):
        def closed():
            r = subprocess.run(["xwininfo", "-id", str(wid)], env=self.x_env(), capture_output=True,
                               text=True)
            return r.returncode != 0 or "IsViewable" not in r.stdout
        wait_for(f"la fenêtre « {caption} » reste ouverte", closed, timeout)

    def grab(self, wid=None):
        """The screen, or one window's own pixels (a dialog may have a visual of its own, which the
        screen's dump leaves black)."""
        which = ["-id", str(wid)] if wid else ["-root"]
        r = subprocess.run(["xwd", *which, "-silent"], env=self.x_env(), capture_output=True, timeout=20)
        if r.returncode != 0:
            raise Failure("xwd n'a pas pu lire l'écran")
        return Grab(r.stdout)

    def screenshot(self, name):
        subprocess.run(["import", "-window", "root", self.path(f"{self.step:02d}-{name}.png")],
                       env=self.x_env(), capture_output=True, timeout=20)

    # ---- the program

    def start_app(self):
        self.app_runs += 1
        env = dict(self.x_env(),
                   LANG="fr_FR.UTF-8",
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local/share"),
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(self.runtime, "no-bus"),
                   QT_QPA_PLATFORM="xcb")
        self.app = self.start("sonalto", [self.program], env, log=f"sonalto-{self.app_runs}.log",
                              cwd=self.home)
        wid, _ = self.wait_window("Sonalto")
        return MainWindow(self, wid)

    def check_app_alive(self):
        if self.app is not None and self.app.poll() is not None:
            raise Failure(f"le programme s'est arrêté (code {self.app.returncode}), "
                          f"voir sonalto-{self.app_runs}.log")

    # ---- the sound server

    def pactl(self, kind):
        return json.loads(self.run(["pactl", "-f", "json", "list", kind], env=self.sound_env,
                                   what="pactl list " + kind) or "[]")

    def streams_of(self, kind, pid):
        return [s for s in self.pactl(kind)
                if s.get("properties", {}).get("application.process.id") == str(pid)]

    def sink_index(self, name):
        for s in self.pactl("sinks"):
            if s["name"] == name:
                return s["index"]
        raise Failure(f"le serveur son n'a pas de sortie « {name} »")

    def monitor_of(self, sink_name):
        sink = self.sink_index(sink_name)
        for s in self.pactl("sources"):
            if s.get("monitor_of_sink") in (sink, sink_name) or s["name"] == sink_name + ".monitor":
                return s
        raise Failure(f"le serveur son n'a pas de source « moniteur de {sink_name} »")


class MainWindow:
    """The main window's controls, placed from the window's own layout: the waveform box (white while
    nothing is loaded) is found on the screen, and everything else follows from it."""

    def __init__(self, s, wid):
        self.s, self.wid = s, wid
        # Found once the window manager has framed and placed the window, and the box is painted.
        self.pb, self.x, self.y, self.menu_y = wait_for(
            "la zone de la forme d'onde (blanche au départ, à 8 points du bord) n'apparaît pas",
            self.find_waveform_box, WINDOW_TIMEOUT)
        self.W = self.pb[2] + 24  # the outer width the layout was made for

    def find_waveform_box(self):
        g = self.s.geometry(self.wid)
        if not g:
            return None
        x0, y0, _, _ = g
        shot = self.s.grab()
        column = x0 + 400
        top = next((y for y in range(y0, y0 + 120)
                    if shot.pixel(column, y) == WHITE and shot.pixel(column, y + 20) == WHITE), None)
        left = x0 + 8
        if top is None or shot.pixel(left, top + 20) != WHITE or shot.pixel(left - 1, top + 20) == WHITE:
            return None
        right = left
        while shot.pixel(right, top + 20) == WHITE:
            right += 1
        # The surface under the menu bar has its origin 40 points above the box.
        return (left, top, right - left, 145), x0, top - 40, (y0 + top - 40) // 2

    def at(self, sx, sy):
        return self.x + sx, self.y + sy

    def click(self, sx, sy, button=1):
        self.s.click(*self.at(sx, sy), button)

    # The controls' centres, in the surface's coordinates.
    def record(self):
        self.click(8 + 12, 8 + 12)

    def open_sound(self):
        self.click(32 + 12, 8 + 12)

    def play_selection(self):
        self.click(178 + 12, 8 + 12)

    def open_project(self):
        self.click(64 + 12, 224 + 12)

    def save_project(self):
        self.click(96 + 12, 224 + 12)

    def add_selection(self):
        self.click((self.W - 25) // 2 + 12, 224 + 12)

    def export_wave(self):
        self.click(self.W - 207 + 24, 224 + 12)

    def export_mp3(self):
        self.click(self.W - 158 + 16, 224 + 12)

    def strip_box(self):
        return self.x + 32, self.y + 256, self.W - 68, 124

    def pb_click(self, column, button):
        self.s.click(self.pb[0] + column, self.pb[1] + self.pb[3] // 2 + 30, button)

    def montage_playable(self):
        """The montage's play button shows its yellow glyph once the render is done (grey while disabled)."""
        shot = self.s.grab()
        bx, by = self.at(self.W - 272, 224)
        for j in range(25):
            for i in range(49):
                r, g, b = shot.pixel(bx + i, by + j)
                if r > 200 and g > 150 and b < 90:
                    return True
        return False

    def waveform(self):
        """Per column of the waveform box: the background colour near its top edge, and how far the
        white trace reaches from the middle line."""
        shot = self.s.grab()
        x, y, w, h = self.pb
        middle = h // 2
        rows = shot.region(x, y, w, h)
        background = [rows[2][i] for i in range(w)]
        reach = []
        for i in range(w):
            ys = [j for j in range(h) if rows[j][i] == WHITE]
            reach.append(max(abs(j - middle) for j in ys) if ys else None)
        return background, reach

    def menu_item(self, menu_x, last=False, downs=0):
        """Opens a menu of the menu bar and picks an item: the last one with a click, or another with the
        arrow keys."""
        self.s.click(self.x + menu_x, self.menu_y)

        def popup():
            for w in self.s.windows():
                if w != self.wid:
                    g = self.s.geometry(w)
                    if g and g[3] > 60 and g[1] < self.y + 40:
                        return w, g
            return None
        w, g = wait_for("le menu ne s'ouvre pas", popup, WINDOW_TIMEOUT)
        if last:
            self.s.click(g[0] + 40, g[1] + g[3] - 12)
        else:
            self.s.key(*(["Down"] * downs), "Return")
        self.s.wait_closed(w, "menu")


# ---- Files -------------------------------------------------------------------------------------------


def wave_info(path):
    """(duration in seconds, rate, channels, samples as a list of the first channel) of a PCM WAV file."""
    with wave.open(path, "rb") as f:
        n, rate, channels, width = f.getnframes(), f.getframerate(), f.getnchannels(), f.getsampwidth()
        check(width == 2, f"{os.path.basename(path)} : {8 * width} bits par échantillon, 16 attendus")
        data = array.array("h", f.readframes(n))
    if sys.byteorder != "little":
        data.byteswap()
    return n / rate, rate, channels, data[::channels]


def complete_wave(path):
    """Whether the file is there and its RIFF sizes account for the whole file (the writer is done)."""
    try:
        size = os.path.getsize(path)
        with open(path, "rb") as f:
            head = f.read(12)
        if len(head) < 12 or head[:4] != b"RIFF" or head[8:12] != b"WAVE":
            return False
        with wave.open(path, "rb") as f:
            f.getnframes()
        return struct.unpack("<I", head[4:8])[0] + 8 == size
    except (OSError, EOFError, wave.Error):
        return False


def stable_file(path, quiet=0.3):
    """Whether the file exists and has kept its size for a moment."""
    try:
        st = os.stat(path)
    except OSError:
        return False
    return st.st_size > 0 and time.time() - st.st_mtime > quiet


def block_levels(samples, rate=22050, ms=50):
    """The level in dB of full scale of each block of a mono signal."""
    n = rate * ms // 1000
    levels = []
    for at in range(0, len(samples) - n + 1, n):
        power = sum(v * v for v in samples[at:at + n]) / n
        levels.append(10 * math.log10(max(power, 1e-3) / 32768 ** 2))
    return levels


def sox_stats(path):
    r = subprocess.run(["sox", path, "-n", "stats"], capture_output=True, text=True)
    stats = {}
    for line in r.stderr.splitlines():
        m = re.match(r"^(.*?)\s{2,}(-?[\d.]+|-inf)", line)
        if m:
            stats[m.group(1).strip()] = float(m.group(2))
    r = subprocess.run(["sox", path, "-n", "stat"], capture_output=True, text=True)
    m = re.search(r"Rough\s+frequency:\s+(-?\d+)", r.stderr)
    stats["frequency"] = int(m.group(1)) if m else None
    return stats


def read_project(path):
    """The clips of a project file: 332-byte records, texts in Windows-1252."""
    data = open(path, "rb").read()
    check(len(data) % 332 == 0, f"projet de {len(data)} octets, pas un multiple de 332")
    clips = []
    for k in range(len(data) // 332):
        r = data[332 * k:332 * (k + 1)]
        title = r[1:1 + r[0]].decode("cp1252")
        source = r[47:47 + r[46]].decode("cp1252")
        start, length, fin, fout, fin_ms, fout_ms, position = struct.unpack("<7i", r[304:332])
        clips.append(dict(title=title, source=source, start=start, length=length, fade_in=fin,
                          fade_out=fout, position=position))
    return clips


# ---- The road ----------------------------------------------------------------------------------------


def step(s, name):
    now = time.monotonic()
    if s.step:
        print(f"   ({now - s.step_started:.1f} s)", flush=True)
    s.step += 1
    s.step_name = name
    s.step_started = now
    print(f"{s.step:02d} {name}", flush=True)


def file_dialog(s, caption, path):
    """Qt's own file dialog: the path typed into its file-name field, which has the focus, then Enter."""
    wid, _ = s.wait_window(caption)
    s.type(path)
    s.key("Return")
    s.wait_closed(wid, caption)


def title_dialog(s, keys=(), text=None):
    """The extract's title dialog: borderless, captionless, 273 × 91; the proposal is selected."""
    wid, _ = s.wait_window(None, size=(273, 91))
    if keys:
        s.key(*keys)
    if text:
        s.type(text)
    s.key("Return")
    s.wait_closed(wid, "titre de l'extrait")


def selection_columns(background):
    green = [i for i, c in enumerate(background) if c == GREEN]
    other = [c for c in background if c not in (GREEN, BLUE)]
    check(not other, f"la zone de la forme d'onde a des couleurs inattendues : {other[:3]}")
    return (green[0], green[-1] + 1) if green else None


def shows_selection(main_window, left, right):
    """Waits for the box to show the selection between the two clicked columns (one column either way:
    a column is a sample index rounded, and back)."""
    def near(span):
        return span and abs(span[0] - left) <= 1 and abs(span[1] - right) <= 1
    try:
        wait_for("", lambda: near(selection_columns(main_window.waveform()[0])), 3)
    except Failure:
        shown = selection_columns(main_window.waveform()[0])
        raise Failure(f"la sélection montrée couvre les colonnes {shown}, {left} à {right} attendues")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--server-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--server-name", default="son")
    args = parser.parse_args()
    s = Session(args)
    started = time.monotonic()
    try:
        drive(s)
    except Failure as e:
        print(f"\nÉCHEC à l'étape {s.step:02d} ({s.step_name}) sur {s.server_name} : {e}", flush=True)
        try:
            s.screenshot("echec")
        except Exception:
            pass
        print(f"Captures d'écran et fichiers : {s.out}")
        return 1
    finally:
        s.stop_all()
    print(f"   ({time.monotonic() - s.step_started:.1f} s)\nTout est passé sur {s.server_name} en "
          f"{time.monotonic() - started:.1f} s ; captures dans {s.out}")
    return 0


def drive(s):
    step(s, "préparation : serveur son, écran, parole")
    unavailable = os.path.join(s.server_dir, "unavailable")
    check(not os.path.exists(unavailable),
          "le serveur son privé n'a pas démarré : " +
          (open(unavailable).read().strip() if os.path.exists(unavailable) else ""))
    check(os.access(s.program, os.X_OK), f"pas de programme à lancer : {s.program}")
    given = os.environ.get("PULSE_SERVER")
    check(given in (None, s.sound_env["PULSE_SERVER"]),
          f"PULSE_SERVER={given} n'est pas le serveur privé de {s.server_dir}")
    s.run(["pactl", "info"], env=s.sound_env, what="pactl info (serveur son privé)")
    sink = "sonalto_null"
    sink_index = s.sink_index(sink)
    s.start_x()

    speech_raw = s.path("parole-espeak.wav")
    speech = s.path("parole.wav")
    s.run(["espeak-ng", "-v", "fr", "-w", speech_raw, SPEECH], env=s.sound_env, what="espeak-ng")
    # Stereo at 44.1 kHz: the editor folds it to mono on load, the montage brings it to 22.05 kHz.
    s.run(["sox", speech_raw, "-r", "44100", "-c", "2", "-b", "16", speech], env=s.sound_env, what="sox")
    speech_seconds = wave_info(speech)[0]
    check(speech_seconds > 3, f"la phrase dite ne dure que {speech_seconds:.2f} s")
    tone = s.path("la440.wav")
    s.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "30", "sine", str(TONE_HZ),
           "vol", str(TONE_AMPLITUDE)], env=s.sound_env, what="sox (la 440)")

    main_window = s.start_app()
    s.screenshot("demarrage")
    check(not main_window.montage_playable(), "le bouton d'écoute du montage est actif sans montage")

    # 1. Open the recording through the open dialog.
    step(s, "ouverture du fichier son par « Ouvrir un fichier son »")
    main_window.open_sound()
    file_dialog(s, "Ouvrir", speech)

    def loaded():
        background, reach = main_window.waveform()
        return (background, reach) if all(c == GREEN for c in background) else None
    background, reach = wait_for("la forme d'onde n'apparaît pas (toute sélectionnée) après l'ouverture",
                                 loaded, FILE_TIMEOUT)
    check(max(r for r in reach if r is not None) > 10, "la forme d'onde de la parole est plate")
    s.screenshot("ouverture")

    # 2. Select: left button for the start, right button for the end.
    step(s, "sélection au clic gauche et au clic droit")
    width = main_window.pb[2]
    a, b = round(width * 0.18), round(width * 0.55)
    main_window.pb_click(a, 1)
    main_window.pb_click(b, 3)

    shows_selection(main_window, a, b)
    s.screenshot("selection")

    # 3. Listen to the selection: a stream of the program reaches the server's sink, and ends by itself.
    step(s, "écoute de la sélection")
    selection_seconds = (b - a) / width * speech_seconds
    main_window.play_selection()
    streams = wait_for("aucun flux du programme n'arrive au serveur son",
                       lambda: s.streams_of("sink-inputs", s.app.pid), 5)
    shown = time.monotonic()
    check(streams[0]["sink"] == sink_index,
          f"le flux va vers la sortie n° {streams[0]['sink']}, pas vers {sink} (n° {sink_index})")
    s.screenshot("ecoute")
    wait_for("le flux de l'écoute ne se termine pas", lambda: not s.streams_of("sink-inputs", s.app.pid),
             selection_seconds + 5)
    heard = time.monotonic() - shown
    check(heard > selection_seconds - 0.4,
          f"l'écoute n'a duré que {heard:.2f} s pour une sélection de {selection_seconds:.2f} s")

    # 4. Two extracts with their titles.
    step(s, "premier extrait, titre tapé")
    main_window.add_selection()
    title_dialog(s, text="Bonjour à tous")
    wait_for("le montage ne se calcule pas", main_window.montage_playable, FILE_TIMEOUT)
    s.screenshot("extrait-1")

    step(s, "second extrait, titre proposé complété")
    c, d = round(width * 0.62), round(width * 0.93)
    main_window.pb_click(c, 1)
    main_window.pb_click(d, 3)
    shows_selection(main_window, c, d)
    main_window.add_selection()
    title_dialog(s, keys=("End",), text=" (suite)")
    s.screenshot("extrait-2")

    # 5. Save the project.
    step(s, "enregistrement du montage")
    project = s.path("projet.snt")
    main_window.save_project()
    file_dialog(s, "Enregistrer le montage", project)
    wait_for("le projet n'est pas écrit", lambda: stable_file(project) and os.path.getsize(project) == 664,
             FILE_TIMEOUT)
    clips = read_project(project)
    check([c["title"] for c in clips] == ["Bonjour à tous", "Extrait n° 2 (suite)"],
          f"titres enregistrés : {[c['title'] for c in clips]}")
    ms_per_column = speech_seconds * 1000 / width
    for clip, (left, right), k in zip(clips, ((a, b), (c, d)), (0, 1)):
        check(clip["source"] == speech and clip["position"] == k and clip["fade_in"] == 1 and
              clip["fade_out"] == 1, f"extrait {k + 1} enregistré : {clip}")
        for got, column in ((clip["start"], left), (clip["start"] + clip["length"], right)):
            check(abs(got - column * ms_per_column) <= 2 * ms_per_column,
                  f"extrait {k + 1} : borne à {got} ms, le clic était à {column * ms_per_column:.0f} ms")
    montage_seconds = sum(c["length"] for c in clips) / 1000
    wait_for("le montage ne se calcule pas", main_window.montage_playable, FILE_TIMEOUT)
    strip_before = s.grab().region(*main_window.strip_box())
    s.screenshot("projet")

    # 6. Export as WAV, then as MP3 through the MP3 dialog's own file choice.
    step(s, "export WAV")
    exported = s.path("montage.wav")
    main_window.export_wave()
    file_dialog(s, "Enregistrer le montage", exported)
    wait_for("le WAV exporté n'est pas écrit", lambda: complete_wave(exported), FILE_TIMEOUT)
    seconds, rate, channels, samples = wave_info(exported)
    check((rate, channels) == (22050, 1), f"WAV exporté en {rate} Hz, {channels} voie(s)")
    check(abs(seconds - montage_seconds) <= 0.005,
          f"le WAV dure {seconds:.3f} s, les extraits {montage_seconds:.3f} s")
    s.screenshot("export-wav")

    step(s, "export MP3")
    mp3 = s.path("extraits.mp3")
    main_window.export_mp3()
    dialog, (dx, dy, _, _) = s.wait_window("Sauvegarde mp3", size=(217, 168))
    s.click(dx + 136 + 12, dy + 4 + 12)  # the file choice
    file_dialog(s, "Enregistrer le montage au format mp3", mp3)
    s.screenshot("mp3-dialogue")
    s.click(dx + 8 + 100, dy + 138 + 12)  # "ENREGISTRER EN MP3"
    s.wait_closed(dialog, "Sauvegarde mp3", MP3_TIMEOUT)
    check(os.path.isfile(mp3), "le dialogue MP3 s'est fermé sans écrire le fichier")
    decoded = s.path("extraits-decode.wav")
    s.run(["lame", "--quiet", "--decode", mp3, decoded], env=s.sound_env, what="lame --decode")
    mp3_seconds = wave_info(decoded)[0]
    # The file carries no gapless tag, so the decoder keeps what the encoder adds: its delay at the start
    # and the padding of the last frame, under two frames together. Nothing may be missing.
    frame = 1152 / 44100
    check(-0.002 <= mp3_seconds - seconds <= 2 * frame,
          f"le MP3 décodé dure {mp3_seconds:.3f} s, le montage {seconds:.3f} s")
    wav_rms, mp3_rms = sox_stats(exported)["RMS lev dB"], sox_stats(decoded)["RMS lev dB"]
    check(abs(wav_rms - mp3_rms) <= 1.0, f"niveau du MP3 {mp3_rms:.1f} dB, du WAV {wav_rms:.1f} dB")
    check(not os.path.exists(os.path.join(s.home, ".cache/sonalto/tempo.wav")),
          "le fichier temporaire de l'export MP3 est resté")
    s.screenshot("export-mp3")

    # 7. Record a tone played into the sink, from its monitor, through the recording window.
    step(s, "enregistrement d'un la 440 depuis le moniteur de la sortie")
    player = s.start("paplay", ["paplay", "--device=" + sink, tone], s.sound_env, log="paplay.log")
    wait_for("le la 440 n'arrive pas au serveur son", lambda: s.streams_of("sink-inputs", player.pid), 5)
    monitor = s.monitor_of(sink)
    main_window.record()
    rec, (rx, ry, _, _) = s.wait_window("Enregistrement", size=(288, 144))
    before = set(s.windows())
    s.click(rx + 8 + 64 + 80, ry + 8 + 20 + 10)  # the source list
    wait_for("la liste des sources ne s'ouvre pas", lambda: set(s.windows()) - before, WINDOW_TIMEOUT)
    s.type(monitor["description"])
    s.key("Return")
    recording = s.path("enregistrement.wav")
    s.click(rx + 192 + 12, ry + 112 + 12)  # "Démarrer l'enregistrement"
    chooser, _ = s.wait_window("Enregistrer sous")
    s.type(recording)
    # The recording starts once its file is chosen: from this Enter to the stopping click.
    began = time.monotonic()
    s.key("Return")
    s.wait_closed(chooser, "Enregistrer sous")
    outputs = wait_for("aucun flux d'enregistrement du programme sur le serveur son",
                       lambda: s.streams_of("source-outputs", s.app.pid), 5)
    check(outputs[0]["source"] == monitor["index"],
          f"l'enregistrement vient de la source n° {outputs[0]['source']}, pas de « {monitor['description']} »")

    def meter_lit():
        shot = s.grab(rec)
        return any(shot.pixel(256 + 12, 24 + j) == LIME for j in range(113))
    wait_for("le vumètre reste éteint pendant l'enregistrement", meter_lit, 3)
    s.screenshot("enregistrement")
    time.sleep(max(0.0, 3.0 - (time.monotonic() - began)))
    stopped = time.monotonic()
    s.click(rx + 192 + 12, ry + 112 + 12)  # the same button stops
    wait_for("l'enregistrement ne s'arrête pas sur le serveur son",
             lambda: not s.streams_of("source-outputs", s.app.pid), 5)
    wait_for("le fichier enregistré n'est pas complet", lambda: complete_wave(recording), FILE_TIMEOUT)
    s.stop(player)
    clicked = stopped - began
    rec_seconds, rec_rate, rec_channels, _ = wave_info(recording)
    check(abs(rec_seconds - clicked) <= 0.1,
          f"l'enregistrement dure {rec_seconds:.3f} s pour {clicked:.3f} s entre les deux clics")
    # The same tone on both channels, folded to mono: its own level, whatever the server (PipeWire would
    # keep the two channels' power, 3 dB louder, where the program asks for PulseAudio's average).
    stats = sox_stats(recording)
    expected_rms = 20 * math.log10(TONE_AMPLITUDE / math.sqrt(2))
    check(abs(stats["RMS lev dB"] - expected_rms) <= 1.0,
          f"niveau enregistré {stats['RMS lev dB']:.1f} dB, celui du la {expected_rms:.1f} dB")
    check(stats["frequency"] is not None and abs(stats["frequency"] - TONE_HZ) <= 20,
          f"fréquence enregistrée {stats['frequency']} Hz, {TONE_HZ} Hz attendus")
    wait_for("le vumètre reste allumé après l'arrêt", lambda: not meter_lit(), 3)
    s.screenshot("enregistrement-fini")
    print(f"   enregistrement : {rec_seconds:.3f} s pour {clicked:.3f} s entre les clics, "
          f"{stats['RMS lev dB']:.2f} dB, {stats['frequency']} Hz")

    # 8. Transfer to the editor: the main window shows a steady tone at half scale, all selected.
    step(s, "transfert dans la console de montage")
    s.click(rx + 224 + 12, ry + 112 + 12)
    s.wait_closed(rec, "Enregistrement")
    # The box spans full scale over its height: the trace reaches the recording's peak either side.
    half = main_window.pb[3] / 2 * 10 ** (stats["Pk lev dB"] / 20)

    def tone_shown():
        background, reach = main_window.waveform()
        if not all(c == GREEN for c in background) or None in reach:
            return None
        spans = sorted(reach)
        return spans if abs(spans[-1] - half) <= 4 and spans[len(spans) // 2] >= half / 3 else None
    try:
        wait_for("", tone_shown, FILE_TIMEOUT)
    except Failure:
        _, reach = main_window.waveform()
        known = sorted(r for r in reach if r is not None)
        raise Failure("la fenêtre principale ne montre pas le la enregistré (tout sélectionné, ±"
                      f"{half:.0f} points) : écarts au milieu de {known[:1]} à {known[-1:]} points, "
                      f"médian {known[len(known) // 2:][:1]}")
    s.screenshot("transfert")

    # 9. A third extract leaves the montage unsaved: quitting asks, and the program ends cleanly.
    step(s, "troisième extrait, puis « Quitter » et la question du montage non enregistré")
    main_window.add_selection()
    title_dialog(s)
    main_window.menu_item(30, last=True)  # Montage > Quitter
    question, _ = s.wait_window("ALERTE")
    s.screenshot("question")
    s.key("Tab", "space")  # from "Non", the default, to "Oui"
    try:
        code = s.app.wait(10)
    except subprocess.TimeoutExpired:
        raise Failure("le programme ne se termine pas après « Oui »")
    check(code == 0, f"le programme s'est terminé avec le code {code}")
    s.app = None
    s.screenshot("fin")

    # 10. Start again and reopen the project: the same strip, the same montage.
    step(s, "redémarrage et ouverture du projet")
    main_window = s.start_app()
    main_window.open_project()
    file_dialog(s, "Ouvrir un montage", project)
    wait_for("le montage rouvert ne se calcule pas", main_window.montage_playable, FILE_TIMEOUT)
    strip_after = s.grab().region(*main_window.strip_box())
    differing = sum(p != q for row_p, row_q in zip(strip_before, strip_after) for p, q in zip(row_p, row_q))
    s.screenshot("projet-rouvert")
    check(differing == 0, f"la bande des extraits rouverte diffère de l'enregistrée en {differing} points "
          "(comparer les captures « projet » et « projet-rouvert »)")

    step(s, "export WAV du montage rouvert, par le menu")
    reopened = s.path("montage-rouvert.wav")
    main_window.menu_item(30, downs=4)  # Montage > Exporter le montage au format wave
    file_dialog(s, "Enregistrer le montage", reopened)
    wait_for("le WAV du montage rouvert n'est pas écrit", lambda: complete_wave(reopened), FILE_TIMEOUT)
    again, _, _, samples_again = wave_info(reopened)
    check(abs(again - seconds) <= 0.002, f"le montage rouvert dure {again:.3f} s, l'original {seconds:.3f} s")
    # Cut again from the stereo file rather than from the mono recording in memory, a clip may start one
    # source sample apart: the two are compared by their loudness, 50 ms at a time.
    worst = max(abs(p - q) for p, q in zip(block_levels(samples), block_levels(samples_again))
                if p > -40)
    check(worst <= 1.0, f"le montage rouvert ne sonne pas comme l'original : {worst:.1f} dB d'écart "
          "sur 50 ms")
    s.screenshot("export-rouvert")

    step(s, "« Quitter » sans question")
    main_window.menu_item(30, last=True)
    try:
        code = s.app.wait(10)
    except subprocess.TimeoutExpired:
        asked = s.windows("^ALERTE$")
        raise Failure("le programme ne se termine pas" +
                      (" : il pose la question d'un montage non enregistré qui vient d'être ouvert"
                       if asked else ""))
    check(code == 0, f"le programme s'est terminé avec le code {code}")
    s.app = None
    s.screenshot("fin")


if __name__ == "__main__":
    sys.exit(main())
