"""Throughput, size and memory of CAB32.dll against gcab, with gzip -6 as the
machine's single-core reference. Trees are generated once (deterministically)
and kept under the work folder."""
import os
import re
import random
import shutil
import statistics
import subprocess
import sys
import time

root, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
wine_run = os.path.join(root, "tools", "wine-run")
drive = os.path.join(root, "build", "windows", "bin", "cab32_drive.exe")
program = os.path.join(root, "build", "windows", "bin", "program_bench.exe")
TREE_VERSION = "1"
# BENCH_TREES=small40k,usr-include,... runs only those trees (default: all).
only = set(filter(None, os.environ.get("BENCH_TREES", "").split(",")))
STAGES = [("plan", "planning"), ("read_busy", "opening+reading (reader threads, summed)"),
          ("read_wait", "  waiting for a read file"), ("compress_busy", "compressing (workers, summed)"),
          ("compress_wait", "  waiting for a block"), ("write", "writing"), ("verify", "verifying"),
          ("finish", "renaming into place"), ("total", "whole run")]


def winpath(p):
    return "Z:" + p.replace("/", "\\")


def generated_tree(path):
    """About 110 MB in 9,000 files: C-like source of varied sizes, 5% binary."""
    rng = random.Random(20261206)
    words = ["buffer", "count", "index", "value", "result", "status", "node", "list", "table", "entry",
             "handle", "offset", "length", "flags", "config", "stream", "block", "folder", "cabinet", "name"]
    types = ["int", "unsigned", "size_t", "uint32_t", "char*", "const char*", "bool", "double", "struct item*"]
    lines = []
    for i in range(30000):
        kind = rng.random()
        ident = rng.choice(words) + rng.choice(["", "_", "Of", "At"]) + rng.choice(words).capitalize()
        if kind < 0.25:
            lines.append("    %s %s%d = %s(%s, %d);\n" % (rng.choice(types), ident, rng.randrange(100),
                                                       rng.choice(words), rng.choice(words), rng.randrange(4096)))
        elif kind < 0.45:
            lines.append("    if (%s->%s %s %d)\n        return %s;\n" % (rng.choice(words), ident,
                         rng.choice(["==", "!=", "<", ">="]), rng.randrange(1000), rng.choice(["0", "-1", "NULL", ident])))
        elif kind < 0.6:
            lines.append("/* %s the %s before the %s is %s. */\n" % (rng.choice(words).capitalize(), ident,
                         rng.choice(words), rng.choice(["written", "read", "checked", "freed", "counted"])))
        elif kind < 0.75:
            lines.append("static %s %s_%d(%s %s)\n{\n" % (rng.choice(types), ident, i, rng.choice(types), rng.choice(words)))
        elif kind < 0.85:
            lines.append("}\n\n")
        else:
            lines.append("    %s(\"%s %%d\\n\", %s[%d]);\n" % (rng.choice(["printf", "log_debug", "fail"]), ident,
                                                             rng.choice(words), rng.randrange(64)))
    total = 0
    n = 0
    while total < 110 * 1000 * 1000 or n < 9000:
        folder = "mod%02d/sub%d" % (n % 40, (n // 40) % 7)
        os.makedirs(os.path.join(path, folder), exist_ok=True)
        size = int(min(400000, max(200, rng.lognormvariate(9.0, 1.2))))
        if n % 20 == 19:
            name = "%s/data%05d.bin" % (folder, n)
            half = rng.randbytes(size // 2)
            data = half + bytes(b & 0x0F for b in half)
        else:
            name = "%s/file%05d.%s" % (folder, n, rng.choice(["c", "h", "cpp", "txt"]))
            out = []
            got = 0
            while got < size:
                chunk = rng.choices(lines, k=64)
                out.extend(chunk)
                got += sum(len(c) for c in chunk)
            data = "".join(out).encode()[:size]
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)
        total += len(data)
        n += 1


def header_pool():
    """The regular files of /usr/include in name order."""
    pool = []
    for dirpath, dirs, files in os.walk("/usr/include"):
        dirs.sort()
        for n in sorted(files):
            full = os.path.join(dirpath, n)
            if os.path.isfile(full) and not os.path.islink(full):
                pool.append(full)
    return pool


def source_like_tree(path):
    """40,000 files of 0.3-6 KB in 200 folders of 200, cut one after another
    from the files of /usr/include in name order (about 126 MB)."""
    rng = random.Random(40000)
    pool = header_pool()
    stream, at = b"", 0
    src = 0
    for i in range(40000):
        size = rng.randrange(300, 6001)
        while len(stream) - at < size:
            with open(pool[src % len(pool)], "rb") as f:
                stream = stream[at:] + f.read()
            at = 0
            src += 1
        folder = os.path.join(path, "dir%03d" % (i // 200))
        if i % 200 == 0:
            os.makedirs(folder)
        with open(os.path.join(folder, "src%05d.%s" % (i, "ch"[i % 2])), "wb") as f:
            f.write(stream[at:at + size])
        at += size


def random_cut_tree(path):
    """40,000 files of 0.3-6 KB in 200 folders of 200, each cut at a random
    place from a header drawn at random from /usr/include (about 126 MB):
    neighbours share words, seldom long passages."""
    rng = random.Random(21)
    pool = header_pool()
    cache = {}
    for i in range(40000):
        size = rng.randrange(300, 6001)
        while True:
            src = pool[rng.randrange(len(pool))]
            if src not in cache:
                with open(src, "rb") as f:
                    cache[src] = f.read()
            if len(cache[src]) >= size:
                break
        start = rng.randrange(len(cache[src]) - size + 1)
        folder = os.path.join(path, "dir%03d" % (i // 200))
        if i % 200 == 0:
            os.makedirs(folder)
        with open(os.path.join(folder, "cut%05d.%s" % (i, "ch"[i % 2])), "wb") as f:
            f.write(cache[src][start:start + size])


def small_tree(path, count):
    rng = random.Random(count)
    for i in range(count):
        folder = os.path.join(path, "d%03d" % (i // 1000))
        if i % 1000 == 0:
            os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%06d.txt" % i), "wb") as f:
            f.write(b"%d %s\n" % (i, b"x" * rng.randrange(10, 300)))


def ensure(path, build):
    stamp = path + ".done"
    if os.path.exists(stamp) and open(stamp).read() == TREE_VERSION:
        return
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    build(path)
    with open(stamp, "w") as f:
        f.write(TREE_VERSION)


def listing(tree):
    """The tree's files; of names that differ only in case (xt_CONNMARK.h and
    xt_connmark.h), the first, as Windows holds only one of them."""
    names = []
    for dirpath, _, files in os.walk(tree):
        for n in files:
            full = os.path.join(dirpath, n)
            if os.path.isfile(full) and not os.path.islink(full):
                names.append(os.path.relpath(full, tree))
    names.sort()
    seen = set()
    kept = [n for n in names if not (n.lower() in seen or seen.add(n.lower()))]
    return kept


def cabinet_bytes(tag):
    """Bytes of the cabinet tag.cab with the rest of its set (tag_2.cab...)."""
    return sum(os.path.getsize(os.path.join(work, "out", f)) for f in os.listdir(os.path.join(work, "out"))
               if re.fullmatch(re.escape(tag) + r"(_\d+)?\.cab", f))


def run_ours(tree, names, tag, mem=False, profile=False, switches=""):
    rsp = os.path.join(work, tag + ".rsp")
    with open(rsp, "w", newline="") as f:
        f.write("".join('"%s"\r\n' % n.replace("/", "\\") for n in names))
    cab = os.path.join(work, "out", tag + ".cab")
    cmd = os.path.join(work, tag + ".cmd")
    with open(cmd, "w") as f:
        f.write('%s-a "%s" "%s\\" "@%s"' % (switches + " " if switches else "", winpath(cab), winpath(tree), winpath(rsp)))
    start = time.perf_counter()
    flags = (["--mem"] if mem else []) + (["--profile"] if profile else [])
    out = subprocess.run([wine_run, drive] + flags + [winpath(cmd)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL).stdout
    wall = time.perf_counter() - start
    text = out.decode("cp932", "replace").replace("\r", "")
    if "rc=0" not in text:
        sys.exit("CAB32 failed on %s:\n%s" % (tag, text))
    if profile:
        return {l.split("=")[0][6:]: float(l.split("=")[1]) for l in text.splitlines() if l.startswith("stage_")}
    call = float(text.split("elapsed_ms=")[1].split()[0]) / 1000
    size = cabinet_bytes(tag)
    peak = None
    if mem:
        line = [l for l in text.splitlines() if l.startswith("peak working set")][0]
        peak = line
    return call, wall, size, peak


def run_gcab(tree, names, tag):
    cab = os.path.join(work, "out", tag + "-gcab.cab")
    start = time.perf_counter()
    subprocess.run(["gcab", "-c", "-z", cab] + names, cwd=tree, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start, os.path.getsize(cab)


def run_gzip(tree, names):
    start = time.perf_counter()
    gz = subprocess.Popen(["gzip", "-6"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    for n in names:
        with open(os.path.join(tree, n), "rb") as f:
            gz.stdin.write(f.read())
    gz.stdin.close()
    gz.wait()
    return time.perf_counter() - start


def load():
    return open("/proc/loadavg").read().split()[0]


def print_stages(tree, names, tag, files, mb):
    """Where the archiver's time goes (the linked-in core with the DLL's settings), medians."""
    runs_ = [run_ours(tree, names, tag, profile=True) for _ in range(runs)]
    print("stages (median of %d, load %s):       seconds   per file   per MB" % (runs, load()))
    for key, label in STAGES:
        t = statistics.median(r[key] for r in runs_)
        print("  %-42s %6.2f  %7.1f us  %6.1f ms" % (label, t, 1e6 * t / files, 1e3 * t / mb))


def run_program(tree, tag):
    """The program's walk, respons.txt and archiver call, as one backup does."""
    cab = os.path.join(work, "out", tag + "-program.cab")
    out = subprocess.run([wine_run, program, winpath(tree), winpath(cab)], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL).stdout.decode("cp932", "replace")
    if "rc=0" not in out:
        sys.exit("program run failed on %s:\n%s" % (tag, out))
    return {l.split("=")[0]: float(l.split("=")[1]) for l in out.replace("\r", "").splitlines() if l.endswith(tuple("0123456789")) and "_s=" in l}


def bench(tree, tag, whole_program=False):
    names = listing(tree)
    total = sum(os.path.getsize(os.path.join(tree, n)) for n in names)
    mb = total / 1e6
    print("\n== %s: %d files, %.1f MB" % (tag, len(names), mb))
    listing_text = "".join(names)
    run_ours(tree, names, tag)  # warm the cache and the Wine process
    ours, mszip, gcab, gzip = [], [], [], []
    for _ in range(runs):
        ours.append(run_ours(tree, names, tag))
        mszip.append(run_ours(tree, names, tag + "-mszip", switches="-mszip"))
        gcab.append(run_gcab(tree, names, tag))
        gzip.append(run_gzip(tree, names))
    gcab_time = statistics.median(r[0] for r in gcab)
    gcab_size = gcab[0][1]
    gzip_time = statistics.median(gzip)
    for label, results in (("CAB32.dll LZX (default)", ours), ("CAB32.dll -mszip", mszip)):
        call = statistics.median(r[0] for r in results)
        wall = statistics.median(r[1] for r in results)
        size = results[0][2]
        print("%-24s call %.2f s (wine process %.2f s)  %.1f MB/s  %d bytes (%.1f%%); "
              "throughput %.2fx gcab (by call), %.2fx (by wine process); size %.3fx gcab"
              % (label, call, wall, mb / call, size, 100.0 * size / total, gcab_time / call, gcab_time / wall,
                 size / gcab_size))
    print("gcab -c -z wall %.2f s  %.1f MB/s  %d bytes (%.1f%%)"
          % (gcab_time, mb / gcab_time, gcab_size, 100.0 * gcab_size / total))
    print("gzip -6    wall %.2f s  %.1f MB/s (one core, reference)" % (gzip_time, mb / gzip_time))
    print("load average at the end: %s" % load())
    print_stages(tree, names, tag, len(names), mb)
    if whole_program:
        prog = [run_program(tree, tag) for _ in range(runs)]
        walk = statistics.median(r["walk_s"] for r in prog)
        arch = statistics.median(r["archive_s"] for r in prog)
        total = statistics.median(r["total_s"] for r in prog)
        print("whole program (walk + respons.txt + CAB32.dll): %.2f s = walk %.2f s + archiver %.2f s; "
              "%.1f MB/s, %.2fx gcab" % (total, walk, arch, mb / total, gcab_time / total))
    _, _, _, peak = run_ours(tree, names, tag, mem=True)
    print("memory (LZX): %s" % peak)
    _, _, _, peak = run_ours(tree, names, tag + "-mszip", mem=True, switches="-mszip")
    print("memory (-mszip): %s" % peak)
    del listing_text


os.makedirs(os.path.join(work, "out"), exist_ok=True)
for f in os.listdir(os.path.join(work, "out")):
    os.remove(os.path.join(work, "out", f))
print("median of %d runs per side; CPU cores: %d" % (runs, os.cpu_count()))
print("load average at the start: %s" % load())
if not only or "generated" in only:
    ensure(os.path.join(work, "generated"), generated_tree)
    bench(os.path.join(work, "generated"), "generated")
if os.path.isdir("/usr/include") and (not only or "usr-include" in only):
    ensure(os.path.join(work, "usr-include"), lambda p: shutil.copytree("/usr/include", p, symlinks=True, dirs_exist_ok=True))
    bench(os.path.join(work, "usr-include"), "usr-include")
if os.path.isdir("/usr/include") and (not only or "small40k" in only):
    ensure(os.path.join(work, "small40k"), source_like_tree)
    bench(os.path.join(work, "small40k"), "small40k", whole_program=True)
if os.path.isdir("/usr/include") and (not only or "randomcut" in only):
    ensure(os.path.join(work, "randomcut"), random_cut_tree)
    bench(os.path.join(work, "randomcut"), "randomcut")
for count in (20000, 200000):
    if only and "small%d" % count not in only:
        continue
    tree = os.path.join(work, "small%d" % count)
    ensure(tree, lambda p: small_tree(p, count))
    names = listing(tree)
    call, wall, size, peak = run_ours(tree, names, "small%d" % count, mem=True)
    print("\n== %d small files: %.2f s, cabinets %d bytes; %s" % (count, call, size, peak))
