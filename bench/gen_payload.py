#!/usr/bin/env python3
"""Writes a deterministic payload and its manifest: gen_payload.py DIR FILES MIB

Mixed sizes (many small files, a few large ones) and mixed content: text
(about 55 % of the bytes), structured binary records (30 %) and random bytes
that no compressor shrinks (15 %), so that ratios mean something."""
import os
import random
import sys

out, count, mib = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
rng = random.Random(20261207)
total = int(mib * 1024 * 1024)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(3000)]

# Sizes: log-uniform weights, scaled to the total.
weights = [rng.lognormvariate(0, 1.6) for _ in range(count)]
scale = total / sum(weights)
sizes = [max(0, int(w * scale)) for w in weights]
sizes[0] += total - sum(sizes)

def text(n):
    parts, size = [], 0
    while size < n:
        line = b" ".join(rng.choice(words) for _ in range(rng.randint(4, 14))) + b"\r\n"
        parts.append(line)
        size += len(line)
    return b"".join(parts)[:n]

def records(n):
    rec = bytearray()
    i = rng.randint(0, 1 << 20)
    while len(rec) < n:
        i += rng.randint(1, 7)
        rec += i.to_bytes(4, "little") + rng.choice(words).ljust(12, b"\0") + rng.randint(0, 255).to_bytes(2, "little")
    return bytes(rec[:n])

files = []
os.makedirs(os.path.join(out, "payload"), exist_ok=True)
for i, size in enumerate(sizes):
    kind = rng.random()
    data = text(size) if kind < 0.55 else records(size) if kind < 0.85 else rng.randbytes(size)
    sub = "d%02d" % (i % 40)
    os.makedirs(os.path.join(out, "payload", sub), exist_ok=True)
    name = "f%04d.%s" % (i, "txt" if kind < 0.55 else "dat" if kind < 0.85 else "bin")
    with open(os.path.join(out, "payload", sub, name), "wb") as f:
        f.write(data)
    files.append((sub, name))

with open(os.path.join(out, "manifest.toml"), "w") as m:
    m.write('[package]\nmodelName = "Bench"\nmodelVersion = "1.0"\nuninstallKey = "CabsetupBench"\n')
    m.write("defaultTargetDir = '<PROGRAMFILES_DIR>\\Bench'\nuninstaller = false\n\n[medium]\n\n")
    for sub, name in files:
        m.write("[[file]]\nsource = \"payload/%s/%s\"\ntarget = '<TARGET_DIR>\\%s\\%s'\n" % (sub, name, sub, name))
