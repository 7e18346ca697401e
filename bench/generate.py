#!/usr/bin/env python3
"""Seeded generator of benchmark CSV files.

    generate.py SHAPE SIZE_MB OUTPUT [--seed N]

Shapes:
  clean       mixed 12-column rows: quoted commas, doubled quotes, line
              breaks inside quotes, multi-byte UTF-8 text
  damaged     the same with about 2% damaged rows (short, long, stray quotes)
  halfwide    the same, every other row with one field too many
  wide        200 numeric columns per row
  bigfields   rows of a few fields, each about 1 MB
  onerow      a single row of small fields (a million fields at 10 MB)
  blanklines  nothing but LF (ten million blank lines at 10 MB)
  unclosed    a quote that opens the first field (and closes at the next quote)
  openquote   row 2 opens a quote that nothing closes: the rest is one field
  quotestorm  one line of alternating quotes and text
  bigquoted   one quoted field of words and commas, without a line break
  tinyfields  one row of one-byte fields (forty million at 80 MB)

The same shape, size and seed always give the same bytes.
"""

import argparse
import random
import sys

FIRST = ["Anna", "Björn", "Chloé", "Dmitri", "Eva", "François", "Grace", "Hiro",
         "Inès", "José", "Kai", "Łukasz"]
LAST = ["Müller", "Smith", "García", "Nguyễn", "O'Brien", "Rossi", "Ødegaard",
        "Kowalski", "Tanaka", "Dubois", "Silva", "Ivanova"]
CITIES = ["São Paulo", "Zürich", "東京", "Kraków", "Reykjavík", "Berlin", "New York",
          "Málaga", "Москва", "Lyon", "Cape Town", "Oslo"]
STATUSES = ["active", "pending", "closed", "on hold", "archived"]
WORDS = ["shipment", "delayed", "customer", "asked", "refund", "size", "colour",
         "wrong", "ok", "thanks", "très", "bien", "größe", "note"]
HEADER = "id,name,email,city,date,amount,quantity,status,comment,tags,score,flag\n"
CHUNK = 1 << 20  # text is produced and written in pieces of about this size


def mixed_rows(rng, damage_rate):
    """Endless mixed rows (str), each ending in LF."""
    choice = rng.choice
    rand = rng.random
    randrange = rng.randrange
    row_id = 0
    while True:
        row_id += 1
        first = choice(FIRST)
        kind = randrange(10)
        if kind < 5:
            comment = f"{choice(WORDS)} {choice(WORDS)}"
        elif kind < 8:
            comment = f'"said ""{choice(WORDS)}"", then {choice(WORDS)}"'
        else:
            comment = f'"line one\n{choice(WORDS)}, line two"'
        row = (f'{row_id},"{choice(LAST)}, {first}",{first}.{row_id % 997}@example.com,'
               f'{choice(CITIES)},2024-{randrange(1, 13)}-{randrange(1, 29)},'
               f'{randrange(100000)}.{randrange(10, 100)},{randrange(500)},{choice(STATUSES)},'
               f'{comment},{choice(WORDS)};{choice(WORDS)},{randrange(100)},'
               f'{"true" if rand() < 0.5 else "false"}')
        if damage_rate and rand() < damage_rate:
            damage = randrange(4)
            if damage == 0:
                row = row[:row.rfind(",")]  # too few fields
            elif damage == 1:
                row += ",extra"  # too many fields
            elif damage == 2:
                row += ',"stray "quote" here"'  # stray quotes, one field too many
            else:
                row = row.replace(f",{choice(STATUSES)},", ',"on "hold",', 1)
        yield row + "\n"


def write_rows(out, rows, size):
    written = 0
    pieces = []
    pending = 0
    for row in rows:
        data = row.encode()
        pieces.append(data)
        pending += len(data)
        if pending >= CHUNK or written + pending >= size:
            out.write(b"".join(pieces))
            written += pending
            pieces.clear()
            pending = 0
            if written >= size:
                return


def clean(out, size, rng):
    out.write(HEADER.encode())
    write_rows(out, mixed_rows(rng, 0.0), size)


def damaged(out, size, rng):
    out.write(HEADER.encode())
    write_rows(out, mixed_rows(rng, 0.02), size)


def halfwide(out, size, rng):
    def rows():
        for i, row in enumerate(mixed_rows(rng, 0.0)):
            yield row[:-1] + ",surplus\n" if i % 2 else row
    out.write(HEADER.encode())
    write_rows(out, rows(), size)


def wide(out, size, rng):
    def rows():
        randrange = rng.randrange
        while True:
            yield ",".join(str(randrange(1000000)) for _ in range(200)) + "\n"
    write_rows(out, rows(), size)


def bigfields(out, size, rng):
    def rows():
        while True:
            fields = []
            for column in range(3):
                words = rng.choices(WORDS, k=110000)
                text = " ".join(words)
                # Every other field needs quoting on the way out.
                fields.append(f'"{text}, {column}"' if column % 2 else text)
            yield ",".join(fields) + "\n"
    write_rows(out, rows(), size)


def onerow(out, size, rng):
    def fields():
        randrange = rng.randrange
        while True:
            yield f"v{randrange(1000000)},"
    write_rows(out, fields(), size)
    out.write(b"end\n")


def blanklines(out, size, _rng):
    piece = b"\n" * CHUNK
    for _ in range(size // CHUNK):
        out.write(piece)
    out.write(b"\n" * (size % CHUNK))


def unclosed(out, size, rng):
    out.write(b'"')
    write_rows(out, mixed_rows(rng, 0.0), size)


def openquote(out, size, _rng):
    def rows():
        row_id = 0
        while True:
            row_id += 1
            yield f"{row_id},name {row_id},note {row_id}\n"
    out.write(b'id,name,note\n1,"never closed,\n')
    write_rows(out, rows(), size)


def quotestorm(out, size, _rng):
    piece = b'a"b"' * (CHUNK // 4)
    out.write(b'"')
    for _ in range(size // CHUNK):
        out.write(piece)
    out.write(b"\n")


def bigquoted(out, size, rng):
    words = " ".join(rng.choices(WORDS, k=CHUNK // 6)) + ", "
    piece = (words * (CHUNK // len(words) + 1))[:CHUNK].encode()
    out.write(b'"')
    for _ in range(size // CHUNK):
        out.write(piece)
    out.write(b'"\n')


def tinyfields(out, size, _rng):
    piece = b"a," * (CHUNK // 2)
    for _ in range(size // CHUNK):
        out.write(piece)
    out.write(b"a\n")


SHAPES = {f.__name__: f for f in (clean, damaged, halfwide, wide, bigfields, onerow, blanklines,
                                  unclosed, openquote, quotestorm, bigquoted, tinyfields)}


def generate(shape, size_mb, path, seed=20240611):
    size = int(size_mb * 1_000_000)
    with open(path, "wb") as out:
        SHAPES[shape](out, size, random.Random(seed))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("shape", choices=sorted(SHAPES))
    parser.add_argument("size_mb", type=float)
    parser.add_argument("output")
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args(argv)
    generate(args.shape, args.size_mb, args.output, args.seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
