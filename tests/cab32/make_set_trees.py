"""Builds the trees for the cabinet-set round trip, the same bytes every run:
many/ holds 70,000 small files (more than one cabinet can list), sized/ a few
dozen larger ones for a lowered cabinet size."""
import os
import random
import sys

work = sys.argv[1]
rng = random.Random(70000)


def response(name, names):
    with open(os.path.join(work, name), "wb") as f:
        f.write(b"".join(b'"' + n.replace("/", "\\").encode() + b'"\r\n' for n in names))
    with open(os.path.join(work, name + ".list"), "w") as f:
        f.write("".join(n + "\n" for n in names))


names = []
for d in range(70):
    folder = os.path.join(work, "many", "d%02d" % d)
    os.makedirs(folder, exist_ok=True)
    for i in range(1000):
        n = d * 1000 + i
        name = "d%02d/f%05d.txt" % (d, n)
        with open(os.path.join(folder, "f%05d.txt" % n), "wb") as f:
            f.write(b"file %d\n" % n * (1 + n % 5))
        names.append(name)
response("many.rsp", names)

names = []
os.makedirs(os.path.join(work, "sized", "sub"), exist_ok=True)
for i in range(30):
    name = ("sub/" if i % 3 == 0 else "") + "part%02d.%s" % (i, "bin" if i % 4 == 0 else "txt")
    size = rng.randrange(20000, 120000)
    if i % 4 == 0:
        data = rng.randbytes(size)
    else:
        data = b"".join(b"%d: %s\r\n" % (j, rng.choice([b"alpha", b"beta", b"gamma"]) * rng.randrange(1, 9))
                        for j in range(size // 20))[:size]
    with open(os.path.join(work, "sized", name), "wb") as f:
        f.write(data)
    names.append(name)
response("sized.rsp", sorted(names))
