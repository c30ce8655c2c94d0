"""The binary-patch part of the benchmark: two real version pairs of real
software from Debian's archive (a security rebuild of large shared libraries,
and a version step of a runtime with many changed files), each published with
the project's publisher (the old version, then the new one with its patches),
the old version installed, and updated over the emulated 30 ms / 100 Mbit line
(bench/line_relay.py) by the updater with patches, with the block delta only
(the patches hidden) and with whole files (patches and indexes hidden); by
zsync with each old file as the seed of its new one; and the zstd command
line's own patch of each changed file as the floor. Run from bench/bench.py."""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import bench as core
import line

# What to fetch: the package; its two versions are the ones the archive lists
# (the point release's and the security suite's), the lower one installed.
PAIRS = (("office suite core, security rebuild", "libreoffice-core"),
         ("Java runtime, version step", "openjdk-17-jre-headless"))
PATCH_LINE = "30"
TARGET_VS_FLOOR, TARGET_VS_ZSYNC, TARGET_PRIVATE_MB = 1.2, 0.5, 64
RUN_TIMEOUT = 900


def two_versions(pkg):
    """(older, newer) of the versions apt-cache madison lists for the host's architecture."""
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True, check=True).stdout.strip()
    out = subprocess.run(["apt-cache", "madison", pkg], capture_output=True, text=True, check=True).stdout
    vers = []
    for row in out.splitlines():
        parts = [p.strip() for p in row.split("|")]
        if len(parts) == 3 and parts[2].endswith(arch + " Packages") and parts[1] not in vers:
            vers.append(parts[1])
    if len(vers) < 2:
        raise RuntimeError("%s: the archive lists %d version(s), 2 are needed" % (pkg, len(vers)))
    a, b = vers[0], vers[1]
    older = subprocess.run(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0
    return (a, b) if older else (b, a)


def client_names(tree):
    """The client tells files from folders by a dot in the name: folders lose
    theirs ("_"), files without one get ".bin"; links are dropped. The same on
    both versions, so their paths still pair up."""
    for folder, dirs, files in os.walk(tree, topdown=False):
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                os.remove(path)
            elif "." not in name:
                os.rename(path, path + ".bin")
        for name in dirs:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                os.remove(path)
            elif "." in name:
                os.rename(path, os.path.join(folder, name.replace(".", "_")))


def fetch_tree(pkg, ver, tree):
    """The package's files at that version, as a release folder (kept for the next run)."""
    done = tree + ".done"
    if os.path.exists(done) and open(done).read() == ver:
        return
    shutil.rmtree(tree, ignore_errors=True)
    with tempfile.TemporaryDirectory() as tmp:
        os.chmod(tmp, 0o755)  # apt's unprivileged downloader writes into it
        subprocess.run(["apt-get", "download", "-qq", "%s=%s" % (pkg, ver)], cwd=tmp, check=True)
        deb = [f for f in os.listdir(tmp) if f.endswith(".deb")][0]
        os.makedirs(tree)
        subprocess.run(["dpkg-deb", "-x", os.path.join(tmp, deb), tree], check=True)
    client_names(tree)
    with open(done, "w") as f:
        f.write(ver)


def files_of(tree):
    out = {}
    for folder, _, files in os.walk(tree):
        for name in files:
            path = os.path.join(folder, name)
            out[os.path.relpath(path, tree)] = os.path.getsize(path)
    return out


def run_sampled(cmd, cwd, env):
    """(wall seconds, exit status, peak private KiB, peak resident KiB): the
    private figure is the Wine process's anonymous memory (RssAnon), which
    leaves out the mapped files, as a Windows private-bytes count does."""
    peak = {"RssAnon:": 0, "VmHWM:": 0}
    t0 = time.time()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    done = threading.Event()

    def sample():
        while not done.is_set():
            try:
                with open("/proc/%d/status" % proc.pid) as f:
                    for row in f:
                        key = row.split(" ")[0].split("\t")[0]
                        if key in peak:
                            peak[key] = max(peak[key], int(row.split()[1]))
            except (OSError, ValueError):
                pass
            done.wait(0.02)

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    try:
        proc.wait(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        print("  timed out: %s" % " ".join(cmd), file=sys.stderr)
    wall = time.time() - t0
    done.set()
    sampler.join()
    return wall, proc.returncode, peak["RssAnon:"], peak["VmHWM:"]


class Row:
    def __init__(self, client, moved, seconds, ok, private_kib=0, resident_kib=0):
        self.client, self.moved, self.seconds, self.ok = client, moved, seconds, ok
        self.private_kib, self.resident_kib = private_kib, resident_kib


class PairBench:
    def __init__(self, args, label, pkg):
        self.args, self.label, self.pkg = args, label, pkg
        self.old_ver, self.new_ver = two_versions(pkg)
        data = os.path.join(args.work, "releases", "patch-" + pkg)
        self.old, self.new = os.path.join(data, "old"), os.path.join(data, "new")
        self.work = os.path.join(args.work, "patch-" + pkg)
        self.site, self.prog = os.path.join(self.work, "site"), os.path.join(self.work, "prog")
        self.served = os.path.join(self.site, "kroupdate", core.PRODUCT)
        self.rows, self.env = [], dict(os.environ)

    def prepare(self):
        print("%s: %s %s -> %s" % (self.label, self.pkg, self.old_ver, self.new_ver), flush=True)
        fetch_tree(self.pkg, self.old_ver, self.old)
        fetch_tree(self.pkg, self.new_ver, self.new)
        old, new = files_of(self.old), files_of(self.new)
        self.files, self.bytes = len(new), sum(new.values())
        self.changed = sorted(p for p in new if p not in old or not filecmp.cmp(
            os.path.join(self.old, p), os.path.join(self.new, p), shallow=False))
        self.changed_bytes = sum(new[p] for p in self.changed)

    def publish(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        subprocess.run([self.args.publisher, "--skip-unsafe", self.old, self.site, core.PRODUCT], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t0 = time.time()
        out = subprocess.run([self.args.publisher, "--skip-unsafe", self.new, self.site, core.PRODUCT],
                             check=True, capture_output=True, text=True).stdout
        self.publish_seconds = time.time() - t0
        self.report = [l for l in out.splitlines() if "downloads" in l or "patch(es) written" in l]

    def floor(self):
        """The zstd command line's own patch of each changed file, and its time."""
        total, t0 = 0, time.time()
        out = os.path.join(self.work, "cli.zst")
        for rel in self.changed:
            old, new = os.path.join(self.old, rel), os.path.join(self.new, rel)
            if not os.path.exists(old):
                total += os.path.getsize(new)
                continue
            span = os.path.getsize(old) + os.path.getsize(new)
            window = max(10, (span - 1).bit_length())
            subprocess.run(["zstd", "-q", "-f", "-19", "--long=%d" % window, "--patch-from=" + old, new, "-o", out],
                           check=True)
            total += min(os.path.getsize(out), os.path.getsize(new))
        self.floor_bytes, self.floor_seconds = total, time.time() - t0

    def hide(self, names):
        for name in ("patches", "blocks"):
            here, away = os.path.join(self.served, name), os.path.join(self.served, name + ".hidden")
            if name in names and os.path.exists(here):
                os.rename(here, away)
            elif name not in names and os.path.exists(away):
                os.rename(away, here)

    def installed_ok(self):
        return all(filecmp.cmp(os.path.join(self.prog, p), os.path.join(self.new, p), shallow=False)
                   for p in self.changed)

    def updater(self, relay, client, hidden):
        self.hide(hidden)
        shutil.rmtree(self.prog, ignore_errors=True)
        shutil.copytree(self.old, self.prog, copy_function=shutil.copy2)
        shutil.copy(os.path.join(self.args.bin, "selfrenew.exe"), os.path.join(self.prog, "Selfrenew.kro"))
        shutil.copytree(os.path.join(self.args.bin, "UpdateRes"), os.path.join(self.prog, "UpdateRes"))
        line.write_update_ini(self.prog, relay.port, self.args.transfers)
        os.sync()
        print("  %s: %s" % (self.label, client), flush=True)
        mark = relay.mark()
        wall, _, private_kib, resident_kib = run_sampled(["wine", "Selfrenew.kro", core.PRODUCT], self.prog, self.env)
        moved = sum(c[2] for c in relay.since(mark))
        # The run's deliberate pause for its last message is no part of the update.
        self.rows.append(Row(client, moved, wall - core.PAUSE_AFTER_LAST_ENTRY, self.installed_ok(),
                             private_kib, resident_kib))
        self.hide(())

    def zsync(self, relay):
        """zsync for each changed file, one after the other, the old file its seed."""
        release = os.path.join(self.served, "release")
        for rel in self.changed:
            served = os.path.join(release, rel)
            subprocess.run(["zsyncmake", "-u", os.path.basename(served), "-o", served + ".zsync", served],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        print("  %s: zsync" % self.label, flush=True)
        out, ok = os.path.join(self.work, "zsync-out"), True
        mark, t0 = relay.mark(), time.time()
        for rel in self.changed:
            if os.path.exists(out):
                os.remove(out)
            url = "http://127.0.0.1:%d%s%s.zsync" % (relay.port, core.RELEASE_URL, rel.replace(os.sep, "/"))
            seed = os.path.join(self.old, rel)
            cmd = ["zsync", "-q", "-o", out, url] + (["-i", seed] if os.path.exists(seed) else [])
            r = subprocess.run(cmd, cwd=self.work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=RUN_TIMEOUT)
            ok = ok and r.returncode == 0 and filecmp.cmp(out, os.path.join(self.new, rel), shallow=False)
            for leftover in (out, out + ".zs-old"):
                if os.path.exists(leftover):
                    os.remove(leftover)
        seconds = time.time() - t0
        self.rows.append(Row("zsync, old files as seeds", sum(c[2] for c in relay.since(mark)), seconds, ok))

    def run(self):
        self.prepare()
        print("  %s: publishing (patches at level 19) and the zstd command line's patches" % self.label, flush=True)
        self.publish()
        self.floor()
        nginx = core.Nginx(self.args.nginx, self.site, os.path.join(self.work, "nginx"))
        relay = line.LineRelay(nginx.port, PATCH_LINE, os.path.join(self.work, "relay"))
        try:
            self.updater(relay, "updater with patches", ())
            self.updater(relay, "updater, block delta only", ("patches",))
            self.updater(relay, "updater, whole files", ("patches", "blocks"))
            self.zsync(relay)
        finally:
            relay.stop()
            nginx.stop()
        if not self.args.keep:
            shutil.rmtree(self.work, ignore_errors=True)


def format_table(benches):
    name = "%s ms, %s Mbit/s" % line.LINES[PATCH_LINE]
    out = ["Binary patches on the %s line: real version pairs from Debian's archive, the older installed (copied "
           "in: the run reads each changed file once for its checksum). MB moved: bytes down the line (list, "
           "patches, indexes, control files, headers included). s: the updater's whole run less its 1 s pause "
           "for the last message; zsync: its runs for the changed files one after the other. Private MB: the "
           "peak of the Wine process's anonymous memory (the mapped files are not in it); resident: VmHWM, "
           "mapped pages included. Names: folders with a dot get \"_\", files without one \".bin\" (the client "
           "tells them apart by the dot), links left out." % name, ""]
    for b in benches:
        out.append("- %s: %s %s -> %s: %d files, %.1f MB; %d changed, %.1f MB. Publish of the new version: "
                   "%.1f s; the zstd command line's patches (-19 --long --patch-from): %.2f MB in %.1f s." % (
                       b.label, b.pkg, b.old_ver, b.new_ver, b.files, b.bytes / 1e6, len(b.changed),
                       b.changed_bytes / 1e6, b.publish_seconds, b.floor_bytes / 1e6, b.floor_seconds))
        out += ["  - " + r for r in b.report]
    out += ["", "| pair | client | MB moved | % of changed | / zstd CLI | s | / zsync | private MB | resident MB | "
            "rebuilt |", "|" + "---|" * 10]
    for b in benches:
        zsync = b.rows[3]
        for r in b.rows:
            out.append("| %s | %s | %.2f | %.1f %% | %.2fx | %.1f | %.2fx | %s | %s | %s |" % (
                b.pkg, r.client, r.moved / 1e6, 100.0 * r.moved / b.changed_bytes, r.moved / b.floor_bytes,
                r.seconds, r.seconds / zsync.seconds, "%.1f" % (r.private_kib / 1024.0) if r.private_kib else "-",
                "%.1f" % (r.resident_kib / 1024.0) if r.resident_kib else "-", "yes" if r.ok else "NO"))
    out.append("")
    for b in benches:
        mine, zsync = b.rows[0], b.rows[3]
        vf, vz = mine.moved / b.floor_bytes, mine.seconds / zsync.seconds
        out.append("%s: moved %.2fx the zstd command line's patches (target <= %.1fx: %s); time %.2fx zsync's "
                   "(target <= %.1fx: %s); private memory %.1f MB (target < %d MB: %s)." % (
                       b.pkg, vf, TARGET_VS_FLOOR, "yes" if vf <= TARGET_VS_FLOOR else "NO", vz, TARGET_VS_ZSYNC,
                       "yes" if vz <= TARGET_VS_ZSYNC else "NO", mine.private_kib / 1024.0, TARGET_PRIVATE_MB,
                       "yes" if mine.private_kib < TARGET_PRIVATE_MB * 1024 else "NO"))
    return out


def section(args):
    if args.no_wine:
        print("patch: skipped, it runs the updater (no Wine)")
        return
    t0 = time.time()
    benches = []
    for label, pkg in PAIRS:
        b = PairBench(args, label, pkg)
        b.run()
        benches.append(b)
    text = "\n".join(format_table(benches))
    print("patch: %.0f s" % (time.time() - t0))
    print(text)
    with open(os.path.join(args.work, "table.md"), "w" if args.only == "patch" else "a") as f:
        f.write("\n" + text + "\n")
