"""Builds the round-trip source tree and its response files, the same bytes every run."""
import os
import random
import sys
import time

work = sys.argv[1]
tree = os.path.join(work, "tree")
stamp = time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1))
rng = random.Random(20240601)

files = {
    "empty.txt": b"",
    "exact32768.bin": bytes(rng.getrandbits(8) for _ in range(32768)),
    "exact32769.bin": bytes(rng.getrandbits(8) for _ in range(32769)),
    "random1m.bin": rng.randbytes(1024 * 1024),
    "text.txt": b"".join(b"line %06d: the quick brown fox jumps over the lazy dog\r\n" % i for i in range(40000)),
    "name with spaces.txt": b"spaces\r\n",
    "readonly.txt": b"read only\r\n",
    ".hidden.txt": b"hidden\r\n",
    "sub/empty2.txt": b"",
    "sub/small.c": b"int main(void) { return 0; }\n",
    "/".join("level%02d" % i for i in range(14)) + "/deep.txt": b"deep\n",
}
japanese = {
    "日本語フォルダ/ソース表.txt": "ソース表\r\n".encode("cp932"),
    "日本語フォルダ/予定表 ソ.txt": rng.randbytes(50000),
    "能力.txt": b"dbcs 0x5c trail bytes\r\n",
}

def write(name, data):
    path = os.path.join(tree, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        os.chmod(path, 0o644)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (stamp, stamp))

def response(name, names, bare=()):
    with open(os.path.join(work, name), "wb") as f:
        f.write(b"\r\n")
        for n in names:
            win = n.replace("/", "\\").encode("cp932")
            f.write(win + b"\r\n" if n in bare else b'"' + win + b'"\r\n')
    with open(os.path.join(work, name + ".list"), "w", encoding="utf-8") as f:
        f.write("".join(n + "\n" for n in names))

for name, data in {**files, **japanese}.items():
    write(name, data)
os.chmod(os.path.join(tree, "readonly.txt"), 0o444)
# Wine keeps DOS attributes that Unix has no bit for in this extended attribute.
os.setxattr(os.path.join(tree, ".hidden.txt"), "user.DOSATTRIB", b"0x22")
response("ascii.rsp", sorted(files), bare=("sub/small.c",))
response("full.rsp", sorted(files) + sorted(japanese), bare=("能力.txt",))
with open(os.path.join(work, "empties.rsp"), "wb") as f:
    f.write(b'"empty.txt"\n"sub\\empty2.txt"\n')
with open(os.path.join(work, "empties.rsp.list"), "w") as f:
    f.write("empty.txt\nsub/empty2.txt\n")
