"""The block-delta part of the benchmark: a large archive changed in a few
places, fetched over the emulated 30 ms / 100 Mbit line (bench/line_relay.py)
by the updater with the old archive installed, by zsync with the old archive
as its seed and a control file zsyncmake made for the same new archive, and
by the updater with nothing installed (the whole file). Bytes moved are the
relay's count of bytes down the line; times run until the new archive is in
place, and to the process's end beside them. Also the scan of
the old archive, and of an unrelated one, against the published block index
under Wine (bench/scan_bench.cpp). Run from bench/bench.py."""
import ctypes
import filecmp
import os
import random
import select
import shutil
import struct
import subprocess
import sys
import threading
import time

import bench as core
import line

MIB = 1 << 20
# name, size, seed; every archive gets the same 11 changes
ARCHIVES = (("200 MB", 200 * MIB, 21), ("1 GiB", 1024 * MIB, 23))
PATCHES = 10  # overwritten places of 4 KiB, spread evenly
PATCH_BYTES = 4096
INSERT_BYTES = 1000  # one insertion, at a third of the file
ARCHIVE = os.path.join("pak", "big.pak")
DELTA_LINE = "30"
TARGET_MOVED = {"200 MB": 0.03, "1 GiB": 0.01}
TARGET_VS_ZSYNC, TARGET_VS_WHOLE = 1.0, 0.10  # for the 1 GiB archive
DELTA_RUN_TIMEOUT = 600


