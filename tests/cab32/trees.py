"""Round-trip trees, the same bytes every run.
  trees.py make WORK               tree/ (every kind of file), many/ (70,000 files), lzx/ (LZX's frame,
                                   window and folder edges, x86 code), hostile/ (inputs that once broke
                                   LZX) and response files
  trees.py compare TREE OUT LIST   an extraction holds exactly the listed files, byte for byte"""
import os
import random
import sys
import time


def x86_code():
    """The .text section (x86-64 machine code) of a shared library this system always has."""
    import struct
    for lib in ("libstdc++.so.6", "libc.so.6"):
        path = os.path.join("/usr/lib/x86_64-linux-gnu", lib)
        if not os.path.exists(path):
            continue
        elf = open(path, "rb").read()
        shoff, = struct.unpack_from("<Q", elf, 0x28)
        shentsize, shnum, shstrndx = struct.unpack_from("<HHH", elf, 0x3A)
        sections = [struct.unpack_from("<IIQQQQ", elf, shoff + i * shentsize) for i in range(shnum)]
        names = sections[shstrndx][4]
        for name, _, _, _, offset, size in sections:
            if elf[names + name:elf.index(b"\0", names + name)] == b".text":
                return elf[offset:offset + size]
    raise SystemExit("no x86-64 library found")


def make(work):
    rng = random.Random(20240601)
    text = b"".join(b"line %06d: the quick brown fox jumps over the lazy dog\r\n" % i for i in range(40000))
    files = {
        "empty.txt": b"", "sub/empty2.txt": b"", "exact32768.bin": rng.randbytes(32768),
        "exact32769.bin": rng.randbytes(32769), "random1m.bin": rng.randbytes(1 << 20), "text.txt": text,
        "name with spaces.txt": b"spaces\r\n", "readonly.txt": b"read only\r\n", ".hidden.txt": b"hidden\r\n",
        "sub/small.c": b"int main(void) { return 0; }\n", "/".join("level%02d" % i for i in range(14)) + "/deep.txt": b"deep\n",
    }
    japanese = {"日本語フォルダ/ソース表.txt": "ソース表\r\n".encode("cp932"), "日本語フォルダ/予定表 ソ.txt": rng.randbytes(50000),
                "能力.txt": b"dbcs 0x5c trail bytes\r\n"}
    many = {"d%02d/f%05d.txt" % (n // 1000, n): b"file %d\n" % n * (1 + n % 5) for n in range(70000)}
    # Sizes around a frame, several megabytes of text (past the largest window), noise, and x86-64
    # code (call instructions the E8 translation rewrites) opening a folder of its own.
    lzx = {"e0.bin": b"", "e1.bin": b"x", "t32767.txt": text[:32767], "t32768.txt": text[:32768],
           "r32769.bin": rng.randbytes(32769), "text5m.txt": text * 2 + text[:1000001], "noise3m.bin": rng.randbytes(3 << 20),
           "t32769.txt": text[5:32774], "code.text": x86_code()}
    # What once broke LZX: 32 KiB of noise over bytes 56..255, then 96 KiB over 0..55 (one set of trees for the
    # four frames made the first 41 KB, past what readers take), and noise repeating every 2^15 - 3 bytes (7-Zip
    # misread matches at that offset in a 2^15 window).
    period = rng.randbytes(32765)
    hostile = {"unlike-its-block.bin": bytes(56 + rng.randrange(200) for _ in range(32768)) +
               bytes(rng.randrange(56) for _ in range(98304)),
               "period32765.bin": (period * 10)[:300001],
               # 257 frames, the last short: held to a frame limit of 1 every frame is uncompressed (32,784 bytes)
               # and the 256 before the last would end on 4,096 x 2,049 bytes, which libmspack cannot read.
               "runs257.bin": b"".join(bytes([i % 251]) * 1000 for i in range(8389)) + b"end"}
    stamp = time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1))
    for tree, content in (("tree", {**files, **japanese}), ("many", many), ("lzx", lzx), ("hostile", hostile)):
        for name, data in content.items():
            path = os.path.join(work, tree, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (stamp, stamp))
    os.chmod(os.path.join(work, "tree", "readonly.txt"), 0o444)
    # Wine keeps DOS attributes that Unix has no bit for in this extended attribute.
    os.setxattr(os.path.join(work, "tree", ".hidden.txt"), "user.DOSATTRIB", b"0x22")
    bare = ("sub/small.c", "能力.txt")
    for rsp, names in (("ascii", sorted(files)), ("full", sorted(files) + sorted(japanese)),
                       ("empties", ["empty.txt", "sub/empty2.txt"]), ("many", list(many)), ("lzx", list(lzx)),
                       ("stats", ["unlike-its-block.bin"]), ("period", ["period32765.bin"]), ("stored", ["runs257.bin"])):
        with open(os.path.join(work, rsp + ".rsp"), "wb") as f:
            for n in [""] + names:
                win = n.replace("/", "\\").encode("cp932")
                f.write(win + b"\r\n" if n in bare or not n else b'"' + win + b'"\r\n')
        with open(os.path.join(work, rsp + ".rsp.list"), "w", encoding="utf-8") as f:
            f.write("".join(n + "\n" for n in names))


def compare(tree, out, listing):
    expected = [l.rstrip("\n") for l in open(listing, encoding="utf-8") if l.strip()]
    found = {os.path.relpath(os.path.join(r, n), out) for r, _, names in os.walk(out) for n in names}
    errors = ["unexpected: " + n for n in sorted(found - set(expected))]
    for name in expected:
        if name not in found:
            errors.append("missing: " + name)
        elif open(os.path.join(tree, name), "rb").read() != open(os.path.join(out, name), "rb").read():
            errors.append("content differs: " + name)
    print("\n".join(errors))
    return not errors


if sys.argv[1] == "make":
    make(sys.argv[2])
else:
    sys.exit(0 if compare(*sys.argv[2:5]) else 1)
