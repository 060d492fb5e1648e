#!/usr/bin/env python3
"""Reads the capture journals in a folder as docs/journal-format.md describes
them, knowing nothing else of the program: prints one line per journal with
its stem, its items, the bytes they hold, the largest saved mark and a
SHA-256 of every item's bytes in order."""
import hashlib
import os
import re
import struct
import sys
import zlib

MAGIC = b"VNTRLJNL"


def records(data):
    at = 12
    while len(data) - at >= 9:
        size, kind = struct.unpack_from("<IB", data, at)
        if size > 16 << 20 or len(data) - at < 9 + size:
            return
        body = data[at:at + 5 + size]
        (crc,) = struct.unpack_from("<I", data, at + 5 + size)
        if zlib.crc32(body) != crc:
            return
        yield kind, data[at + 5:at + 5 + size]
        at += 9 + size


def read_series(paths):
    items = 0
    total = 0
    saved = 0
    digest = hashlib.sha256()
    expected_segment = None
    end = 0
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        if data[:8] != MAGIC:
            raise ValueError(path + ": not a journal")
        (version,) = struct.unpack_from("<I", data, 8)
        got = list(records(data))
        if version == 2:
            kind, payload = got[0]
            if kind != ord("G"):
                raise ValueError(path + ": no segment record")
            segment, first, _ = struct.unpack("<IQQ", payload)
            if expected_segment is not None and (segment != expected_segment or first < end):
                raise ValueError(path + ": does not continue the series")
            expected_segment = segment + 1
            end = first
            got = got[1:]
        if got[0][0] != ord("H"):
            raise ValueError(path + ": no capture header")
        for kind, payload in got[1:]:
            if kind == ord("I"):
                (name_length,) = struct.unpack_from("<H", payload, 12)
                chunk = payload[14 + name_length:]
                digest.update(chunk)
                items += 1
                total += len(chunk)
                end += 1
            elif kind == ord("S"):
                saved = max(saved, struct.unpack("<Q", payload)[0])
    return items, total, saved, digest.hexdigest()


def main(folder):
    series = {}
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".vjournal"):
            continue
        stem = name[: -len(".vjournal")]
        match = re.fullmatch(r"(.*)\.(\d{6})", stem)
        number = int(match.group(2)) if match else 0
        stem = match.group(1) if match else stem
        series.setdefault(stem, []).append((number, os.path.join(folder, name)))
    for stem, files in sorted(series.items()):
        items, total, saved, digest = read_series([path for _, path in sorted(files)])
        print(os.path.basename(stem), len(files), items, total, saved, digest)


if __name__ == "__main__":
    main(sys.argv[1])
