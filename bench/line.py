"""The emulated-line part of the benchmark: a release shaped like a game
client, installed fresh through bench/line_relay.py (a player's round trip and
downstream rate) by the updater and, on the same relay and the same URLs, by
curl with 8 connections, the plain WinINet loop with the updater's number of
transfers, the line's limit (bytes / rate), and where Wine can't run, curl in
the updater's old request form. Also on loopback, for the updater against the
loop. Run from bench/bench.py."""
import math
import os
import random
import shutil
import subprocess
import sys
import time

import bench as core

GAME_FILES = 2000
GAME_FOLDERS = 300
GAME_LARGE_MB = (5, 10, 20, 30, 50)
GAME_TOP = ("data", "maps", "sound", "ui", "script", "model", "texture", "effect")
# Round trip ms, Mbit/s: a player near the server and one far from it.
LINES = {"30": (30, 100), "100": (100, 20)}
LINE_RUN_TIMEOUT = 900  # today's updater needs about 2 round trips per file on the slow line
RELAY_LIFETIME = 3600


def make_game(root):
    """About 2,000 files from 200 bytes to 64 KiB (spread evenly on a log
    scale) in 300 nested folders, plus a handful of large archives that hold
    most of the bytes, as a game's do. The same bytes every time (seeded)."""
    shape = repr((GAME_FILES, GAME_FOLDERS, GAME_LARGE_MB))
    if os.path.exists(root + ".done") and open(root + ".done").read() == shape:
        return
    shutil.rmtree(root, ignore_errors=True)
    rng = random.Random(11)
    folders = list(GAME_TOP)
    while len(folders) < GAME_FOLDERS:
        parent = rng.choice(folders)
        if parent.count("/") < 4:
            folders.append("%s/%s%d" % (parent, rng.choice(("res", "lv", "pack", "set", "part")), len(folders)))
    for folder in folders:
        os.makedirs(os.path.join(root, folder))
    for i in range(GAME_FILES):
        folder = folders[i] if i < len(folders) else rng.choice(folders)  # no folder left empty
        size = int(math.exp(rng.uniform(math.log(200), math.log(64 * 1024))))
        with open(os.path.join(root, folder, "f%04d.%s" % (i, rng.choice(("dat", "ini", "tga", "lua")))), "wb") as f:
            f.write(rng.randbytes(size))
    os.makedirs(os.path.join(root, "pak"))
    for n, mb in enumerate(GAME_LARGE_MB):
        with open(os.path.join(root, "pak", "game%d.pak" % n), "wb") as f:
            for _ in range(mb):
                f.write(rng.randbytes(1 << 20))
    with open(root + ".done", "w") as f:
        f.write(shape)


def release_bytes(root):
    return sum(os.path.getsize(os.path.join(root, p)) for p in core.release_files(root))


class LineRelay:
    """bench/line_relay.py in front of nginx, for one line profile."""

    def __init__(self, upstream, profile, state):
        os.makedirs(state, exist_ok=True)
        self.rtt, self.mbit = LINES[profile]
        self.port_file = os.path.join(state, "relay.port")
        self.log = os.path.join(state, "relay.log")
        for path in (self.port_file, self.log):
            if os.path.exists(path):
                os.remove(path)
        open(self.log, "w").close()
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "line_relay.py")
        self.proc = subprocess.Popen([sys.executable, script, "--upstream", str(upstream), "--profile", profile,
                                      "--port-file", self.port_file, "--log", self.log,
                                      "--lifetime", str(RELAY_LIFETIME)])
        deadline = time.time() + 10
        while not os.path.exists(self.port_file):
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("line relay did not start")
            time.sleep(0.05)
        with open(self.port_file) as f:
            self.port = int(f.read())

    def name(self):
        return "%d ms, %d Mbit/s" % (self.rtt, self.mbit)

    def limit(self, nbytes):
        return nbytes * 8 / (self.mbit * 1e6)

    def mark(self):
        return os.path.getsize(self.log)

    def since(self, mark):
        """The connections closed after mark: (accepted, last byte to the client, bytes down).
        A connection's line is written once both ends have closed, a round trip after the client."""
        time.sleep(0.3 + self.rtt / 1000.0)
        with open(self.log) as f:
            f.seek(mark)
            return [(float(a), float(b), int(n)) for a, b, n in (l.split("\t") for l in f.read().splitlines())]

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def line_span(conns):
    """From the first connection's start to the last byte that reached a client."""
    if not conns:
        return float("nan"), 0
    return max(c[1] for c in conns) - min(c[0] for c in conns), sum(c[2] for c in conns)


