#!/usr/bin/env python3
"""Plants faults in link/ and reset/, one at a time, and counts those that no
Linux test notices.

    scripts/mutate.py [--count 60] [--seed 1] [--build build/mutation] [--list]

The faults are the small slips a person makes: a number off by one; ==
and !=, < and <=, > and >=, && and || swapped; one letter of a string
literal changed; a call statement dropped. Every candidate in the Linux
sources of link/ and reset/ is listed, the list is shuffled with the
seed, and candidates are planted in that order until --count of them have
compiled. After each one the Linux test programs that exercise those
folders run (the ports listing's and pantoline-cli's among them), the
quick ones (link_tests, reset_tests, cli_ports_tests) first and the
real-time ones only if those pass. A test that fails, crashes or runs past
its time limit has caught the fault. Each source file is put back as it was
before the next fault, and on any way out.

Nothing here is run by CI: a whole sample takes a while (about a minute
for each fault that the quick tests miss). --list prints the sample
without building anything.
"""
import argparse
import random
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FOLDERS = ("link", "reset")
# The Linux test programs that exercise link/ and reset/, quick ones first:
# the others run only when those pass.
QUICK = ("tests/link/link_tests", "tests/reset/reset_tests", "tests/cli/cli_ports_tests")
SLOW = ("tests/pty/pty_tests", "tests/simunit/simunit_pty_tests", "tests/cli/cli_tests")
TARGETS = tuple(Path(program).name for program in QUICK + SLOW)

SWAPS = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">", "&&": "||", "||": "&&"}
# A binary operator written as clang-format writes it, with a space each side.
OPERATOR = re.compile(r"(?<=\s)(==|!=|<=|>=|<|>|&&|\|\|)(?=\s)")
NUMBER = re.compile(r"(?<![\w.'])(\d[\d']*)(?![\w.'])")
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
CALL = re.compile(r"^(\s*)(?!return\b|if\b|for\b|while\b|switch\b|case\b|delete\b|throw\b)"
                  r"[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\(.*\);\s*$")


def linux_sources():
    for folder in FOLDERS:
        for path in sorted((ROOT / folder).glob("*")):
            if path.suffix in (".cpp", ".h") and "_win32" not in path.name:
                yield path


def code_spans(line):
    """The parts of `line` outside comments and string or character literals,
    as (start, end) pairs."""
    spans, start, i, quote = [], 0, 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote, start = None, i + 1
        elif c in "\"'":
            spans.append((start, i))
            quote = c
        elif line.startswith("//", i):
            spans.append((start, i))
            return spans
        i += 1
    if not quote:
        spans.append((start, len(line)))
    return spans


def candidates(path):
    """Every fault that can be planted in `path`: (line index, new line, what)."""
    lines = path.read_text().split("\n")
    in_block_comment = False
    found = []
    for n, line in enumerate(lines):
        stripped = line.strip()
        if in_block_comment:
            in_block_comment = "*/" not in stripped
            continue
        if stripped.startswith("/*"):
            in_block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("//", "#")) or "static_assert" in line:
            continue
        for start, end in code_spans(line):
            segment = line[start:end]
            for m in OPERATOR.finditer(segment):
                a, b = start + m.start(), start + m.end()
                new = line[:a] + SWAPS[m.group(1)] + line[b:]
                found.append((n, new, f"column {a + 1}: {m.group(1)} -> {SWAPS[m.group(1)]}"))
            for m in NUMBER.finditer(segment):
                a, b = start + m.start(), start + m.end()
                value = int(m.group(1).replace("'", ""))
                new = line[:a] + str(value + 1) + line[b:]
                found.append((n, new, f"{value} -> {value + 1}"))
        for m in STRING.finditer(line):
            if not any(s <= m.start() <= e for s, e in code_spans(line)):  # the quote ends a span
                continue
            text = m.group(1)
            letters = [i for i, c in enumerate(text) if c.isalpha() and (i == 0 or text[i - 1] != "\\")]
            if letters:
                # The same letter every run: the middle one of the literal.
                i = letters[len(letters) // 2]
                c = text[i]
                swapped = "b" if c == "a" else "a" if c.islower() else "B" if c == "A" else "A"
                a = m.start() + 1 + i
                found.append((n, line[:a] + swapped + line[a + 1:], f'"{text}": {c} -> {swapped}'))
        call = CALL.match(line)
        if call and (n == 0 or lines[n - 1].rstrip().endswith((";", "{", "}", ":")) or not lines[n - 1].strip()):
            found.append((n, call.group(1) + ";", f"dropped: {stripped}"))
    return [(path, n, new, what) for n, new, what in found]


def run(command, timeout=None, cwd=ROOT):
    try:
        return subprocess.run(command, cwd=cwd, timeout=timeout, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def caught(build, test_timeout):
    return any(run([str(build / program)], timeout=test_timeout) != 0 for program in QUICK + SLOW)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=60, help="faults that compile (default 60)")
    parser.add_argument("--seed", type=int, default=1, help="shuffle seed (default 1)")
    parser.add_argument("--build", default="build/mutation", help="build folder (default build/mutation)")
    parser.add_argument("--test-timeout", type=int, default=300, help="seconds per test program (default 300)")
    parser.add_argument("--list", action="store_true", help="print the shuffled candidates and stop")
    args = parser.parse_args()

    pool = [c for path in linux_sources() for c in candidates(path)]
    random.Random(args.seed).shuffle(pool)
    if args.list:
        for path, n, _, what in pool[:args.count]:
            print(f"{path.relative_to(ROOT)}:{n + 1}: {what}")
        print(f"{len(pool)} candidates", file=sys.stderr)
        return 0

    build = (ROOT / args.build).resolve()
    build_command = ["cmake", "--build", str(build), "-j2", "--target", *TARGETS]
    if run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Debug"]) != 0 \
            or run(build_command) != 0:
        sys.exit("mutate.py: the unchanged tree does not build")
    if caught(build, args.test_timeout):
        sys.exit("mutate.py: the tests fail on the unchanged tree")

    planted, survivors, refused = 0, [], 0
    started = time.monotonic()
    for path, n, new, what in pool:
        if planted == args.count:
            break
        original = path.read_text()
        lines = original.split("\n")
        lines[n] = new
        try:
            path.write_text("\n".join(lines))
            if run(build_command) != 0:
                refused += 1
                continue
            planted += 1
            where = f"{path.relative_to(ROOT)}:{n + 1}: {what}"
            if caught(build, args.test_timeout):
                print(f"caught   {where}", flush=True)
            else:
                survivors.append(where)
                print(f"SURVIVED {where}", flush=True)
        finally:
            path.write_text(original)
    run(build_command)  # leave the build matching the tree

    minutes = (time.monotonic() - started) / 60
    print(f"\n{planted} faults planted (seed {args.seed}; {refused} more did not compile), "
          f"{planted - len(survivors)} caught ({100 * (planted - len(survivors)) / max(planted, 1):.0f} %), "
          f"{len(survivors)} survived, in {minutes:.0f} min")
    for where in survivors:
        print(f"  {where}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
