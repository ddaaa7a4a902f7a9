#!/usr/bin/env python3
"""Prints "COUNT DIGEST" for the second-level elements of an XML file (standard library only).

COUNT is the number of elements that are children of the root's child elements; DIGEST is a
hash of their expanded names (namespace URI and local name) in document order, each with the
position of its top-level element. Two merge results with the same line hold the same nodes
in the same places, whatever prefixes or indentation they use. Exits 1 when the file does not
parse. Streams the file, so a result of hundreds of MB needs little memory.
"""
import hashlib
import sys
import xml.etree.ElementTree as ET


def summary(path):
    digest = hashlib.sha1()
    count = depth = top = 0
    parents = []
    for event, element in ET.iterparse(path, events=("start", "end")):
        if event == "start":
            depth += 1
            if depth == 2:
                top += 1
            elif depth == 3:
                count += 1
                digest.update(f"{top}\t{element.tag}\n".encode("utf-8"))
            parents.append(element)
            continue
        depth -= 1
        parents.pop()
        if depth == 2:
            # A finished second-level subtree is no longer needed; it is its parent's only child.
            parents[-1].remove(element)
    return count, digest.hexdigest()


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: second_level.py FILE\n")
        return 2
    try:
        count, digest = summary(sys.argv[1])
    except (ET.ParseError, OSError) as e:
        sys.stderr.write(f"{sys.argv[1]}: {e}\n")
        return 1
    print(count, digest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