class GameBench:
    """One program folder and one nginx; each line is a relay in front of it."""

    def __init__(self, args, release, site, nginx):
        self.args, self.release, self.nginx = args, release, nginx
        self.work = os.path.join(args.work, "game")
        self.prog = os.path.join(self.work, "prog")
        self.files = core.release_files(release)
        self.urls = [core.LIST_URL] + [core.RELEASE_URL + p.replace(os.sep, "/") for p in self.files]
        self.bytes = release_bytes(release) + os.path.getsize(os.path.join(site, core.LIST_URL.strip("/")))
        self.rows, self.peak, self.sampled = [], 0, ""
        self.env = dict(os.environ)

    def prepare_program_folder(self, port):
        shutil.rmtree(self.prog, ignore_errors=True)
        os.makedirs(self.prog)
        shutil.copy(os.path.join(self.args.bin, "selfrenew.exe"), os.path.join(self.prog, "Selfrenew.kro"))
        shutil.copytree(os.path.join(self.args.bin, "UpdateRes"), os.path.join(self.prog, "UpdateRes"))
        write_update_ini(self.prog, port, self.args.transfers)

    def timed(self, clock, run):
        """Runs run() and times it on clock: a relay (the client's side of the
        line) or, on loopback, nginx's log. Returns (seconds, bytes, wall)."""
        mark = clock.mark()
        t0 = time.time()
        run()
        wall = time.time() - t0
        if isinstance(clock, LineRelay):
            span, nbytes = line_span(clock.since(mark))
        else:
            log = clock.since(mark)
            span, nbytes = core.span(log), sum(e[2] for e in log)
        return span, nbytes, wall

    def updater(self, port):
        def run():
            for top in {p.split(os.sep)[0] for p in self.files}:
                shutil.rmtree(os.path.join(self.prog, top), ignore_errors=True)
            shutil.rmtree(os.path.join(self.prog, "UpdateINI"), ignore_errors=True)
            write_update_ini(self.prog, port, self.args.transfers)
            core.RUN_TIMEOUT = LINE_RUN_TIMEOUT
            _, rc, peak, _ = core.run_measured(["wine", "Selfrenew.kro", core.PRODUCT], self.prog, self.env)
            self.peak = max(self.peak, peak)
            self.sampled = core.run_measured.seen
            missing = [p for p in self.files if not os.path.exists(os.path.join(self.prog, p))]
            if missing:
                print("  updater left %d files uninstalled, first %s" % (len(missing), missing[0]), file=sys.stderr)
        return run

    def curl(self, port, options):
        out = os.path.join(self.work, "peer-curl")
        cfg = os.path.join(self.work, "curl.cfg")

        def run():
            shutil.rmtree(out, ignore_errors=True)
            with open(cfg, "w") as f:
                for u in self.urls:
                    f.write('url = "http://127.0.0.1:%d%s"\noutput = "%s%s"\n' % (port, u, out, u))
            r = subprocess.run(["curl", "-s", "--no-progress-meter", "--fail", "--create-dirs"] + list(options) + ["-K", cfg],
                               timeout=LINE_RUN_TIMEOUT, check=False)
            if r.returncode:
                print("  curl %s: exit %d" % (" ".join(options), r.returncode), file=sys.stderr)
        return run

    def wininet(self, port):
        out = os.path.join(self.work, "peer-wininet")
        lst = os.path.join(self.work, "urls.txt")

        def run():
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            with open(lst, "w") as f:
                f.write("\n".join(self.urls) + "\n")
            cmd = ["wine", os.path.join(self.args.peers, "wininet_peer.exe"), "--threads", str(self.args.transfers),
                   "127.0.0.1", str(port), core.winpath(lst), core.winpath(out)]
            core.RUN_TIMEOUT = LINE_RUN_TIMEOUT
            _, rc, _, said = core.run_measured(cmd, self.work, self.env)
            if rc != 0:
                print("  wininet_peer: %s (exit %s)" % (said, rc), file=sys.stderr)
        return run

    def compare(self, clock, port, line_name, limit_of):
        """Every client once on one line; the best of --line-repeat each."""
        clients = [("curl x8", self.curl(port, core.CURL_PARALLEL))]
        if self.args.no_wine:
            # Without the updater: its old request form (HTTP/1.0, a new
            # connection per file, one at a time) with none of its own work.
            clients.append(("curl x1 HTTP/1.0", self.curl(port, ("--http1.0",))))
        else:
            clients = [("updater", self.updater(port)),
                       ("WinINet loop x%d" % self.args.transfers, self.wininet(port))] + clients
        row = LineRow(line_name)
        for name, run in clients:
            print("  %s: %s" % (line_name, name), flush=True)
            best = min((self.timed(clock, run) for _ in range(self.args.line_repeat)), key=lambda t: t[0])
            row.times[name] = best[0]
            if name == "updater":
                row.wall = best[2]
            if name == "curl x8":
                row.limit = limit_of(best[1]) if limit_of else None
        self.rows.append(row)


