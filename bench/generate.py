#!/usr/bin/env python3
"""Writes the benchmark's input files into bench/data/DATASET/ (standard library only).

The same seed and scale always give the same bytes. A dataset whose folder already holds
files made with the same seed, scale and generator version is left alone, so the runner can
call this every time.

Datasets (sizes at --scale 1):
  many-small  2,000 files of about 10 KB, one structure, mostly shared second-level names
  few-large   4 pretty-printed files of about 50 MB, 100,000 second-level elements each
  records     4 files of about 50 MB, 100,000 records each directly under the root (for Combine)
  namespaces  6 files of about 3 MB with a default and prefixed namespaces on the root
  large-text  3 files of about 100 MB, an XML log each (for Append; --scale 10 gives 3 GB)
  declarations 2 files of about 2.8 MB, 40,000 namespace declarations each (half on the root)
"""
import argparse
import os
import random
import shutil
import sys

VERSION = 1  # bump when the output changes, so stale data is remade
DATA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
STAMP = ".stamp"

WORDS = ("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike november "
         "oscar papa quebec romeo sierra tango uniform victor whiskey xray yankee zulu river stone "
         "maple cedar harbour meadow lantern copper silver amber orbit signal vector ledger "
         "café naïve über façade smørrebrød déjà-vu 漢字 ünïcode").split()


def words(rng, low, high):
    return " ".join(rng.choices(WORDS, k=rng.randint(low, high)))


def timestamp(rng):
    return "20%02d-%02d-%02dT%02d:%02d:%02dZ" % (rng.randint(15, 24), rng.randint(1, 12), rng.randint(1, 28),
                                                 rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))


# --- many-small ---------------------------------------------------------------------------------

SMALL_SECTIONS = ("settings", "users", "devices", "rules")
SMALL_SHARED = 10   # names every file draws most of its second-level nodes from
SMALL_PICKED = 8    # of them per section and file
SMALL_NEW = 2       # names of its own per section and file


def small_entry(rng, name):
    return (f'    <{name} enabled="{rng.choice(("true", "false"))}" level="{rng.randint(0, 9)}">\n'
            f"      <label>{words(rng, 2, 5)}</label>\n"
            f"      <value>{rng.randint(0, 99999)}</value>\n"
            f"      <comment>{words(rng, 8, 14)} &amp; more</comment>\n"
            f"    </{name}>\n")


def many_small(rng, scale):
    for index in range(max(2, round(2000 * scale))):
        parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<config version="3">\n']
        for section in SMALL_SECTIONS:
            stem = section[:-1]
            names = [f"{stem}_{k:02d}" for k in sorted(rng.sample(range(SMALL_SHARED), SMALL_PICKED))]
            names += [f"{stem}_f{index:04d}_{k}" for k in range(SMALL_NEW)]
            parts.append(f"  <{section}>\n")
            parts.extend(small_entry(rng, name) for name in names)
            parts.append(f"  </{section}>\n")
        parts.append("</config>\n")
        yield f"small-{index:04d}.xml", parts


# --- few-large ----------------------------------------------------------------------------------

LARGE_FILES = 4
LARGE_RECORDS = 100_000
LARGE_SHIFT = 0.5       # each file starts this share of its records past the previous one
LARGE_DUPLICATES = 0.03  # share of records repeating a name used earlier in the same file


def large_record(rng, name, number):
    tags = "".join(f"        <tag>{rng.choice(WORDS)}</tag>\n" for _ in range(rng.randint(1, 3)))
    return (f'    <{name} id="{number}" kind="{rng.choice(WORDS)}" status="{rng.choice(("open", "closed", "held"))}"'
            f' updated="{timestamp(rng)}">\n'
            f"      <title>{words(rng, 3, 6)}</title>\n"
            f'      <amount currency="{rng.choice(("EUR", "USD", "CHF"))}">{rng.randint(0, 10**6) / 100:.2f}</amount>\n'
            f"      <tags>\n{tags}      </tags>\n"
            f"      <description>{words(rng, 20, 34)} &lt;{number}&gt;</description>\n"
            f"    </{name}>\n")


