#!/usr/bin/env python3
"""The update benchmark: the real updater under Wine against nginx on
127.0.0.1, side by side with curl and our minimal WinINet loop on the same
files, on loopback and on emulated players' lines (bench/line.py). Started by
bench/run.sh, which builds and brings up Wine and Xvfb."""
import argparse
import ctypes
import os
import random
import select
import shutil
import struct
import subprocess
import sys
import threading
import time
import zlib

import cache
import delta
import patch
import line

PRODUCT = "Hollo"
LIST_URL = "/kroupdate/%s/filelist.list" % PRODUCT
RELEASE_URL = "/kroupdate/%s/release/" % PRODUCT
PAUSE_AFTER_LAST_ENTRY = 1.0  # the run's deliberate pause once files were fetched
RUN_TIMEOUT = 300
CURL_PARALLEL = ("--parallel", "--parallel-immediate", "--parallel-max", "8")


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------- releases

def make_small(root):
    """2,000 files of 8 KiB in 100 folders."""
    if os.path.exists(root + ".done"):
        return
    shutil.rmtree(root, ignore_errors=True)
    rng = random.Random(7)
    for d in range(100):
        folder = os.path.join(root, "d%03d" % d)
        os.makedirs(folder)
        for f in range(20):
            with open(os.path.join(folder, "f%03d.dat" % f), "wb") as out:
                out.write(rng.randbytes(8192))
    open(root + ".done", "w").close()


def make_big(root):
    """One file of 200 MB."""
    if os.path.exists(root + ".done"):
        return
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "pak"))
    with open(os.path.join(root, "pak", "big.pak"), "wb") as out:
        for _ in range(200):
            out.write(os.urandom(1 << 20))
    open(root + ".done", "w").close()


def release_files(root):
    out = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            out.append(os.path.relpath(os.path.join(folder, name), root))
    return out


def publish(publisher, release, site):
    subprocess.run([publisher, release, site, PRODUCT], check=True, stdout=subprocess.DEVNULL)


# ---------------------------------------------------------------- nginx

class Nginx:
    def __init__(self, script, site, state):
        self.script, self.site, self.state = script, site, state
        subprocess.run([script, "start", site, state], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(state, "port")) as f:
            self.port = int(f.read())
        self.log = os.path.join(state, "access.log")

    def stop(self):
        subprocess.run([self.script, "stop", self.state], check=False)

    def mark(self):
        return os.path.getsize(self.log)

    def since(self, mark, settle=0.3):
        """The log lines after mark: (path, status, bytes, start, end)."""
        time.sleep(settle)  # a line is written right after its response
        with open(self.log, "rb") as f:
            f.seek(mark)
            lines = f.read().decode("latin-1").splitlines()
        out = []
        for line in lines:
            req, status, size, end, rt = line.split("\t")
            path = req.split(" ")[1] if " " in req else req
            out.append((path, int(status), int(size), float(end) - float(rt), float(end)))
        return out


def span(entries):
    if not entries:
        return float("nan")
    return max(e[4] for e in entries) - min(e[3] for e in entries)


# ---------------------------------------------------------------- watching

class CloseWatch:
    """Watches folders (inotify): the last close of a listed file that was read
    (last), the first file created and the last write to any (first_create,
    last_write). The last write, not the close: the updater flushes a file
    to disk before it closes it, which is no part of the transfer."""
    IN_MODIFY, IN_CLOSE_NOWRITE, IN_CREATE = 0x02, 0x10, 0x100

    def __init__(self, folders, names=()):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(0)
        mask = self.IN_MODIFY | self.IN_CLOSE_NOWRITE | self.IN_CREATE
        for folder in folders:
            self.libc.inotify_add_watch(self.fd, folder.encode(), mask)
        self.names = set(names)
        self.last = self.first_create = self.last_write = None
        self.stopped = False
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while not self.stopped:
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if not ready:
                continue
            data = os.read(self.fd, 1 << 16)
            now = time.time()
            pos = 0
            while pos < len(data):
                _, mask, _, size = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16:pos + 16 + size].rstrip(b"\0").decode("latin-1")
                pos += 16 + size
                if mask & self.IN_CLOSE_NOWRITE and name in self.names:
                    self.last = now
                if mask & self.IN_CREATE and self.first_create is None:
                    self.first_create = now
                if mask & self.IN_MODIFY:
                    self.last_write = now

    def written(self):
        """From the first file created to the last write."""
        if self.first_create is None or self.last_write is None:
            return float("nan")
        return self.last_write - self.first_create

    def close(self):
        time.sleep(0.1)
        self.stopped = True
        self.thread.join()
        os.close(self.fd)


