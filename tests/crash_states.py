#!/usr/bin/env python3
"""Every state a power loss can leave of one request's files.

usage: crash_states.py TOLMEX

Runs one request under strace, keeps the operations on files below the
public directory, and replays every prefix of them on a model of the
directory in which what no fsync/fdatasync has covered yet may be lost:
all of it, none of it, each operation alone, or a write torn in the
middle (losing one operation alone also stands for two reordered). Each
state must hold tolmex.ini whole (as before, or the reset) and the
earlier log records with the new one whole or absent (a line cut short is
no record), and once the client has started, the reset and the record. Prints the first state that breaks a rule and exits 1.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile

TOLMEX = sys.argv[1]
CALLS = ("openat,write,pwrite64,ftruncate,renameat,renameat2,unlinkat,"
         "mkdirat,linkat,fsync,fdatasync,execve,execveat")
LINE = re.compile(r"^(\d+) (\w+)\((.*)\) = (-?\d+)")
ARG = re.compile(r'(\w+)?<((?:\\x[0-9a-f]{2})*)>|"((?:\\x[0-9a-f]{2})*)"|'
                 r'(-?\d+)')


def text(hexes):
    return bytes.fromhex(hexes.replace("\\x", "")).decode("latin-1")


def trace(pub, request):
    out = os.path.join(os.path.dirname(pub), "calls")
    subprocess.run(["strace", "-f", "-qq", "-s", "1000000", "-xx", "-y", "-e",
                    "trace=" + CALLS, "-o", out, TOLMEX, request],
                   check=True, env=dict(os.environ, DISPLAY=""), timeout=60,
                   stderr=subprocess.DEVNULL)
    with open(out) as f:
        return f.read().splitlines()


def is_link(entry):
    return isinstance(entry, tuple) and entry[0] == "link"


def scan(pub):
    """The model of the directory: names to inodes, links, contents."""
    names, data = {}, {}
    for top, dirs, files in os.walk(pub):
        names[top] = "dir"
        for name in files + [d for d in dirs if os.path.islink(
                os.path.join(top, d))]:
            path = os.path.join(top, name)
            if os.path.islink(path):
                names[path] = ("link", os.path.join(top, os.readlink(path)))
            else:
                names[path] = os.stat(path).st_ino
                with open(path, "rb") as f:
                    data[names[path]] = f.read().decode("latin-1")
    return names, data


def operations(lines, pub, names):
    """(kind, key, apply) per operation below `pub`, and the index of the
    client's start."""
    ops, fds, start, fresh = [], {}, None, [0]
    names = dict(names)

    def resolve(path):
        while is_link(names.get(path)):
            path = names[path][1]
        return path

    def inode(pid, arg):
        return fds.get((pid, arg[0])) if arg else None

    for line in lines:
        m = LINE.match(line)
        if not m or int(m.group(4)) < 0:
            continue
        pid, call, result = m.group(1), m.group(2), int(m.group(4))
        args = []
        for a in ARG.finditer(m.group(3)):
            if a.group(2) is not None:
                args.append((a.group(1), text(a.group(2))))
            elif a.group(3) is not None:
                args.append(text(a.group(3)))
            else:
                args.append(int(a.group(4)))
        # The client starts from its descriptor: argv[0] names the copy.
        client = os.path.join(pub, "mart.exe")
        if (call == "execve" and args[0] == client) or (
                call == "execveat" and len(args) > 2 and args[2] == client):
            start = len(ops)
        elif call == "openat":
            path = os.path.join(args[0][1], args[1])
            if path.startswith("/proc/self/fd/"):
                fds[(pid, str(result))] = fds.get((pid, path[14:]))
                continue
            path = resolve(path)
            if not path.startswith(pub + "/"):
                continue
            ino = names.get(path)
            if "O_TMPFILE" in line or ino is None:
                fresh[0] += 1
                ino = ("new", fresh[0])
                if "O_TMPFILE" not in line:
                    names[path] = ino
                    ops.append(("dir", os.path.dirname(path),
                                lambda s, p=path, i=ino: s[0].update({p: i})))
                ops.append(("data", ino, lambda s, i=ino: s[1].update({i: ""})))
            fds[(pid, str(result))] = ino
        elif call in ("write", "pwrite64") and inode(pid, args[0]):
            ino, new = inode(pid, args[0]), args[1][:result]
            at = args[3] if call == "pwrite64" else None

            def put(s, i=ino, b=new, o=at):
                old = s[1].get(i, "")
                o = len(old) if o is None else o
                s[1][i] = old[:o].ljust(o, "\0") + b + old[o + len(b):]
            ops.append(("data", ino, put, new, at))
        elif call == "ftruncate" and inode(pid, args[0]):
            ops.append(("data", inode(pid, args[0]),
                        lambda s, i=inode(pid, args[0]), n=args[1]:
                        s[1].update({i: s[1].get(i, "")[:n]})))
        elif call in ("renameat", "renameat2", "unlinkat", "mkdirat",
                      "linkat"):
            if call == "linkat":
                src = fds.get((pid, args[1][14:]))
                to = os.path.join(args[2][1], args[3])
            else:
                src = os.path.join(args[0][1], args[1])
                to = os.path.join(args[2][1], args[3]) if "rename" in call \
                    else src
            if not to.startswith(pub + "/"):
                continue

            def change(s, c=call, a=src, b=to):
                if c == "mkdirat":
                    s[0][b] = "dir"
                elif c == "linkat":
                    s[0][b] = a
                elif a in s[0]:
                    moved = s[0].pop(a)
                    if c != "unlinkat":
                        s[0][b] = moved
            ino = names.pop(src, None) if call != "linkat" else src
            if call in ("renameat", "renameat2", "linkat", "mkdirat"):
                names[to] = "dir" if call == "mkdirat" else ino
            ops.append(("dir", os.path.dirname(to), change))
            if call.startswith("rename") and \
                    os.path.dirname(src) != os.path.dirname(to):
                ops.append(("dir", os.path.dirname(src), lambda s: None))
        elif call in ("fsync", "fdatasync"):
            target = args[0][1]
            key = target if names.get(target) == "dir" else inode(pid, args[0])
            ops.append(("sync", key, None))
    return ops, start


