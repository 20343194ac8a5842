#!/usr/bin/env python3
"""Reads INI files with Python's configparser, the way a standard reader would.

  ini_check.py dump FILE     prints every section and key as configparser reads them
  ini_check.py parse FILE... exits 1, naming the file, when one cannot be read
"""
import configparser
import sys


def read(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    # Bytes pass through unchanged whatever the code set.
    with open(path, encoding="latin-1", newline=None) as f:
        parser.read_file(f)
    return parser


def main(argv):
    mode, files = argv[1], argv[2:]
    if mode == "dump":
        parser = read(files[0])
        for section in parser.sections():
            print(f"[{section}]")
            for key, value in parser.items(section):
                print(f"{key}={value}")
        return 0
    for path in files:
        try:
            read(path)
        except (configparser.Error, UnicodeError) as e:
            print(f"{path}: {e}")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