def few_large(rng, scale):
    count = max(10, round(LARGE_RECORDS * scale))
    for index in range(LARGE_FILES):
        first = round(index * count * LARGE_SHIFT)
        parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<archive>\n  <meta>\n',
                 f"    <source>file {index}</source>\n    <created>{timestamp(rng)}</created>\n  </meta>\n",
                 "  <records>\n"]
        for k in range(count):
            number = first + k
            if k and rng.random() < LARGE_DUPLICATES:
                number = first + rng.randrange(k)
            parts.append(large_record(rng, f"rec{number:07d}", number))
        parts.append("  </records>\n  <summary>\n")
        parts.append(f"    <count>{count}</count>\n  </summary>\n</archive>\n")
        yield f"large-{index}.xml", parts


def records(rng, scale):
    count = max(10, round(LARGE_RECORDS * scale))
    for index in range(LARGE_FILES):
        first = index * count
        parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<records>\n']
        parts.extend(large_record(rng, f"rec{first + k:07d}", first + k).replace("\n    ", "\n  ")[2:]
                     for k in range(count))
        parts.append("</records>\n")
        yield f"rec-{index}.xml", parts


# --- namespaces ---------------------------------------------------------------------------------

NS_FILES = 6
NS_ITEMS = 9_000        # second-level elements per file, spread over the sections
NS_SHIFT = 0.3
NS_PREFIXES = ("", "inv:", "geo:")
NS_SECTIONS = ("products", "inv:stores", "geo:regions")
NS_ROOT = ('<catalog xmlns="urn:example:bench:catalog" xmlns:inv="urn:example:bench:inventory"'
           ' xmlns:geo="urn:example:bench:geo" xmlns:xlink="http://www.w3.org/1999/xlink">\n')


def ns_item(rng, number):
    # A name keeps its usual prefix; a few carry another one, so base names collide across namespaces.
    prefix = NS_PREFIXES[number % 3] if rng.random() >= 0.01 else rng.choice(NS_PREFIXES)
    name = f"{prefix}item{number:06d}"
    return (f'    <{name} sku="S{number}" inv:stock="{rng.randint(0, 500)}" xlink:href="urn:item:{number}">\n'
            f"      <name>{words(rng, 2, 5)}</name>\n"
            f'      <geo:place geo:lat="{rng.uniform(-90, 90):.4f}" geo:lon="{rng.uniform(-180, 180):.4f}"/>\n'
            f"      <inv:note>{words(rng, 10, 20)}</inv:note>\n"
            f"    </{name}>\n")


def namespaces(rng, scale):
    per_section = max(5, round(NS_ITEMS * scale / len(NS_SECTIONS)))
    for index in range(NS_FILES):
        first = round(index * per_section * NS_SHIFT)
        parts = ['<?xml version="1.0" encoding="UTF-8"?>\n', NS_ROOT]
        for s, section in enumerate(NS_SECTIONS):
            parts.append(f"  <{section}>\n")
            parts.extend(ns_item(rng, s * 10**5 + first + k) for k in range(per_section))
            parts.append(f"  </{section}>\n")
        parts.append("</catalog>\n")
        yield f"ns-{index}.xml", parts


# --- declarations -------------------------------------------------------------------------------

DECL_FILES = 2
DECL_ITEMS = 20_000     # second-level elements per file; each declares a namespace, and so does the root per item


