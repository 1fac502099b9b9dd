"""Checks that an extraction holds exactly the listed files, byte for byte."""
import os
import sys

tree, out, listing = sys.argv[1:4]
expected = [l.rstrip("\n") for l in open(listing, encoding="utf-8") if l.strip()]
found = set()
for root, _, names in os.walk(out):
    for n in names:
        found.add(os.path.relpath(os.path.join(root, n), out))
errors = []
for name in expected:
    if name not in found:
        errors.append("missing: " + name)
        continue
    with open(os.path.join(tree, name), "rb") as a, open(os.path.join(out, name), "rb") as b:
        if a.read() != b.read():
            errors.append("content differs: " + name)
for extra in sorted(found - set(expected)):
    errors.append("unexpected: " + extra)
if errors:
    print("\n".join(errors))
    sys.exit(1)
