#!/usr/bin/env python3
"""Builds the strength meter's word list: the common passwords of at least eight
characters, lower-cased, each once, in the order of the source list."""
import sys


def main(source, target):
    seen = set()
    entries = []
    with open(source, "rb") as f:
        for raw in f:
            line = raw.rstrip(b"\r\n")
            if line.startswith(b"#!comment"):
                continue
            try:
                word = line.decode("utf-8").lower()
            except UnicodeDecodeError:
                continue
            if len(word) < 8 or word in seen:
                continue
            seen.add(word)
            entries.append(word)
    with open(target, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(entries))
        f.write("\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make_wordlist.py SOURCE TARGET")
    main(sys.argv[1], sys.argv[2])
