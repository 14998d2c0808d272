#!/usr/bin/env python3
"""Makes seed inputs for the reply fuzz targets from a simulator transcript.

Usage: seeds_from_transcript.py TRANSCRIPT OUTDIR [--filter HEX] [--head N] [--count N]

Each seed is a run of consecutive replies ("<-" lines) in the targets'
input form: one length byte, then that many reply bytes. --filter keeps
only replies whose second byte (the service) is one of the given hex
values; --head puts N leading bytes (hex) before the replies, for targets
that read their own choices first.
"""
import argparse
import pathlib


def replies(path, services):
    found = []
    for line in pathlib.Path(path).read_text().splitlines():
        head, _, _ = line.partition(";")
        fields = head.split()
        if "<-" not in fields:
            continue
        frame = bytes(int(x, 16) for x in fields[fields.index("<-") + 1:])
        # A length header (0xF1, length) comes before the address.
        at = 3 if frame[:1] == b"\xf1" else 1
        if services and (len(frame) <= at or frame[at] not in services):
            continue
        found.append(frame[:255])
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("transcript")
    parser.add_argument("outdir")
    parser.add_argument("--filter", default="")
    parser.add_argument("--head", default="")
    parser.add_argument("--count", type=int, default=6)
    parser.add_argument("--run", type=int, default=12)
    args = parser.parse_args()
    services = {int(x, 16) for x in args.filter.split(",") if x}
    frames = replies(args.transcript, services)
    out = pathlib.Path(args.outdir)
    out.mkdir(parents=True, exist_ok=True)
    step = max(1, len(frames) // max(1, args.count))
    for n, start in enumerate(range(0, len(frames), step)):
        if n >= args.count:
            break
        seed = bytearray(bytes.fromhex(args.head))
        for frame in frames[start:start + args.run]:
            seed.append(len(frame))
            seed += frame
        (out / f"seed-{n:02d}").write_bytes(bytes(seed))


if __name__ == "__main__":
    main()
