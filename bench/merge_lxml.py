#!/usr/bin/env python3
"""Corvanta's Merge written the way a Python user would write it with lxml: the benchmark's script peer.

usage: merge_lxml.py -o OUT FILE...

Every input must have the root name and the number of top-level nodes of the input before it. The second-level
nodes of later inputs move under the top-level node at the same position in the first document, unless a node of
the same base name (local name without prefix) is already there. Whitespace-only text is indentation and counts
as no node. Messages go to standard error; the exit status is 0 when the result was written without any message,
1 otherwise.
"""
import sys

from lxml import etree

STRUCTURE_MESSAGE = "XML files do not have same structure, join aborted."


def parser():
    # Nothing outside an input's own text is read: no DTD, no external entity, no network.
    return etree.XMLParser(resolve_entities=False, load_dtd=False, no_network=True, huge_tree=True)


def is_blank(text):
    return not text or not text.strip(" \t\r\n")


def base_name(node):
    """The name the merge compares: empty for comments (text is no node in lxml)."""
    if isinstance(node, etree._Comment):
        return ""
    if isinstance(node, etree._ProcessingInstruction):
        return node.target
    if isinstance(node, etree._Entity):
        return node.name
    return etree.QName(node).localname


def top_level_count(root):
    """Child nodes of the root as Corvanta counts them: lxml keeps text as .text and .tail, not as nodes."""
    count = 0 if is_blank(root.text) else 1
    for child in root:
        count += 1 if is_blank(child.tail) else 2
    return count


def load(path):
    """(root or None, whether the text starts with an XML declaration); reports a parse error as Corvanta does."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        data = b""
        print(f"{path}: {e.strerror}", file=sys.stderr)
    try:
        root = etree.fromstring(data, parser())
    except etree.XMLSyntaxError as e:
        line, column = e.position if e.position else (0, 0)
        print(f"Error reading {path}\nerror:{e.msg}\nLine:{line}\nposition:{column}", file=sys.stderr)
        return None, False
    return root, data.lstrip(b"\xef\xbb\xbf").startswith(b"<?xml")


def merge(paths):
    """The merged tree and whether a message was shown, or None when the join stopped."""
    base = previous = None
    has_declaration = shown = False
    names = []  # per top-level node of the first document: the base names under it
    for index, path in enumerate(paths):
        root, declared = load(path)
        shown |= root is None
        if index == 0:
            base, has_declaration = root, declared
            if base is not None:
                names = [{base_name(c) for c in top} if isinstance(top.tag, str) else set() for top in base]
        else:
            if root is None or previous is None or base_name(root) != base_name(previous) or \
                    top_level_count(root) != top_level_count(previous):
                print(STRUCTURE_MESSAGE, file=sys.stderr)
                return None, True
            shown |= merge_into(base, names, root, path)
        previous = root
    return (base, has_declaration), shown


def merge_into(base, names, root, path):
    shown = False
    base_tops = list(base)
    for j, top in enumerate(root):
        if not isinstance(top.tag, str):
            continue  # only an element has child nodes
        for child in list(top):
            name = base_name(child)
            if not name or name in names[j]:
                continue
            if j >= len(base_tops) or not isinstance(base_tops[j].tag, str):
                print(f"{path}: top-level node {j + 1} of the first document cannot hold \"{name}\"", file=sys.stderr)
                shown = True
                continue
            child.tail = None  # lxml moves the following text with an element; that text is no node of ours
            base_tops[j].append(child)
            names[j].add(name)
    return shown


def main(argv):
    if len(argv) < 4 or argv[1] != "-o":
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    output, paths = argv[2], argv[3:]
    result, shown = merge(paths)
    if result is None:
        return 1
    root, has_declaration = result
    if root is not None:
        etree.ElementTree(root).write(output, encoding="UTF-8", xml_declaration=has_declaration)
    return 1 if shown else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
