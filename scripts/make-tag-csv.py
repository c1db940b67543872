#!/usr/bin/env python3
"""Builds data/Config/Tag.csv.utf8 (the shipped tag dictionary) from data tables
Debian ships, and merges the Japanese names of make-tag-csv.ja.tsv.

Sources, both read as data only:
  --pydicom  _dicom_dict.py of package python3-pydicom (names, VR, VM); get it with
             `apt-get download python3-pydicom && dpkg -x python3-pydicom_*.deb x`
  --dcmtk    /usr/share/libdcmtk*/dicom.dic of package libdcmtk (fills in what the
             first table lacks; names made from the keywords)

Output: one line per element, "GGGG,EEEE,Japanese,English,VR,VM", sorted by tag,
UTF-8 with LF (the build stages it as Shift-JIS with CR LF). Command elements
(group 0000) are left out. Repeating groups get the even instances 6000..601E,
5000..501E and 7F00..7F1E. Commas inside names become ";" because the file has no
quoting. Lines without a Japanese name carry the English name in both columns.
"""
import argparse
import ast
import os
import re
import sys


def read_pydicom(path):
    text = open(path, encoding="utf-8").read()
    out = {}
    rep = {}
    for m in re.finditer(r"^\s+(0x[0-9A-Fa-f]{8}|'[0-9A-Fa-fx]{8}'): (\(.*?\)),\s+# noqa$", text, re.M):
        key, tup = m.group(1), ast.literal_eval(m.group(2))
        vr, vm, name, retired, keyword = tup
        if key.startswith("0x"):
            out[int(key, 16)] = (vr, vm, name, keyword)
        else:
            rep[key.strip("'")] = (vr, vm, name, keyword)
    return out, rep


def split_keyword(kw):
    kw = kw.replace("RETIRED_", "")
    words = re.findall(r"[A-Z]+(?=[A-Z][a-z]|\d|$)|[A-Z]?[a-z]+|\d+|[A-Z]+", kw)
    return " ".join(words) if words else kw


def read_dcmtk(path):
    out = {}
    rep = {}
    for line in open(path, encoding="latin-1"):
        if not line.startswith("("):
            continue
        parts = line.rstrip("\n").split("\t")
        if len(parts) < 5 or parts[4].startswith(("PRIVATE", "ILLEGAL", "GENERIC")):
            continue
        tag, vr, kw, vm = parts[0], parts[1], parts[2], parts[3]
        m = re.match(r"\(([0-9A-F]{4})(?:-([0-9A-F]{4}))?,([0-9A-F]{4})\)$", tag)
        if not m:
            continue
        vr = {"xs": "US or SS", "ox": "OB or OW", "lt": "US or OW", "up": "UL", "px": "OB or OW", "na": ""}.get(vr, vr)
        entry = (vr, vm, split_keyword(kw), kw.replace("RETIRED_", ""))
        if m.group(2):
            rep[m.group(1)[:2] + "xx" + m.group(3)] = entry
        else:
            out[int(m.group(1) + m.group(3), 16)] = entry
    return out, rep


def expand(rep):
    out = {}
    for key, entry in rep.items():
        if not re.match(r"^(50|60|7F)xx[0-9A-F]{4}$", key):
            continue  # other repeaters (retired compression tables) are not met in files
        for n in range(0, 0x20, 2):
            out[int(key[:2] + "%02X" % n + key[4:], 16)] = entry
    return out


def main():
    ap = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--pydicom", required=True)
    ap.add_argument("--dcmtk", default="/usr/share/libdcmtk17/dicom.dic")
    ap.add_argument("--japanese", default=os.path.join(here, "make-tag-csv.ja.tsv"))
    ap.add_argument("--out", default=os.path.join(here, "..", "data", "Config", "Tag.csv.utf8"))
    a = ap.parse_args()

    pd, pd_rep = read_pydicom(a.pydicom)
    dk, dk_rep = read_dcmtk(a.dcmtk)
    table = {}
    table.update(expand(dk_rep))
    table.update(dk)
    table.update(expand(pd_rep))
    table.update(pd)
    # The three delimiters of the item and sequence encoding.
    table[0xFFFEE000] = ("", "1", "Item", "Item")
    table[0xFFFEE00D] = ("", "0", "Item Delimitation Item", "ItemDelimitationItem")
    table[0xFFFEE0DD] = ("", "0", "Sequence Delimitation Item", "SequenceDelimitationItem")

    japanese = {}
    for line in open(a.japanese, encoding="utf-8"):
        if line.startswith("#") or "\t" not in line:
            continue
        kw, ja = line.rstrip("\n").split("\t", 1)
        japanese[kw] = ja.strip()

    lines = []
    with_ja = 0
    used = set()
    for tag in sorted(table):
        if tag >> 16 == 0:
            continue  # command elements never appear in files
        vr, vm, name, kw = table[tag]
        name = name.replace(",", ";").strip()
        ja = japanese.get(kw, "")
        if ja:
            with_ja += 1
            used.add(kw)
        else:
            ja = name
        ja = ja.replace(",", "、")
        name.encode("cp932")
        ja.encode("cp932")
        lines.append("%04X,%04X,%s,%s,%s,%s" % (tag >> 16, tag & 0xFFFF, ja, name, vr, vm))
    with open(a.out, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    unused = sorted(set(japanese) - used)
    print("%d lines, %d with a Japanese name" % (len(lines), with_ja), file=sys.stderr)
    if unused:
        print("Japanese names without an element: " + " ".join(unused), file=sys.stderr)


if __name__ == "__main__":
    main()
