#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Cuts the interface font out of a Noto Sans CJK collection.

Takes one face of the collection (by its family name), keeps only the characters the
interface can show (printable ASCII and every character of the given texts) and leaves
it a single family, so that it neither merges into an installed "Noto Sans CJK SC" nor
lists a second, typographic family name.

Fails, naming the character and the file it came from, when the face lacks a character
that a text needs: a dropped character would silently show in a fallback font.
"""

import argparse
import json
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection, TTFont

# Typographic family and subfamily, and the WWS pair: without them the face is one family.
FAMILY_ALIAS_NAME_IDS = (16, 17, 21, 22)
WINDOWS, WINDOWS_UNICODE_BMP, ENGLISH_US = 3, 1, 0x409


def json_strings(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict):
        for key, item in value.items():
            yield key
            yield from json_strings(item)
    elif isinstance(value, list):
        for item in value:
            yield from json_strings(item)


def text_lines(path):
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            line = line.rstrip("\n")
            if line and not line.startswith("#"):
                yield line


def wanted_characters(json_paths, text_paths):
    """Maps each character to the first file that needs it."""
    needed = {chr(code): "printable ASCII" for code in range(0x20, 0x7F)}
    sources = [(path, json_strings(json.load(open(path, encoding="utf-8")))) for path in json_paths]
    sources += [(path, text_lines(path)) for path in text_paths]
    for path, strings in sources:
        for text in strings:
            for char in text:
                if ord(char) >= 0x20 and char not in needed:
                    needed[char] = path
    return needed


def english_name(font, name_id):
    record = font["name"].getName(name_id, WINDOWS, WINDOWS_UNICODE_BMP, ENGLISH_US)
    return record.toUnicode() if record else None


def face_number(path, family):
    """Index of the face whose family (typographic or legacy) is `family`; 0 outside a collection."""
    if not path.lower().endswith((".ttc", ".otc")):
        return 0
    collection = TTCollection(path, lazy=True)
    for number, face in enumerate(collection.fonts):
        if family in (english_name(face, 16), english_name(face, 1)):
            return number
    sys.exit(f"make_font: no face of family '{family}' in {path}")


def single_family(font):
    name = font["name"]
    name.names = [record for record in name.names if record.nameID not in FAMILY_ALIAS_NAME_IDS]
    return english_name(font, 1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="font file or collection")
    parser.add_argument("--family", required=True, help="family of the face to take, e.g. 'Noto Sans CJK SC'")
    parser.add_argument("--json", action="append", default=[], help="JSON file whose strings the font must cover")
    parser.add_argument("--text", action="append", default=[], help="text file (one text a line) to cover")
    parser.add_argument("--out", required=True, help="the cut font")
    parser.add_argument("--full-out", help="also write the whole face, single-family, for comparison")
    args = parser.parse_args()

    number = face_number(args.source, args.family)
    needed = wanted_characters(args.json, args.text)

    font = TTFont(args.source, fontNumber=number, recalcTimestamp=False)
    available = font.getBestCmap()
    missing = [(char, origin) for char, origin in needed.items() if ord(char) not in available]
    if missing:
        for char, origin in missing:
            print(f"make_font: {args.family} has no glyph for U+{ord(char):04X} '{char}' (from {origin})",
                  file=sys.stderr)
        sys.exit(1)

    if args.full_out:
        whole = TTFont(args.source, fontNumber=number, recalcTimestamp=False)
        single_family(whole)
        whole.save(args.full_out)

    options = subset.Options()
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.notdef_outline = True
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=[ord(char) for char in needed])
    subsetter.subset(font)
    family = single_family(font)

    kept = font.getBestCmap()
    lost = [char for char in needed if ord(char) not in kept]
    if lost:
        sys.exit(f"make_font: the cut dropped {''.join(lost)!r}")
    font.save(args.out)
    print(f"make_font: {len(needed)} characters of '{family}' into {args.out}")


if __name__ == "__main__":
    main()
