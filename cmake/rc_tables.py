#!/usr/bin/env python3
"""Turns a module's resource script (.rc) into the C++ tables of the platform layer's resources.

Reads the STRINGTABLE and DIALOGEX blocks (controls written as CONTROL statements) and the
#include "..." and #define lines; writes a source that declares the module's resources.
Usage: rc_tables.py SCRIPT.rc OUTPUT.cpp
"""
import re
import sys

STRING_ROW = re.compile(r'^\s*(\w+)\s*,?\s*("(?:[^"]|"")*")\s*$')
DIALOG_HEAD = re.compile(r'^\s*(\w+)\s+DIALOGEX\b')
CAPTION = re.compile(r'^\s*CAPTION\s+("(?:[^"]|"")*")\s*$')
CONTROL = re.compile(r'^\s*CONTROL\s+("(?:[^"]|"")*")\s*,\s*([-\w]+)\s*,\s*("\w+")\s*,\s*([^,]+?)\s*,'
                     r'(?:\s*-?\d+\s*,){3}\s*-?\d+\s*$')


def wide(literal):
    """An rc string literal ("" for a quote, C escapes) as a wide C++ literal."""
    return 'W("' + literal[1:-1].replace('""', '\\"') + '")'


def fail(path, number, line):
    sys.exit(f"{path}:{number}: not understood: {line.strip()}")


def parse(path):
    head, strings, dialogs = [], [], []
    block, dialog = None, None
    with open(path, encoding="utf-8") as script:
        for number, line in enumerate(script, 1):
            text = line.strip()
            if not text or text.startswith("//") or text.startswith("#pragma") or text.startswith("#include <"):
                continue
            if text.startswith("#include \"") or text.startswith("#define"):
                head.append(text)
            elif text.startswith("LANGUAGE") or text.startswith("STYLE") or text.startswith("FONT"):
                continue
            elif text == "STRINGTABLE":
                block = "strings"
            elif DIALOG_HEAD.match(text):
                dialog = {"id": DIALOG_HEAD.match(text).group(1), "caption": 'W("")', "items": []}
                block = "dialog"
            elif text == "BEGIN":
                if block is None:
                    fail(path, number, line)
            elif text == "END":
                if block == "dialog":
                    dialogs.append(dialog)
                block = None
            elif block == "strings" and STRING_ROW.match(text):
                ident, literal = STRING_ROW.match(text).groups()
                strings.append((ident, wide(literal)))
            elif block == "dialog" and CAPTION.match(text):
                dialog["caption"] = wide(CAPTION.match(text).group(1))
            elif block == "dialog" and CONTROL.match(text):
                caption, ident, window_class, style = CONTROL.match(text).groups()
                dialog["items"].append((wide(window_class), wide(caption), ident, style))
            else:
                fail(path, number, line)
    return head, strings, dialogs


def main():
    source, output = sys.argv[1], sys.argv[2]
    head, strings, dialogs = parse(source)
    out = [f"// Generated from {source.split('/')[-1]}: the module's resources for the platform layer.",
           "#include <windows.h>", ""] + head + ["", "static const PAL_STRING_RESOURCE g_Strings[] = {"]
    out += [f"    {{{ident}, {text}}}," for ident, text in strings] + ["};"]
    for index, dialog in enumerate(dialogs):
        out += ["", f"static const PAL_DIALOG_ITEM g_Dialog{index}Items[] = {{"]
        out += [f"    {{{cls}, {text}, {ident}, {style}}}," for cls, text, ident, style in dialog["items"]] + ["};"]
    if dialogs:
        out += ["", "static const PAL_DIALOG_TEMPLATE g_Dialogs[] = {"]
        out += [f"    {{{d['id']}, {d['caption']}, g_Dialog{i}Items, PAL_COUNT(g_Dialog{i}Items)}},"
                for i, d in enumerate(dialogs)] + ["};", "", "PAL_DECLARE_RESOURCES(LANG_JAPANESE_JAPAN, g_Strings, g_Dialogs);"]
    else:
        out += ["", "PAL_DECLARE_STRINGS(LANG_JAPANESE_JAPAN, g_Strings);"]
    with open(output, "w", encoding="utf-8") as file:
        file.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