def write_update_ini(prog, port, transfers):
    """One server row; the sixth field is the number of parallel transfers
    (clients that read five fields ignore it)."""
    with open(os.path.join(prog, "update.ini"), "w") as f:
        f.write("1;1;bench;127.0.0.1;%d;%d\n" % (port, transfers))


class LineRow:
    def __init__(self, line):
        self.line, self.times, self.wall, self.limit = line, {}, None, None


def bench_game(args):
    release = os.path.join(args.work, "releases", "game")
    make_game(release)
    site = os.path.join(args.work, "site-game")
    shutil.rmtree(site, ignore_errors=True)
    core.publish(args.publisher, release, site)
    nginx = core.Nginx(args.nginx, site, os.path.join(args.work, "nginx-game"))
    try:
        g = GameBench(args, release, site, nginx)
        print("game: %d files, %d folders, %.1f MB" % (len(g.files), GAME_FOLDERS, g.bytes / 1e6), flush=True)
        if not args.no_wine:
            g.prepare_program_folder(nginx.port)
        else:
            os.makedirs(g.work, exist_ok=True)
        for profile in args.lines:
            if profile == "loopback":
                g.compare(nginx, nginx.port, "loopback", None)
                continue
            relay = LineRelay(nginx.port, profile, os.path.join(args.work, "relay-" + profile))
            try:
                g.compare(relay, relay.port, relay.name(), relay.limit)
            finally:
                relay.stop()
        return g
    finally:
        nginx.stop()
        if not args.keep:
            shutil.rmtree(site, ignore_errors=True)
            shutil.rmtree(os.path.join(args.work, "game"), ignore_errors=True)


def ratio(a, b):
    return a / b if a is not None and b else float("nan")


def format_table(g, transfers):
    """The game-shaped release's fresh install, one row per line."""
    loop = "WinINet loop x%d" % transfers
    out = ["Game-shaped release, fresh install: %d files in %d folders, %.1f MB; "
           "updater with %d transfers (update.ini)." % (len(g.files), GAME_FOLDERS, g.bytes / 1e6, transfers), "",
           "| line | updater s | whole run s | curl x8 s | %s s | line limit s | curl x1 HTTP/1.0 s | "
           "updater / curl x8 (target <= 1.10x) | updater / limit (target <= 1.50x) | "
           "updater / loop (target <= 1.20x, loopback) |" % loop,
           "|" + "---|" * 10]
    for r in g.rows:
        t = r.times
        up = t.get("updater")

        def cell(v, fmt="%.2f"):
            return fmt % v if v is not None and v == v else "-"

        def judged(value, target, applies=True):
            if not applies or value != value:
                return "-"
            return "%.2fx %s" % (value, "yes" if value <= target else "NO")
        is_line = r.limit is not None
        out.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r.line, cell(up), cell(r.wall), cell(t.get("curl x8")), cell(t.get(loop)), cell(r.limit),
            cell(t.get("curl x1 HTTP/1.0")),
            judged(ratio(up, t.get("curl x8")), 1.1, is_line), judged(ratio(up, r.limit), 1.5, is_line),
            judged(ratio(up, t.get(loop)), 1.2, not is_line)))
    return out
