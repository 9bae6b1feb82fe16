"""Fuzz target of the HTTP service's multipart reader, with a mutation driver
of its own (there is no coverage-guided fuzzer for Python in Debian).

Each input is a body with boundary "b"; it is parsed once whole and once cut
into random pieces. Whatever the bytes, the parser either refuses them with
the service's BadRequest or gives the same parts both ways, and never holds
more than its bounds allow. Usage:
  service_multipart_fuzz.py [--seconds N] [--seed N] CORPUS_DIR...
"""

from __future__ import annotations

import argparse
import os
import random
import sys
import time
from typing import List, Optional, Tuple

from pressmark.service.formdata import MAX_HEADERS, MultipartParser
from pressmark.service.problems import BadRequest

TOKENS = [b"\r\n", b"--b", b"--b--", b"\r\n--b\r\n", b"\r\n\r\n", b"Content-Disposition: form-data; name=\"f\"",
          b"; filename=\"a.pdf\"", b"\"", b"\\", b";", b"\x00", b"-", b"b"]

Event = Tuple[str, object]


class Recorder:
    def __init__(self) -> None:
        self.events: List[Event] = []

    def begin(self, name: str, filename: Optional[str]) -> None:
        self.events.append(("begin", (name, filename)))

    def data(self, chunk: bytes) -> None:
        if self.events and self.events[-1][0] == "data":
            self.events[-1] = ("data", bytes(self.events[-1][1]) + chunk)  # type: ignore[arg-type]
        else:
            self.events.append(("data", chunk))

    def end(self) -> None:
        self.events.append(("end", None))


def parse(body: bytes, cuts: List[int]) -> Tuple[Optional[str], List[Event]]:
    rec = Recorder()
    try:
        parser = MultipartParser("b", rec)
        last = 0
        for cut in sorted(cuts) + [len(body)]:
            parser.feed(body[last:cut])
            last = max(last, cut)
            # Between pieces the parser holds at most one part's headers.
            assert len(parser._buf) <= MAX_HEADERS + 256
        parser.close()
    except BadRequest as e:
        assert e.type == "malformed-form" and e.detail
        return e.detail, rec.events
    return None, rec.events


def one(body: bytes, rng: random.Random) -> None:
    whole_error, whole = parse(body, [])
    cuts = [rng.randrange(len(body) + 1) for _ in range(rng.randrange(1, 8))] if body else []
    cut_error, pieces = parse(body, cuts)
    assert (whole_error is None) == (cut_error is None), (body[:200], whole_error, cut_error)
    if whole_error is None:
        assert whole == pieces, body[:200]


def mutate(data: bytes, rng: random.Random, corpus: List[bytes]) -> bytes:
    b = bytearray(data)
    for _ in range(rng.randrange(1, 5)):
        kind = rng.randrange(5)
        at = rng.randrange(len(b) + 1)
        if kind == 0 and b:
            b[min(at, len(b) - 1)] ^= 1 << rng.randrange(8)
        elif kind == 1:
            b[at:at] = rng.choice(TOKENS)
        elif kind == 2 and b:
            del b[at:at + rng.randrange(1, 16)]
        elif kind == 3:
            other = rng.choice(corpus)
            start = rng.randrange(len(other) + 1)
            b[at:at] = other[start:start + rng.randrange(1, 64)]
        else:
            b[at:at] = bytes([rng.randrange(256)]) * rng.randrange(1, 300)
    return bytes(b)


def main(argv: List[str]) -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=15)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("corpus", nargs="*")
    args = ap.parse_args(argv)
    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "little")
    rng = random.Random(seed)
    corpus = [b"--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--b--\r\n"]
    for folder in args.corpus:
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                corpus.append(f.read())
    runs = 0
    deadline = time.monotonic() + args.seconds
    for body in corpus:
        one(body, rng)
    while time.monotonic() < deadline:
        body = mutate(rng.choice(corpus), rng, corpus)
        try:
            one(body, rng)
        except AssertionError:
            print(f"failing input (seed {seed}): {body!r}", file=sys.stderr)
            raise
        runs += 1
    print(f"service_multipart_fuzz: {runs} inputs in {args.seconds} s, seed {seed}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
