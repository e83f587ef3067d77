#!/usr/bin/env python3
"""Adds Dutch translations to locale/nl.po.

usage: locale/add-translation.py FILE
FILE holds pairs of lines: the English text, then its Dutch translation (blank lines between pairs
are ignored; write a line break inside a text as \\n). A text with a count has two forms on each
line, separated by a tab: "singular<TAB>plural", then "Dutch singular<TAB>Dutch plural". A text
already in the catalogue is left as it is. The catalogue is locked while it is changed, so several
people can add at once.
"""
import fcntl
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
catalogue = os.path.join(here, "nl.po")


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def main():
    lines = [l.rstrip("\n") for l in open(sys.argv[1], encoding="utf-8")]
    lines = [l for l in lines if l.strip()]
    if len(lines) % 2:
        sys.exit("odd number of lines: every English text needs its Dutch line")
    pairs = [(lines[i].replace("\\n", "\n"), lines[i + 1].replace("\\n", "\n"))
             for i in range(0, len(lines), 2)]
    with open(catalogue, "r+", encoding="utf-8") as po:
        fcntl.flock(po, fcntl.LOCK_EX)
        text = po.read()
        added = 0
        for english, dutch in pairs:
            english, dutch = english.split("\t"), dutch.split("\t")
            if len(english) != len(dutch) or len(english) not in (1, 2):
                sys.exit("a text has one form, or a singular and a plural, in both languages: "
                         + english[0])
            entry = "msgid " + quote(english[0]) + "\n"
            if entry in text:
                continue
            if len(english) == 1:
                entry += "msgstr " + quote(dutch[0]) + "\n"
            else:
                entry += ("msgid_plural " + quote(english[1]) + "\n" + "msgstr[0] " + quote(dutch[0])
                          + "\nmsgstr[1] " + quote(dutch[1]) + "\n")
            addition = ("" if text.endswith("\n\n") else "\n") + entry + "\n"
            text += addition
            added += 1
        po.seek(0)
        po.write(text)
        po.truncate()
        fcntl.flock(po, fcntl.LOCK_UN)
    print(f"{added} added, {len(pairs) - added} already there")


main()