def make_archives(folder, size, seed):
    """old.pak (seeded, incompressible) and release/pak/big.pak, the same bytes
    with PATCHES places overwritten and INSERT_BYTES inserted."""
    shape = repr((size, seed, PATCHES, PATCH_BYTES, INSERT_BYTES))
    done = os.path.join(folder, "done")
    if os.path.exists(done) and open(done).read() == shape:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "release", "pak"))
    rng = random.Random(seed)
    # Offset -> bytes that replace (overwrite) or precede (insert) the old ones there.
    overwrite = {size * (i + 1) // (PATCHES + 1) + 777 * i: rng.randbytes(PATCH_BYTES) for i in range(PATCHES)}
    insert_at, inserted = size // 3 + 5, rng.randbytes(INSERT_BYTES)
    with open(os.path.join(folder, "old.pak"), "wb") as old, \
            open(os.path.join(folder, "release", ARCHIVE), "wb") as new:
        for at in range(0, size, MIB):
            chunk = bytearray(rng.randbytes(min(MIB, size - at)))
            old.write(chunk)
            for where, data in overwrite.items():
                first, last = max(where, at), min(where + len(data), at + len(chunk))
                if first < last:
                    chunk[first - at:last - at] = data[first - where:last - where]
            if at <= insert_at < at + len(chunk):
                chunk[insert_at - at:insert_at - at] = inserted
            new.write(chunk)
    with open(done, "w") as f:
        f.write(shape)


class InstallWatch:
    """The moment a file is moved into place in a folder (inotify IN_MOVED_TO):
    the updater installs a file by renaming its finished part."""
    IN_MOVED_TO = 0x80

    def __init__(self, folder, name):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(0)
        self.libc.inotify_add_watch(self.fd, folder.encode(), self.IN_MOVED_TO)
        self.name, self.at, self.stopped = name, None, False
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while not self.stopped:
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            data, now, pos = os.read(self.fd, 1 << 16), time.time(), 0
            while pos < len(data):
                _, _, _, size = struct.unpack_from("iIII", data, pos)
                if data[pos + 16:pos + 16 + size].rstrip(b"\0").decode("latin-1") == self.name:
                    self.at = self.at or now
                pos += 16 + size

    def close(self):
        self.stopped = True
        self.thread.join()
        os.close(self.fd)


class DeltaRow:
    def __init__(self, archive, client, size, moved, seconds, whole_run, load, ok):
        self.archive, self.client, self.size = archive, client, size
        self.moved, self.seconds, self.whole_run, self.load, self.ok = moved, seconds, whole_run, load, ok


class DeltaBench:
    """One archive: its site, nginx, the relay in front, and the three clients,
    whose rows come in this order: the updater's delta, zsync, the whole file."""

    def __init__(self, args, name, size, seed):
        self.args, self.name, self.size = args, name, size
        self.work = os.path.join(args.work, "delta-" + name.replace(" ", ""))
        self.data = os.path.join(args.work, "releases", "delta-" + name.replace(" ", ""))
        make_archives(self.data, size, seed)
        self.old = os.path.join(self.data, "old.pak")
        self.new = os.path.join(self.data, "release", ARCHIVE)
        self.site = os.path.join(self.work, "site")
        self.site_old = os.path.join(self.work, "site-old")
        self.prog = os.path.join(self.work, "prog")
        self.rows, self.peak, self.scans = [], 0, []
        self.env = dict(os.environ)

    def publish(self):
        shutil.rmtree(self.site, ignore_errors=True)
        core.publish(self.args.publisher, os.path.join(self.data, "release"), self.site)
        served = os.path.join(self.site, core.RELEASE_URL.strip("/"), ARCHIVE)
        # Beside the archive, with a URL relative to itself: zsync asks for it on whatever port serves it.
        subprocess.run(["zsyncmake", "-u", os.path.basename(ARCHIVE), "-o", served + ".zsync", served],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.index = os.path.join(self.site, "kroupdate", core.PRODUCT, "blocks", ARCHIVE)

    def timed(self, relay, run):
        """(bytes down the line, load average before) of run(); run times itself."""
        load = os.getloadavg()[0]
        mark = relay.mark()
        run()
        return sum(c[2] for c in relay.since(mark)), load

    def publish_old(self):
        """The release before: the old archive, on a site of its own."""
        release = os.path.join(self.data, "release-old")
        if not os.path.exists(os.path.join(release, ARCHIVE)):
            os.makedirs(os.path.dirname(os.path.join(release, ARCHIVE)), exist_ok=True)
            os.link(self.old, os.path.join(release, ARCHIVE))
        shutil.rmtree(self.site_old, ignore_errors=True)
        core.publish(self.args.publisher, release, self.site_old)

    def updater(self, port, installed, old_port=None):
        """old_port: the old archive was installed by an earlier run against the
        release before (served there), as on a player's PC, so the run starts
        with its state."""
        def run():
            shutil.rmtree(self.prog, ignore_errors=True)
            os.makedirs(os.path.join(self.prog, "pak"))
            shutil.copy(os.path.join(self.args.bin, "selfrenew.exe"), os.path.join(self.prog, "Selfrenew.kro"))
            shutil.copytree(os.path.join(self.args.bin, "UpdateRes"), os.path.join(self.prog, "UpdateRes"))
            if installed:
                # Its old times with it: a file written moments ago gets no state row.
                shutil.copy2(self.old, os.path.join(self.prog, ARCHIVE))
            if old_port:
                line.write_update_ini(self.prog, old_port, self.args.transfers)
                core.run_measured(["wine", "Selfrenew.kro", core.PRODUCT], self.prog, self.env)
            line.write_update_ini(self.prog, port, self.args.transfers)
            os.sync()  # the copy's write-back is no part of the run
            core.RUN_TIMEOUT = DELTA_RUN_TIMEOUT
            watch = InstallWatch(os.path.join(self.prog, "pak"), os.path.basename(ARCHIVE))
            t0 = time.time()
            _, rc, peak, _ = core.run_measured(["wine", "Selfrenew.kro", core.PRODUCT], self.prog, self.env)
            run.whole_run = time.time() - t0
            watch.close()
            run.seconds = watch.at - t0 if watch.at else float("nan")
            if installed:
                self.peak = max(self.peak, peak)
        return run

    def zsync(self, port):
        out = os.path.join(self.work, "zsync-out.pak")

        def run():
            for path in (out, out + ".part", out + ".zs-old"):
                if os.path.exists(path):
                    os.remove(path)
            url = "http://127.0.0.1:%d%s%s.zsync" % (port, core.RELEASE_URL, ARCHIVE.replace(os.sep, "/"))
            t0 = time.time()
            r = subprocess.run(["zsync", "-q", "-i", self.old, "-o", out, url], cwd=self.work,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=DELTA_RUN_TIMEOUT)
            run.seconds = run.whole_run = time.time() - t0
            if r.returncode:
                print("  zsync: exit %d %s" % (r.returncode, r.stderr.decode(errors="replace")[-300:]),
                      file=sys.stderr)
        return run, out

    def measure(self, relay, client, run, result, repeat=1):
        """The best of repeat runs: the machine may be busy with other work."""
        best = None
        for _ in range(repeat):
            print("  %s: %s" % (self.name, client), flush=True)
            moved, load = self.timed(relay, run)
            ok = os.path.exists(result) and filecmp.cmp(result, self.new, shallow=False)
            if not ok:
                print("  %s: %s did not rebuild the new archive" % (self.name, client), file=sys.stderr)
            row = DeltaRow(self.name, client, self.size, moved, run.seconds, run.whole_run, load, ok)
            if best is None or row.seconds < best.seconds:
                best = row
        self.rows.append(best)

    def scan(self, label, old):
        """The matcher's scan of old against the published index, under Wine."""
        cmd = ["wine", os.path.join(self.args.peers, "scan_bench.exe"), "--index", core.winpath(self.index),
               core.winpath(old)]
        load = os.getloadavg()[0]
        _, rc, _, said = core.run_measured(cmd, self.work, self.env)
        self.scans.append((self.name, label, said if rc == 0 else "failed (exit %s)" % rc, load))

    def run(self, unrelated):
        os.makedirs(self.work, exist_ok=True)
        print("%s: publishing and zsyncmake" % self.name, flush=True)
        self.publish()
        self.publish_old()
        nginx = core.Nginx(self.args.nginx, self.site, os.path.join(self.work, "nginx"))
        nginx_old = core.Nginx(self.args.nginx, self.site_old, os.path.join(self.work, "nginx-old"))
        relay = line.LineRelay(nginx.port, DELTA_LINE, os.path.join(self.work, "relay"))
        try:
            installed = os.path.join(self.prog, ARCHIVE)
            repeat = self.args.repeat
            self.measure(relay, "updater, old archive installed", self.updater(relay.port, True), installed, repeat)
            zsync_run, zsync_out = self.zsync(relay.port)
            self.measure(relay, "zsync, old archive as seed", zsync_run, zsync_out, repeat)
            self.measure(relay, "updater, whole file", self.updater(relay.port, False), installed)
            self.measure(relay, "updater, old archive installed by its last run", self.updater(
                relay.port, True, nginx_old.port), installed, repeat)
            self.scan("old archive", self.old)
            if unrelated:
                self.scan("unrelated archive", unrelated)
        finally:
            relay.stop()
            nginx.stop()
            nginx_old.stop()
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)


def bench_delta(args):
    benches = []
    for name, size, seed in ARCHIVES:
        b = DeltaBench(args, name, size, seed)
        # The 1 GiB index scans the 200 MB archive too: a file that shares nothing with it.
        b.run(benches[0].old if benches else None)
        benches.append(b)
    return benches


def section(args):
    """Runs the archives, prints the table and adds it to table.md."""
    if args.no_wine:
        print("delta: skipped, it runs the updater (no Wine)")
        return
    t0 = time.time()
    text = "\n".join(format_table(bench_delta(args)))
    print("delta: %.0f s" % (time.time() - t0))
    print(text)
    with open(os.path.join(args.work, "table.md"), "w" if args.only == "delta" else "a") as f:
        f.write("\n" + text + "\n")


def format_table(benches):
    rows = [r for b in benches for r in b.rows]
    line_name = "%s ms, %s Mbit/s" % line.LINES[DELTA_LINE]
    out = ["Block delta on the %s line: %d places of %d bytes overwritten and %d bytes inserted. MB moved: bytes "
           "down the line (list, index or control file, headers included). s: from the start of the process until "
           "the new archive is in place (the updater renames its part; zsync ends); whole run: until the process "
           "ends (the updater's 1 s pause for the last message comes after the file is in place). \"old archive "
           "installed\": copied in, so the run reads it whole for its checksum first; \"installed by its last "
           "run\": a run against the release before checked it first, as on a player's PC, so the run starts with "
           "its state and reads the old archive only to find its blocks." % (line_name, PATCHES, PATCH_BYTES, INSERT_BYTES), "",
           "| archive | client | MB moved | % of file | s | whole run s | / zsync | / whole file | load | rebuilt |",
           "|" + "---|" * 10]
    for b in benches:
        zsync, whole = b.rows[1], b.rows[2]
        for r in b.rows:
            out.append("| %s | %s | %.2f | %.2f %% | %.1f | %.1f | %.2fx | %.2fx | %.1f | %s |" % (
                r.archive, r.client, r.moved / 1e6, 100.0 * r.moved / r.size, r.seconds, r.whole_run,
                r.seconds / zsync.seconds, r.seconds / whole.seconds, r.load, "yes" if r.ok else "NO"))
    out.append("")
    for b in benches:
        mine = b.rows[0]
        zsync, whole = b.rows[1], b.rows[2]
        share = mine.moved / mine.size
        verdicts = ["moved %.2f %% (target <= %.0f %%: %s)" % (
            100 * share, 100 * TARGET_MOVED[b.name], "yes" if share <= TARGET_MOVED[b.name] else "NO")]
        if b.name == "1 GiB":
            for r in (mine, b.rows[3]):
                vz, vw = r.seconds / zsync.seconds, r.seconds / whole.seconds
                verdicts.append("%s: time %.2fx zsync (target <= %.1fx: %s), %.1f %% of the whole file's time "
                                "(target <= %.0f %%: %s)" % (
                                    r.client, vz, TARGET_VS_ZSYNC, "yes" if vz <= TARGET_VS_ZSYNC else "NO",
                                    100 * vw, 100 * TARGET_VS_WHOLE, "yes" if vw <= TARGET_VS_WHOLE else "NO"))
            verdicts.append("peak memory %.1f MB (VmHWM, target < 64 MB: %s)" % (
                b.peak / 1024.0, "yes" if b.peak < 64 * 1024 else "NO"))
        out.append("%s: %s." % (b.name, "; ".join(verdicts)))
    out += ["", "Scan of an old file against the 1 GiB and 200 MB archives' published indexes under Wine:", ""]
    for b in benches:
        for name, label, said, load in b.scans:
            out.append("- %s index, %s (load %.1f): %s" % (name, label, load, said))
    return out
