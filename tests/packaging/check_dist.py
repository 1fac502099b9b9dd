#!/usr/bin/env python3
"""Packs the download zip into a scratch folder and checks what a user unpacks:
the two program files as built, a readme.txt that Notepad on a Japanese system
shows (Shift-JIS, CR LF only) and the license, in a zip named after the version
that the program itself carries."""
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

root = pathlib.Path(__file__).resolve().parents[2]
binaries = pathlib.Path(sys.argv[1])
failures = []

with tempfile.TemporaryDirectory() as out:
    subprocess.run([sys.executable, str(root / "tools" / "dist.py"), "--bin", str(binaries), "--out", out],
                   check=True, stdout=subprocess.DEVNULL)
    zips = list(pathlib.Path(out).glob("*.zip"))
    exe = (binaries / "Kestelvarnholm.exe").read_bytes()
    carried = re.search(r"F\0i\0l\0e\0V\0e\0r\0s\0i\0o\0n\0(?:\0\0)+((?:[0-9, ]\0)+)", exe.decode("latin-1"))
    version = carried.group(1).replace("\0", "").replace(" ", "").replace(",", ".") if carried else "?"
    if [z.name for z in zips] != [f"Kestelvarnholm-{version}.zip"]:
        failures.append(f"zip {[z.name for z in zips]} does not carry the program's version {version}")
    with zipfile.ZipFile(zips[0]) as archive:
        names = sorted(archive.namelist())
        if names != ["CAB32.dll", "Kestelvarnholm.exe", "LICENSE.txt", "readme.txt"]:
            failures.append(f"entries {names}")
        for name in ("Kestelvarnholm.exe", "CAB32.dll"):
            if archive.read(name) != (binaries / name).read_bytes():
                failures.append(f"{name} differs from the build")
        readme = archive.read("readme.txt")
        try:
            text = readme.decode("cp932")
        except UnicodeDecodeError as e:
            failures.append(f"readme.txt is not Shift-JIS: {e}")
            text = ""
        if b"\n" in readme.replace(b"\r\n", b"") or b"\r" in readme.replace(b"\r\n", b""):
            failures.append("readme.txt has a line end other than CR LF")
        for needed in ("Kestelvarnholm.exe", "CAB32.dll", "project.dat", "バックアップ実行", ".cab"):
            if needed not in text:
                failures.append(f"readme.txt does not mention {needed}")
        if b"MIT License" not in archive.read("LICENSE.txt"):
            failures.append("LICENSE.txt is not the license")

for failure in failures:
    print("FAIL:", failure)
print("dist: OK" if not failures else "dist: FAILED")
sys.exit(1 if failures else 0)
