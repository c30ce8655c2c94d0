"""The cache part of the benchmark: the updater under Wine through Varnish
(scripts/varnish.sh, built-in settings) in front of nginx, against the same
runs direct to nginx. A release of one 64 MiB archive and 40 small files; a
fresh install of it, then release two (10 places of 4 KiB changed in the
archive, 5 small files changed), installed over release one right after its
publish, and a fresh install of release two through the warm cache. Bytes at
the origin are nginx's count, bytes to the client the cache's (direct: the
same). Run from bench/bench.py."""
import filecmp
import os
import random
import shutil
import subprocess
import time

import bench as core
import line

MIB = 1 << 20
ARCHIVE = os.path.join("pak", "big.pak")
SMALL = 40
CHANGED_SMALL = 5
PLACES, PLACE_BYTES = 10, 4096


def write_release(folder, archive, small):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "pak"))
    os.makedirs(os.path.join(folder, "data"))
    with open(os.path.join(folder, ARCHIVE), "wb") as f:
        f.write(archive)
    for i, body in enumerate(small):
        with open(os.path.join(folder, "data", "f%02d.dat" % i), "wb") as f:
            f.write(body)


def releases(work):
    rng = random.Random(26)
    archive = bytearray(rng.randbytes(64 * MIB))
    small = [rng.randbytes(20000 + 997 * i) for i in range(SMALL)]
    one = os.path.join(work, "release-one")
    write_release(one, bytes(archive), small)
    for i in range(PLACES):
        at = len(archive) * (i + 1) // (PLACES + 1) + 777 * i
        archive[at:at + PLACE_BYTES] = rng.randbytes(PLACE_BYTES)
    small = [rng.randbytes(len(b)) if i < CHANGED_SMALL else b for i, b in enumerate(small)]
    two = os.path.join(work, "release-two")
    write_release(two, bytes(archive), small)
    return one, two


class Varnish(core.Nginx):
    """Stopped and marked like the origin; only its start and its log differ."""

    def __init__(self, script, origin_state, state):
        self.script, self.state = script, state
        subprocess.run([script, "start", os.path.join(origin_state, "port"), state], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(state, "port")) as f:
            self.port = int(f.read())
        self.log = os.path.join(state, "access.log")

    def bytes_since(self, mark, settle=0.5):
        time.sleep(settle)  # varnishncsa writes a line once its transaction ends
        with open(self.log, "rb") as f:
            f.seek(mark)
            return sum(int(l.split(b"\t")[2]) for l in f.read().splitlines() if l.count(b"\t") >= 2)


def same_tree(prog, release):
    for folder, _, names in os.walk(release):
        for name in names:
            path = os.path.join(folder, name)
            if not filecmp.cmp(path, os.path.join(prog, os.path.relpath(path, release)), shallow=False):
                return False
    return True


class CacheBench:
    def __init__(self, args):
        self.args = args
        self.work = os.path.join(args.work, "cache")
        os.makedirs(self.work, exist_ok=True)
        self.site = os.path.join(self.work, "site")
        self.env = dict(os.environ)
        self.rows = []

    def program(self, name, port, start=None):
        prog = os.path.join(self.work, name)
        shutil.rmtree(prog, ignore_errors=True)
        if start:
            shutil.copytree(start, prog)
        else:
            os.makedirs(prog)
        shutil.copy(os.path.join(self.args.bin, "selfrenew.exe"), os.path.join(prog, "Selfrenew.kro"))
        if not os.path.isdir(os.path.join(prog, "UpdateRes")):
            shutil.copytree(os.path.join(self.args.bin, "UpdateRes"), os.path.join(prog, "UpdateRes"))
        line.write_update_ini(prog, port, self.args.transfers)
        return prog

    def run(self, scenario, path, prog, release, nginx, varnish):
        origin_mark, cache_mark = nginx.mark(), varnish.mark()
        wall, _, _, _ = core.run_measured(["wine", "Selfrenew.kro", core.PRODUCT], prog, self.env)
        at_origin = sum(e[2] for e in nginx.since(origin_mark))
        to_client = varnish.bytes_since(cache_mark) if path == "cache" else at_origin
        ok = same_tree(prog, release)
        self.rows.append((scenario, path, at_origin, to_client, wall - core.PAUSE_AFTER_LAST_ENTRY, ok))
        print("  %-28s %-6s origin %10d B, client %10d B, %.1f s%s" %
              (scenario, path, at_origin, to_client, wall, "" if ok else ", NOT the release"), flush=True)

    def section(self):
        one, two = releases(self.work)
        shutil.rmtree(self.site, ignore_errors=True)
        core.publish(self.args.publisher, one, self.site)
        nginx = core.Nginx(self.args.nginx, self.site, os.path.join(self.work, "nginx"))
        varnish = None
        try:
            varnish = Varnish(os.path.join(os.path.dirname(self.args.nginx), "varnish.sh"),
                              os.path.join(self.work, "nginx"), os.path.join(self.work, "varnish"))
            ports = {"direct": nginx.port, "cache": varnish.port}
            for path in ("direct", "cache"):
                self.run("fresh install, cold cache", path, self.program("one-" + path, ports[path]), one,
                         nginx, varnish)
            core.publish(self.args.publisher, two, self.site)
            for path in ("direct", "cache"):
                prog = self.program("two-" + path, ports[path], os.path.join(self.work, "one-" + path))
                self.run("update right after publish", path, prog, two, nginx, varnish)
            self.run("fresh install, warm cache", "cache", self.program("fresh-cache", varnish.port), two,
                     nginx, varnish)
        finally:
            if varnish:
                varnish.stop()
            nginx.stop()
        return self.rows


def format_table(rows):
    out = ["| through | run | bytes at origin | bytes to client | seconds | release exact |",
           "|---|---|---:|---:|---:|---|"]
    for scenario, path, at_origin, to_client, seconds, ok in rows:
        out.append("| %s | %s | %d | %d | %.1f | %s |" % (path, scenario, at_origin, to_client, seconds,
                                                          "yes" if ok else "NO"))
    return "\n".join(out)


def section(args):
    t0 = time.time()
    print("cache: a 64 MiB archive and %d small files, through Varnish and direct to nginx" % SMALL, flush=True)
    table = format_table(CacheBench(args).section())
    print(table)
    with open(os.path.join(args.work, "cache-table.md"), "w") as f:
        f.write(table + "\n")
    print("cache: %.0f s" % (time.time() - t0), flush=True)