# ---------------------------------------------------------------- processes

def run_measured(cmd, cwd, env, pattern=None):
    """Runs cmd to its end: (wall seconds, exit status, peak RSS in KiB, stdout).
    The sampled process's command line ends up in run_measured.seen."""
    peak = [0]
    seen = [""]
    t0 = time.time()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    done = threading.Event()

    def sample():
        # The Wine process keeps the pid across its execs; VmHWM is its peak.
        while not done.is_set():
            try:
                if not seen[0] or "wine" in seen[0]:
                    with open("/proc/%d/cmdline" % proc.pid, "rb") as f:
                        seen[0] = f.read().replace(b"\0", b" ").decode("latin-1").strip()
                with open("/proc/%d/status" % proc.pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak[0] = max(peak[0], int(line.split()[1]))
            except (OSError, ValueError):
                pass
            done.wait(0.02)

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    try:
        out, _ = proc.communicate(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
        print("  timed out: %s" % " ".join(cmd), file=sys.stderr)
    wall = time.time() - t0
    done.set()
    sampler.join()
    run_measured.seen = seen[0]
    return wall, proc.returncode, peak[0], out.decode("latin-1", "replace").strip()


# ---------------------------------------------------------------- one release

class Bench:
    def __init__(self, args, name, release, nginx):
        self.args, self.name, self.release, self.nginx = args, name, release, nginx
        self.work = os.path.join(args.work, name)
        self.prog = os.path.join(self.work, "prog")
        self.files = release_files(release)
        self.env = dict(os.environ)
        self.rows = []
        self.peak = 0

    def prepare_program_folder(self):
        shutil.rmtree(self.prog, ignore_errors=True)
        os.makedirs(self.prog)
        shutil.copy(os.path.join(self.args.bin, "selfrenew.exe"), os.path.join(self.prog, "Selfrenew.kro"))
        shutil.copytree(os.path.join(self.args.bin, "UpdateRes"), os.path.join(self.prog, "UpdateRes"))
        with open(os.path.join(self.prog, "update.ini"), "w") as f:
            # The sixth field: the number of parallel transfers (older clients read five).
            f.write("1;1;bench;127.0.0.1;%d;%d\n" % (self.nginx.port, self.args.transfers))

    def watch(self):
        folders = sorted({os.path.join(self.prog, os.path.dirname(p)) for p in self.files})
        return CloseWatch(folders, {os.path.basename(p) for p in self.files})

    def run_updater(self, watch=False):
        mark = self.nginx.mark()
        watcher = self.watch() if watch or self.is_big() else None
        wall, rc, peak, _ = run_measured(["wine", "Selfrenew.kro", PRODUCT], self.prog, self.env)
        self.ended = time.time()
        if watcher:
            watcher.close()
        self.peak = max(self.peak, peak)
        self.sampled = run_measured.seen
        log = self.nginx.since(mark)
        bad = [e for e in log if e[1] != 200]
        if bad:
            print("  %d requests failed, first: %s" % (len(bad), bad[0]), file=sys.stderr)
        return wall, log, watcher

    def is_big(self):
        return len(self.files) == 1

    def measure(self, log, watcher=None):
        """The transfer phase from nginx's log. A single large file is timed
        from its creation to its last write on disk instead: nginx's clock
        stands still while one fast response keeps its worker busy."""
        if self.is_big():
            return watcher.written() if watcher else float("nan")
        return span(log)

    def peer_watch(self, out):
        if not self.is_big():
            return None
        folder = os.path.join(out, RELEASE_URL.strip("/"), os.path.dirname(self.files[0]))
        os.makedirs(folder)
        return CloseWatch([folder])

    def peer_dir(self, kind):
        path = os.path.join(self.work, "peer-" + kind)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def run_curl(self, paths):
        out = self.peer_dir("curl")
        cfg = os.path.join(self.work, "curl.cfg")
        with open(cfg, "w") as f:
            for p in paths:
                f.write('url = "http://127.0.0.1:%d%s"\noutput = "%s%s"\n' % (self.nginx.port, p, out, p))
        mark = self.nginx.mark()
        watcher = self.peer_watch(out)
        run_measured(["curl", "-s", "--no-progress-meter", "--fail", "--create-dirs"] + list(CURL_PARALLEL) + ["-K", cfg], self.work, self.env)
        if watcher:
            watcher.close()
        log = self.nginx.since(mark)
        shutil.rmtree(out, ignore_errors=True)
        return self.measure(log, watcher)

    def run_wininet(self, paths, whole=False):
        out = self.peer_dir("wininet")
        lst = os.path.join(self.work, "urls.txt")
        with open(lst, "w") as f:
            f.write("\n".join(paths) + "\n")
        mark = self.nginx.mark()
        watcher = self.peer_watch(out)
        cmd = ["wine", os.path.join(self.args.peers, "wininet_peer.exe"), "--threads", str(self.args.transfers),
               "127.0.0.1", str(self.nginx.port), winpath(lst), winpath(out)]
        _, rc, _, said = run_measured(cmd, self.work, self.env)
        if watcher:
            watcher.close()
        log = self.nginx.since(mark)
        if rc != 0:
            print("  wininet_peer: %s (exit %s)" % (said, rc), file=sys.stderr)
        shutil.rmtree(out, ignore_errors=True)
        if whole and watcher:
            # The fetch of the changed file: from its request to its last write.
            return watcher.last_write - log[0][3] if log and watcher.last_write else float("nan")
        return span(log) if whole else self.measure(log, watcher)

    def run_check_peer(self):
        mark = self.nginx.mark()
        watcher = self.watch()
        cmd = ["wine", os.path.join(self.args.peers, "check_peer.exe"), "127.0.0.1", str(self.nginx.port),
               LIST_URL, winpath(self.prog)]
        run_measured(cmd, self.work, self.env)
        watcher.close()
        return check_span(self.nginx.since(mark), watcher)

    def best(self, fn, *a):
        """The best of a few runs: the machine may be busy with other work."""
        return min(fn(*a) for _ in range(self.args.repeat))

    def best_run(self, prepare, watch=False):
        """The updater's best run of a few, each after prepare(): (wall, log, measured)."""
        best = None
        for _ in range(self.args.repeat):
            prepare()
            wall, log, watcher = self.run_updater(watch)
            if watch:
                measured = check_span(log, watcher)
                # No listed file opened: the quick check decided from the
                # files' metadata. From the list request to the process's end
                # (hand-off and the window's end included) bounds it from above.
                starts = [e[3] for e in log if e[0] == LIST_URL]
                if measured != measured and starts:
                    measured = self.ended - starts[0]
            elif self.is_big() and len(log) == 2 and log[0][0] == LIST_URL and not self.fresh_run:
                measured = watcher.last_write - log[0][3] if watcher.last_write else float("nan")
            else:
                measured = self.measure(log, watcher)
            if best is None or measured < best[2]:
                best = (wall, log, measured)
        return best

    def clear_release(self):
        """Removes the installed files; the single large file's folder stays
        for the watch on it."""
        shutil.rmtree(os.path.join(self.prog, "UpdateINI"), ignore_errors=True)
        if self.is_big():
            if os.path.exists(os.path.join(self.prog, self.files[0])):
                os.remove(os.path.join(self.prog, self.files[0]))
            return
        for top in {p.split(os.sep)[0] for p in self.files}:
            shutil.rmtree(os.path.join(self.prog, top), ignore_errors=True)

    def fresh(self):
        os.makedirs(os.path.join(self.prog, os.path.dirname(self.files[0])), exist_ok=True)
        self.fresh_run = True
        wall, log, measured = self.best_run(self.clear_release)
        self.fresh_run = False
        paths = [e[0] for e in log]
        curl = self.best(self.run_curl, paths)
        wininet = self.best(self.run_wininet, paths)
        self.rows.append(Row(self.name, "fresh install", len(log), measured, wall, wall - PAUSE_AFTER_LAST_ENTRY,
                             wininet, curl, self.target_for_transfer()))

    def nothing(self):
        wall, log, measured = self.best_run(lambda: None, watch=True)
        peer = self.best(self.run_check_peer)
        self.rows.append(Row(self.name, "nothing to do", len(log), measured, wall, wall, peer, None,
                             ("list check", 1.3)))
        return peer

    def changed(self, check_peer):
        picked = self.files[::100] or self.files[:1]
        # The list, the scan and the fetch; for the large file up to its last write.
        wall, log, measured = self.best_run(lambda: self.change_local_files(picked))
        paths = [e[0] for e in log]
        fetched = [p for p in paths if p != LIST_URL]
        curl = self.best(self.run_curl, paths)
        # The peer: the list check plus the fetch of the changed files.
        wininet = check_peer + self.best(self.run_wininet, fetched, True)
        self.rows.append(Row(self.name, "1%% changed (%d)" % len(picked), len(log), measured, wall,
                             wall - PAUSE_AFTER_LAST_ENTRY, wininet, curl, None))

    def change_local_files(self, picked):
        """Changes a few bytes in each picked local copy."""
        for rel in picked:
            with open(os.path.join(self.prog, rel), "r+b") as f:
                f.seek(4096)
                data = f.read(16)
                f.seek(4096)
                f.write(bytes(b ^ 0x5A for b in data))

    def target_for_transfer(self):
        return ("transfer", 1.2) if len(self.files) > 1 else ("throughput", 1 / 0.9)


def check_span(log, watcher):
    """From the list request's start to the last close of a listed file."""
    starts = [e[3] for e in log if e[0] == LIST_URL]
    if not starts or watcher.last is None:
        return float("nan")
    return watcher.last - starts[0]


class Row:
    def __init__(self, release, scenario, requests, measured, wall, wall_net, peer, curl, target):
        self.release, self.scenario, self.requests = release, scenario, requests
        self.measured, self.wall, self.wall_net = measured, wall, wall_net
        self.peer, self.curl, self.target = peer, curl, target

    def ratio(self):
        return self.measured / self.peer if self.peer else float("nan")


def print_table(rows, game, peak_kib, sampled, args, scan=()):
    lines = list(scan) + [""] if scan else []
    if game:
        lines += line.format_table(game, args.transfers) + [""]
    if rows:
        lines += ["Loopback; the WinINet loop runs %d threads, curl 8 connections." % args.transfers, "",
                  "| release | run | requests | updater s | whole run s | run less pause s | WinINet loop x%d s | "
                  "updater / loop | target | met | curl x8 s |" % args.transfers, "|" + "---|" * 11]
    for r in rows:
        target, met = "-", "-"
        if r.target:
            target = "<= %.2fx (%s)" % (r.target[1], r.target[0])
            met = "yes" if r.ratio() <= r.target[1] else "NO"
        curl = "%.3f" % r.curl if r.curl is not None else "-"
        lines.append("| %s | %s | %d | %.3f | %.2f | %.2f | %.3f | %.2fx | %s | %s | %s |" % (
            r.release, r.scenario, r.requests, r.measured, r.wall, r.wall_net, r.peer, r.ratio(), target, met,
            curl))
    lines.append("")
    for r in rows:
        if r.target and r.target[0] == "throughput":
            lines.append("200 MB response: updater %.0f MB/s, WinINet loop %.0f MB/s (%.2fx, target >= 0.90x)" % (
                200 / r.measured, 200 / r.peer, r.peer / r.measured))
    if args.no_wine:
        lines.append("Wine did not start on this machine: the updater and the WinINet loop were not run.")
    else:
        lines.append("Peak resident memory of the updater's process (VmHWM): %.1f MB (target < 64 MB: %s)" % (
            peak_kib / 1024.0, "yes" if peak_kib < 64 * 1024 else "NO"))
        lines.append("Sampled process: %s" % sampled)
    text = "\n".join(lines)
    print(text)
    with open(os.path.join(args.work, "table.md"), "w") as f:
        f.write(text + "\n")


def bench_release(args, name, maker):
    release = os.path.join(args.work, "releases", name)
    maker(release)
    site = os.path.join(args.work, "site-" + name)
    shutil.rmtree(site, ignore_errors=True)
    publish(args.publisher, release, site)
    nginx = Nginx(args.nginx, site, os.path.join(args.work, "nginx-" + name))
    try:
        b = Bench(args, name, release, nginx)
        b.prepare_program_folder()
        b.sampled = ""
        b.fresh_run = False
        print("%s: fresh install" % name, flush=True)
        b.fresh()
        print("%s: nothing to do" % name, flush=True)
        check_peer = b.nothing()
        print("%s: 1 %% changed" % name, flush=True)
        b.changed(check_peer)
        return b
    finally:
        nginx.stop()
        if not args.keep:
            shutil.rmtree(site, ignore_errors=True)
            shutil.rmtree(os.path.join(args.work, name), ignore_errors=True)


# ---------------------------------------------------------------- scan

SCAN_BIG = ("scan-20k", 20000, 10 * 1000 ** 3)   # files, bytes: a large game, installed
SCAN_SMALL = ("scan-3333", 3333, 0)              # small files only
SCAN_PIECE = 1 << 20


def scan_checksum_of_zeros(size, cache={}):
    """The list's checksum (crc32 started from 0xFFFFFFFF) of size zero bytes."""
    if size not in cache:
        crc, zeros, left = 0xFFFFFFFF, bytes(SCAN_PIECE), size
        while left:
            n = min(left, SCAN_PIECE)
            crc = zlib.crc32(zeros[:n], crc)
            left -= n
        cache[size] = crc
    return cache[size]


def make_scan_install(root, files, total):
    """An installed release and its list: seeded small files (1 to 64 KiB, log
    scale) in folders of 100, and where total asks for more bytes, 20 sparse
    files of zeros in pak/ that hold the rest (read like any other file)."""
    if os.path.exists(root + ".done"):
        return
    shutil.rmtree(root, ignore_errors=True)
    rng = random.Random(18)
    sparse = 20 if total else 0
    lines, folders = [], set()
    small = [int(1024 * 64 ** rng.random()) for _ in range(files - sparse)]
    for i, size in enumerate(small):
        folder = "d%03d" % (i // 100)
        if folder not in folders:
            folders.add(folder)
            os.makedirs(os.path.join(root, folder))
            lines.append("/:%s:0" % folder)
        data = rng.randbytes(size)
        with open(os.path.join(root, folder, "f%03d.dat" % (i % 100)), "wb") as out:
            out.write(data)
        lines.append("%s:f%03d.dat:%d" % (folder, i % 100, zlib.crc32(data, 0xFFFFFFFF)))
    if sparse:
        os.makedirs(os.path.join(root, "pak"))
        lines.append("/:pak:0")
        size = (total - sum(small)) // sparse
        for i in range(sparse):
            with open(os.path.join(root, "pak", "big%02d.pak" % i), "wb") as out:
                out.truncate(size)
            lines.append("pak:big%02d.pak:%d" % (i, scan_checksum_of_zeros(size)))
    with open(root + ".list", "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\nend\r\n")
    open(root + ".done", "w").close()


class OpenWatch:
    """The first open of one file in a folder (inotify): the moment the game
    hall's program is started."""
    IN_OPEN = 0x20

    def __init__(self, folder, name):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK)
        self.libc.inotify_add_watch(self.fd, folder.encode(), self.IN_OPEN)
        self.name, self.opened = name.lower(), None

    def wait(self, timeout):
        end = time.time() + timeout
        while self.opened is None and time.time() < end:
            if not select.select([self.fd], [], [], 0.05)[0]:
                continue
            data, now, pos = os.read(self.fd, 1 << 16), time.time(), 0
            while pos < len(data):
                size = struct.unpack_from("iIII", data, pos)[3]
                name = data[pos + 16:pos + 16 + size].rstrip(b"\0").decode("latin-1")
                pos += 16 + size
                if name.lower() == self.name and self.opened is None:
                    self.opened = now
        os.close(self.fd)
        return self.opened


class ScanBench(Bench):
    """Runs with nothing to do over an installed release: the updater with
    and without its state file, and check_peer (one thread reading and
    checksumming every listed file)."""

    def __init__(self, args, name, install, nginx):
        Bench.__init__(self, args, name, install, nginx)
        self.prog = install
        os.makedirs(self.work, exist_ok=True)
        # Only the listed files: the program's own files lie in the same folder.
        with open(install + ".list") as f:
            parts = [line.strip().split(":") for line in f if line.count(":") == 2]
        self.files = [os.path.join(d, n) for d, n, _ in parts if "." in n]
        self.hall = os.path.join(os.path.dirname(os.path.abspath(args.bin)), "tests", "bin", "GameHollo.exe")

    def prepare_program_folder(self):
        shutil.copy(os.path.join(self.args.bin, "selfrenew.exe"), os.path.join(self.prog, "Selfrenew.kro"))
        shutil.rmtree(os.path.join(self.prog, "UpdateRes"), ignore_errors=True)
        shutil.copytree(os.path.join(self.args.bin, "UpdateRes"), os.path.join(self.prog, "UpdateRes"))
        if os.path.exists(self.hall):
            shutil.copy(self.hall, os.path.join(self.prog, "GameHollo.exe"))
        with open(os.path.join(self.prog, "update.ini"), "w") as f:
            f.write("1;1;bench;127.0.0.1;%d;%d\n" % (self.nginx.port, self.args.transfers))

    def run_scan(self, with_state):
        """One run: (list arrival to the hall's start, list request to the last file closed)."""
        if not with_state:
            shutil.rmtree(os.path.join(self.prog, "UpdateINI"), ignore_errors=True)
        hall = OpenWatch(self.prog, "GameHollo.exe")
        wall, log, watcher = self.run_updater(watch=True)
        started = hall.wait(10)
        lists = [e for e in log if e[0] == LIST_URL]
        if len(log) != len(lists):
            print("  %s: the updater fetched %d files" % (self.name, len(log) - len(lists)), file=sys.stderr)
        to_hall = started - lists[0][4] if started and lists else float("nan")
        scan = check_span(log, watcher)
        print("  %s, %s state: list to hall %.2f s, scan %.2f s" % (
            self.name, "with its" if with_state else "no", to_hall, scan), flush=True)
        return to_hall, scan

    def measure_all(self):
        repeat = range(self.args.repeat)
        full = min((self.run_scan(False) for _ in repeat), key=lambda r: r[1])
        quick = min((self.run_scan(True) for _ in repeat), key=lambda r: r[0])
        loop = self.best(self.run_check_peer)
        return full, quick, loop


def bench_scan(args):
    """The scan section's table lines."""
    site = os.path.join(args.work, "site-scan")
    lines = ["Nothing to do over an installed release (page cache warm; sparse files read as zeros); "
             "loop = one thread reading and checksumming every listed file (check_peer).", "",
             "| install | run | list to hall s | scan s | loop s | scan / loop | target | met |", "|" + "---|" * 8]
    for name, files, total in (SCAN_BIG, SCAN_SMALL):
        t0 = time.time()
        install = os.path.join(args.work, "releases", name)
        make_scan_install(install, files, total)
        shutil.rmtree(site, ignore_errors=True)
        os.makedirs(os.path.join(site, "kroupdate", PRODUCT))
        shutil.copy(install + ".list", os.path.join(site, "kroupdate", PRODUCT, "filelist.list"))
        nginx = Nginx(args.nginx, site, os.path.join(args.work, "nginx-" + name))
        try:
            b = ScanBench(args, name, install, nginx)
            b.prepare_program_folder()
            full, quick, loop = b.measure_all()
        finally:
            nginx.stop()
            shutil.rmtree(site, ignore_errors=True)
            if not args.keep:
                shutil.rmtree(os.path.join(args.work, name), ignore_errors=True)
        label = "%s (%d files, %.1f GB)" % (name, files, sum(
            os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(install) for f in fs) / 1e9)
        met = lambda ok: "yes" if ok else "NO"
        ratio_full = full[1] / loop
        target = 1.0 if total else 1.1
        lines.append("| %s | full scan | %.2f | %.2f | %.2f | %.2fx | <= %.1fx | %s |" % (
            label, full[0], full[1], loop, ratio_full, target, met(ratio_full <= target)))
        if total:
            lines.append("| %s | with its state | %.2f | - | %.2f | - | <= 1.5 s to the hall | %s |" % (
                label, quick[0], loop, met(quick[0] <= 1.5)))
        else:
            # Nothing to read: what the window's end and the hand-off take alone.
            lines.append("| %s | with its state | %.2f | - | %.2f | - | - | - |" % (label, quick[0], loop))
        print("%s: %.0f s" % (name, time.time() - t0), flush=True)
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--work", required=True)
    ap.add_argument("--bin", required=True, help="folder of selfrenew.exe and UpdateRes")
    ap.add_argument("--peers", required=True, help="folder of wininet_peer.exe and check_peer.exe")
    ap.add_argument("--publisher", required=True)
    ap.add_argument("--nginx", required=True)
    ap.add_argument("--repeat", type=int, default=2, help="runs of each client on loopback, the best counts")
    ap.add_argument("--keep", action="store_true", help="keep sites and program folders")
    ap.add_argument("--only", choices=["small", "big", "line", "scan", "delta", "patch", "cache"],
                    help="line: the game-shaped release only; scan: the check at start only; "
                         "delta: the changed large archives only; patch: real version pairs with binary patches; "
                         "cache: through Varnish against direct")
    ap.add_argument("--lines", default="30,100,loopback",
                    help="for the game-shaped release: 30 (ms, 100 Mbit/s), 100 (ms, 20 Mbit/s), loopback")
    ap.add_argument("--line-repeat", type=int, default=1, help="runs of each client per line, the best counts")
    ap.add_argument("--transfers", type=int, default=8,
                    help="parallel transfers: update.ini's sixth field and the WinINet loop's threads")
    ap.add_argument("--no-wine", action="store_true", help="only the native clients (curl, the line's limit)")
    args = ap.parse_args()
    args.lines = [n for n in args.lines.split(",") if n]
    bad = [n for n in args.lines if n not in line.LINES and n != "loopback"]
    if bad:
        ap.error("unknown line %s" % bad[0])
    os.makedirs(args.work, exist_ok=True)
    rows, peak, sampled, game = [], 0, "", None
    if not args.only or args.only == "line":
        t0 = time.time()
        game = line.bench_game(args)
        print("game-shaped release: %.0f s" % (time.time() - t0), flush=True)
        peak, sampled = game.peak, game.sampled
    for name, maker in (("small", make_small), ("big", make_big)):
        if args.only and args.only != name:
            continue
        if args.no_wine:
            print("%s: skipped, it compares the updater with the WinINet loop (no Wine)" % name)
            continue
        t0 = time.time()
        b = bench_release(args, name, maker)
        print("%s: %.0f s" % (name, time.time() - t0), flush=True)
        rows += b.rows
        peak = max(peak, b.peak)
        sampled = b.sampled or sampled
    scan = bench_scan(args) if not args.no_wine and args.only in (None, "scan") else []
    if args.only not in ("delta", "patch", "cache"):
        print_table(rows, game, peak, sampled, args, scan)
    if args.only in (None, "delta"):
        delta.section(args)
    if args.only in (None, "patch"):
        patch.section(args)
    if args.only in (None, "cache") and not args.no_wine:
        cache.section(args)


if __name__ == "__main__":
    main()