def states(ops, k):
    """The op lists a crash after the first k operations may leave."""
    done = ops[:k]
    durable = [any(o[0] == "sync" and o[1] == op[1] for o in done[i + 1:])
               for i, op in enumerate(done)]
    pending = [i for i, op in enumerate(done)
               if op[0] != "sync" and not durable[i]]
    keep = lambda lost: [op for i, op in enumerate(done)
                         if op[0] != "sync" and i not in lost]
    yield "all", keep(set())
    yield "none of the unsynced", keep(set(pending))
    for p in pending:
        yield f"all but #{p}", keep({p})
        if len(done[p]) > 3 and len(done[p][3]) > 1:
            half = done[p][3][:len(done[p][3]) // 2]
            torn = list(done)
            torn[p] = ("data", done[p][1],
                       lambda s, i=done[p][1], b=half, o=done[p][4]:
                       done[p][2](s, i, b, o))
            yield f"#{p} torn", [op for op in torn if op[0] != "sync"]


def read(state, path):
    names, data = state
    while is_link(names.get(path)):
        path = names[path][1]
    ino = names.get(path)
    return None if ino is None or ino == "dir" else data.get(ino)


def check(case, prepare):
    base = tempfile.mkdtemp(prefix="tolmex-crash-")
    pub = os.path.join(base, "P")
    os.mkdir(pub)
    try:
        with open(os.path.join(pub, "mart.dll"), "w") as f:
            f.write("#!/bin/sh\n")
        os.chmod(os.path.join(pub, "mart.dll"), 0o755)
        day = datetime.date.today().strftime("%Y%m%d")
        log = os.path.join(pub, "logpay", "pay_log" + day + ".txt")
        prepare(pub, log)
        names, data = scan(pub)
        before_ini = read((names, data), os.path.join(pub, "tolmex.ini"))
        before_log = read((names, data), log)
        lines = trace(pub, "pay," + pub + "/,O-1")
        with open(os.path.join(pub, "tolmex.ini"), "rb") as f:
            reset = f.read().decode("latin-1")
        with open(log, "rb") as f:
            record = f.read().decode("latin-1")[len(before_log or ""):]
        ops, start = operations(lines, pub, names)
        if start is None:
            sys.exit("the client's start is not in the trace")
        for k in range(len(ops) + 1):
            for how, kept in states(ops, k):
                state = (dict(names), dict(data))
                for op in kept:
                    op[2](state)
                ini = read(state, os.path.join(pub, "tolmex.ini"))
                logged = read(state, log)
                started = start is not None and k >= start
                whole = {reset} if started else \
                    {before_ini, reset, "" if before_ini is None else reset}
                fault = ("tolmex.ini is " + repr(ini)) if ini not in whole \
                    else None
                # A record cut short is no record: the next starts on a
                # line of its own.
                new = (logged or "")[len(before_log or ""):]
                if not (logged or "").startswith(before_log or "") or \
                        not record.startswith(new) or \
                        (new.endswith("\n") and new != record) or \
                        (started and new != record):
                    fault = "the log is " + repr(logged)
                if fault:
                    print(f"{case}: after {k} of {len(ops)} operations, "
                          f"{how}: {fault}")
                    return False
        return True
    finally:
        shutil.rmtree(base)


def write(path, content, owner=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(content)
    if owner is not None:
        os.chown(path, owner, owner)


OLD = "[host]\r\nterminal=7\r\n[return]\r\nresult=OLD\r\n"
EARLIER = "2026-12-01 10:00:00:000\tearlier\r\r\n"
CASES = {
    "a normal run": lambda p, log: (write(os.path.join(p, "tolmex.ini"), OLD),
                                    write(log, EARLIER)),
    "another user's tolmex.ini": lambda p, log: write(
        os.path.join(p, "tolmex.ini"), OLD, 65533 if os.geteuid() == 0
        else None),
    "tolmex.ini through a link": lambda p, log: (
        write(os.path.join(p, "real", "t.ini"), OLD),
        os.symlink("real/t.ini", os.path.join(p, "tolmex.ini"))),
    "no tolmex.ini": lambda p, log: write(log, EARLIER),
    "no logpay": lambda p, log: write(os.path.join(p, "tolmex.ini"), OLD),
}

if __name__ == "__main__":
    if shutil.which("strace") is None:
        print("strace is not installed: skipped")
        sys.exit(77)
    sys.exit(0 if all([check(name, prepare)
                       for name, prepare in CASES.items()]) else 1)
