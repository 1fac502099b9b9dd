#!/usr/bin/env python3
"""Packs the zip users download: the program, the archiver, a Japanese readme.txt
(Shift-JIS, CR LF) and the license, named after the version block's FILEVERSION."""
import argparse
import pathlib
import re
import sys
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent


def version():
    rc = (ROOT / "res" / "Kestelvarnholm.rc").read_text(encoding="utf-8")
    match = re.search(r"^\s*FILEVERSION\s+(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)", rc, re.M)
    if not match:
        sys.exit("dist: no FILEVERSION in res/Kestelvarnholm.rc")
    return ".".join(match.groups())


def windows_text(path, encoding):
    text = path.read_text(encoding="utf-8").replace("\r\n", "\n")
    return text.replace("\n", "\r\n").encode(encoding)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=str(ROOT / "build" / "windows" / "bin"))
    parser.add_argument("--out", default=str(ROOT / "build" / "dist"))
    args = parser.parse_args()
    binaries = pathlib.Path(args.bin)
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    target = out / f"Kestelvarnholm-{version()}.zip"
    partial = target.with_suffix(".zip.part")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in ("Kestelvarnholm.exe", "CAB32.dll"):
            archive.write(binaries / name, name)
        archive.writestr("readme.txt", windows_text(ROOT / "dist" / "readme.txt", "cp932"))
        archive.writestr("LICENSE.txt", windows_text(ROOT / "LICENSE", "ascii"))
    partial.replace(target)
    print(target)


if __name__ == "__main__":
    main()
