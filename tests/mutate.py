#!/usr/bin/env python3
"""A mutation pass over the lines a change touched: does the suite notice?

Each mutant changes one spot of one source line by one rule (a comparison
flipped, a condition dropped, a flag or a call removed, an early return, a
number off by one), is built incrementally in an existing build tree and
run against the CTest tests that cover it. A mutant is killed when a test
fails or the run times out, survives when every test passes, and does not
count when it does not compile. The source file is restored after each
mutant, also on Ctrl-C.

  tests/mutate.py --base HEAD~3                 # lines changed since HEAD~3
  tests/mutate.py --files platform/posix/files.cpp --max 20 --seed 7
  tests/mutate.py --base main --list            # the mutants, not run
  tests/mutate.py --base HEAD~40 --only win32 --build build-windows

The build tree must exist (configure and build it once). Run it in a
checkout of its own (git worktree add) when you go on working meanwhile:
it edits the sources in place.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import time

CODE = re.compile(r"^(app|log|result|strings|runtime|platform)/.*\.(cpp|h)$")
TEST = re.compile(r"_test\.cpp$")

# (name, pattern, replacement): each match of the pattern on a line is one
# mutant. Patterns see the line with strings and comments blanked out.
RULES = [
    ("flip ==", r"==", "!="),
    ("flip !=", r"!=", "=="),
    ("< to <=", r"(?<=\s)<(?=\s)", "<="),
    ("<= to <", r"<=", "<"),
    ("> to >=", r"(?<=\s)>(?=\s)", ">="),
    (">= to >", r">=", ">"),
    ("&& to ||", r"&&", "||"),
    ("|| to &&", r"\|\|", "&&"),
    ("drop !", r"!(?=[\w(])", ""),
    ("drop a flag", r"\s*\|\s*[A-Z][A-Z0-9_]+\b(?!\s*\()", ""),
    ("true to false", r"\btrue\b", "false"),
    ("false to true", r"\bfalse\b", "true"),
    ("number + 1", r"(?<![\w.])([1-9]\d*)(?![\w.])", None),
    ("condition always false", r"\bif \(", "false"),
    ("condition always true", r"\bif \(", "true"),
]

CALL_STATEMENT = re.compile(r"^\s*[\w:.>\-]+\(.*\);\s*$")
SKIP_LINE = re.compile(r"^\s*(#|//|\*|/\*|static_assert|namespace|using )")


def blank_strings_and_comments(line):
    """The line with string and character literals and a // comment
    replaced by blanks of the same length, so rules never mutate text."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
                out.append(c)
            else:
                out.append(" ")
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)]


def whole_condition(line, code, start, value):
    """The line with the condition of an `if (` ending at start joined
    with value (`if (false && (cond))`), or None when the condition does
    not close on this line."""
    depth = 1
    for i in range(start, len(code)):
        depth += {"(": 1, ")": -1}.get(code[i], 0)
        if depth == 0:
            joiner = " && (" if value == "false" else " || ("
            return (line[:start] + value + joiner + line[start:i] + "))" +
                    line[i + 1:])
    return None


def changed_lines(base):
    """{path: set of line numbers} of code lines added or changed since base."""
    diff = subprocess.run(["git", "diff", "-U0", base, "--", "."],
                          capture_output=True, text=True, check=True).stdout
    lines, path = {}, None
    for row in diff.splitlines():
        if row.startswith("+++ "):
            path = row[6:] if row.startswith("+++ b/") else None
        elif row.startswith("@@") and path:
            m = re.search(r"\+(\d+)(?:,(\d+))?", row)
            start, count = int(m.group(1)), int(m.group(2) or 1)
            lines.setdefault(path, set()).update(range(start, start + count))
    return lines


def mutants_of(path, wanted):
    """Every mutant of the wanted lines of one file: (path, line number,
    rule name, new line)."""
    with open(path, encoding="utf-8") as f:
        text = f.read().split("\n")
    found = []
    for number in sorted(wanted):
        if number > len(text):
            continue
        line = text[number - 1]
        if not line.strip() or SKIP_LINE.match(line):
            continue
        code = blank_strings_and_comments(line)
        for name, pattern, replacement in RULES:
            for m in re.finditer(pattern, code):
                if name.startswith("condition"):
                    new = whole_condition(line, code, m.end(), replacement)
                    if new:
                        found.append((path, number, name, new))
                    continue
                new = (str(int(m.group(1)) + 1) if replacement is None
                       else replacement)
                found.append((path, number, name,
                              line[: m.start()] + new + line[m.end():]))
        if CALL_STATEMENT.match(code) and not code.lstrip().startswith(
                "return"):
            found.append((path, number, "drop the call", ""))
        m = re.match(r"^(\s*)(?!return|else|case|default|\}|\{)\S", code)
        before = text[number - 2].rstrip() if number > 1 else "{"
        if (m and code.rstrip().endswith(";") and "{" not in code and
                before[-1:] in (";", "{", "}")):
            found.append((path, number, "return early",
                          m.group(1) + "return {};"))
    return found


def run(cmd, timeout, cwd=None):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout)
        return done.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--base", help="mutate the lines changed since this commit")
    p.add_argument("--files", nargs="*", default=[],
                   help="mutate every line of these files")
    p.add_argument("--only", default="", help="paths to mutate (a regex)")
    p.add_argument("--build", default="build", help="the build tree")
    p.add_argument("--labels", default="unit|program|fault",
                   help="CTest labels to run (a regular expression)")
    p.add_argument("--tests", help="CTest test names to run (a regex)")
    p.add_argument("--max", type=int, default=30, help="mutants at most")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--timeout", type=int, default=600,
                   help="seconds for one mutant's tests")
    p.add_argument("--list", action="store_true", help="list, do not run")
    args = p.parse_args()

    wanted = {}
    if args.base:
        wanted = changed_lines(args.base)
    for path in args.files:
        with open(path, encoding="utf-8") as f:
            wanted[path] = set(range(1, f.read().count("\n") + 2))
    everything = []
    for path in sorted(wanted):
        if (CODE.match(path) and not TEST.search(path) and
                re.search(args.only, path) and os.path.exists(path)):
            everything += mutants_of(path, wanted[path])
    random.Random(args.seed).shuffle(everything)
    chosen = sorted(everything[: args.max])
    print(f"{len(chosen)} of {len(everything)} mutants", flush=True)

    ctest = ["ctest", "--test-dir", args.build, "-j2", "--stop-on-failure"]
    ctest += ["-R", args.tests] if args.tests else ["-L", args.labels]
    tally = {"killed": 0, "survived": 0, "no build": 0}
    for path, number, name, new in chosen:
        where = f"{path}:{number} {name}"
        if args.list:
            print(f"{where}: {new.strip()}")
            continue
        with open(path, encoding="utf-8") as f:
            original = f.read()
        lines = original.split("\n")
        lines[number - 1] = new
        started = time.monotonic()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            if run(["cmake", "--build", args.build], 900) != 0:
                verdict = "no build"
            else:
                verdict = ("survived" if run(ctest, args.timeout) == 0
                           else "killed")
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        tally[verdict] += 1
        print(f"{verdict:8} {where}: {new.strip()}  "
              f"({time.monotonic() - started:.0f} s)", flush=True)
    if not args.list:
        run(["cmake", "--build", args.build], 900)
        counted = tally["killed"] + tally["survived"]
        rate = 100 * tally["killed"] // counted if counted else 0
        print(f"killed {tally['killed']}, survived {tally['survived']}, "
              f"did not build {tally['no build']}: {rate} % killed")


if __name__ == "__main__":
    sys.exit(main())