def declarations(rng, scale):
    # 40,000 declarations per file at full scale: half on the root, one on every second-level element. A merge
    # that looks up a prefix along every declaration in scope grows with the square of this.
    count = max(10, round(DECL_ITEMS * scale))
    for index in range(DECL_FILES):
        first = index * count // 2
        root = "".join(f' xmlns:p{k}="urn:example:bench:p{k}"' for k in range(count))
        parts = ['<?xml version="1.0" encoding="UTF-8"?>\n', f"<root{root}>\n  <items>\n"]
        for k in range(count):
            number = first + k
            parts.append(f'    <p{number % count}:item{number:06d} xmlns:q="urn:example:bench:q{number}"'
                         f' q:n="{rng.randint(0, 999)}">{words(rng, 1, 4)}</p{number % count}:item{number:06d}>\n')
        parts.append("  </items>\n</root>\n")
        yield f"decl-{index}.xml", parts


# --- large-text ---------------------------------------------------------------------------------

TEXT_FILES = 3
TEXT_BYTES = 100_000_000
TEXT_CHUNKS = 16           # distinct blocks of about 1 MB; a file is a random sequence of them
TEXT_CHUNK_BYTES = 1 << 20


def text_chunk(rng):
    lines, size = [], 0
    while size < TEXT_CHUNK_BYTES:
        line = (f'  <entry at="{timestamp(rng)}" level="{rng.choice(("info", "warn", "error"))}">'
                f"{words(rng, 6, 24)} &amp; {rng.randint(0, 10**6)}</entry>\n").encode("utf-8")
        lines.append(line)
        size += len(line)
    return b"".join(lines)


def large_text(rng, scale):
    # Built from repeated blocks so that gigabytes are written at disk speed, not at Python's.
    chunks = [text_chunk(rng) for _ in range(TEXT_CHUNKS)]
    target = max(TEXT_CHUNK_BYTES, round(TEXT_BYTES * scale))

    def parts(index):
        yield f'<?xml version="1.0" encoding="UTF-8"?>\n<log file="{index}">\n'.encode("utf-8")
        written = 0
        while written < target:
            chunk = rng.choice(chunks)
            written += len(chunk)
            yield chunk
        yield b"</log>\n"

    for index in range(TEXT_FILES):
        yield f"text-{index}.xml", parts(index)


DATASETS = {"many-small": many_small, "few-large": few_large, "records": records, "namespaces": namespaces,
            "large-text": large_text,
            "declarations": declarations}


def stamp_text(seed, scale):
    return f"version={VERSION} seed={seed} scale={scale!r}\n"


def is_current(folder, stamp):
    try:
        with open(os.path.join(folder, STAMP), encoding="utf-8") as f:
            return f.read() == stamp
    except OSError:
        return False


def generate(name, seed, scale, force):
    folder = os.path.join(DATA_DIR, name)
    stamp = stamp_text(seed, scale)
    if not force and is_current(folder, stamp):
        print(f"{name}: up to date in {folder}")
        return
    # The stamp is written last: an interrupted run leaves no folder that looks complete.
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rng = random.Random(f"{seed}/{name}")
    files = total = 0
    for file_name, parts in DATASETS[name](rng, scale):
        with open(os.path.join(folder, file_name), "wb") as f:
            for part in parts:
                data = part if isinstance(part, bytes) else part.encode("utf-8")
                f.write(data)
                total += len(data)
        files += 1
    with open(os.path.join(folder, STAMP), "w", encoding="utf-8") as f:
        f.write(stamp)
    print(f"{name}: {files} files, {total / 1e6:.1f} MB in {folder}")


def main():
    ap = argparse.ArgumentParser(description="Generate the join benchmark's input files.")
    ap.add_argument("--scale", type=float, default=1.0, help="size factor (default 1: the full datasets)")
    ap.add_argument("--only", choices=sorted(DATASETS), action="append", help="make only this dataset (repeatable)")
    ap.add_argument("--seed", type=int, default=20240, help="random seed (default %(default)s)")
    ap.add_argument("--force", action="store_true", help="remake data even when it is up to date")
    a = ap.parse_args()
    if not a.scale > 0:
        ap.error("--scale must be positive")
    for name in a.only or DATASETS:
        generate(name, a.seed, a.scale, a.force)
    return 0


if __name__ == "__main__":
    sys.exit(main())
