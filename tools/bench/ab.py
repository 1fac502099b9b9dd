"""Two builds of CAB32.dll against each other and gcab, called in turn on one
`make bench` tree (made by `make bench` first), to compare speed on a machine
whose load drifts: old build, new build, `gcab -c -z`, ROUNDS times; medians.
Run under the Wine environment tools/bench.sh sets up (WINEPREFIX, one
persistent wineserver).
  python3 tools/bench/ab.py OLD_BIN_DIR NEW_BIN_DIR TREE ROUNDS [cab32_drive args for the new build...]
(a bin dir holds cab32_drive.exe and CAB32.dll, e.g. build/windows/bin;
AB_SWITCHES=-mszip gives both builds that switch)"""
import os
import statistics
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
old_bin, new_bin, tree_name, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
extra = sys.argv[5:]
switches = os.environ.get("AB_SWITCHES", "")
work = os.path.join(root, "build", "bench")
tree = os.path.join(work, tree_name)
out = os.path.join(work, "ab")
os.makedirs(out, exist_ok=True)
names = [line.rstrip("\n")[len(tree) + 1:] for line in open(os.path.join(work, tree_name + ".list"))]


def winpath(p):
    return "Z:" + p.replace("/", "\\")


rsp = os.path.join(out, tree_name + ".rsp")
with open(rsp, "w", newline="") as f:
    f.write("".join('"%s"\r\n' % n.replace("/", "\\") for n in names))


def run(bindir, tag, args=()):
    """One call of the DLL through cab32_drive: (seconds inside Cab(), cabinet bytes, memory line)."""
    cmd = os.path.join(out, tag + ".cmd")
    cab = os.path.join(out, tag + ".cab")
    with open(cmd, "w") as f:
        f.write('%s-a "%s" "%s\\" "@%s"' % (switches + " " if switches else "", winpath(cab), winpath(tree), winpath(rsp)))
    o = subprocess.run([os.path.join(root, "tools", "wine-run"), os.path.join(bindir, "cab32_drive.exe")] +
                       list(args) + [winpath(cmd)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       stdin=subprocess.DEVNULL).stdout.decode("cp932", "replace")
    if "rc=0" not in o:
        sys.exit(o)
    if "elapsed_ms=" in o:
        call = float(o.split("elapsed_ms=")[1].split()[0]) / 1000
    else:
        call = float([l for l in o.splitlines() if l.startswith("stage_total=")][0].split("=")[1])
    peak = [l for l in o.splitlines() if l.startswith("peak working set")]
    return call, os.path.getsize(cab), peak[0] if peak else ""


def gcab():
    cab = os.path.join(out, tree_name + "-gcab.cab")
    t = time.perf_counter()
    subprocess.run(["gcab", "-c", "-z", cab] + names, cwd=tree, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - t, os.path.getsize(cab)


run(new_bin, tree_name + "-new")  # warms the file cache
results = {"old": [], "new": [], "gcab": []}
loads = [open("/proc/loadavg").read().split()[0]]
for _ in range(rounds):
    results["old"].append(run(old_bin, tree_name + "-old"))
    results["new"].append(run(new_bin, tree_name + "-new", extra))
    results["gcab"].append(gcab())
    loads.append(open("/proc/loadavg").read().split()[0])
g = statistics.median(r[0] for r in results["gcab"])
gsize = results["gcab"][0][1]
for k in ("old", "new"):
    t = statistics.median(r[0] for r in results[k])
    print("%s: %s  median %.2f s  %.3fx gcab speed  size %d (%.3fx gcab)  %s" %
          (k, " ".join("%.2f" % r[0] for r in results[k]), t, g / t, results[k][0][1], results[k][0][1] / gsize,
           results[k][0][2]))
print("gcab: %s  median %.2f s  size %d" % (" ".join("%.2f" % r[0] for r in results["gcab"]), g, gsize))
print("load average:", " ".join(loads))
