#!/usr/bin/env python3
"""Measures tolmex against the client started directly and against a shell
script doing the same steps, side by side, for a no-op client and a 20 MB one.

Then measures tolmex against the floor (bench/floor.c: only the system
calls a bridge needs), for the no-op client and for a client that writes
all eight keys (the sample client), so that every request finds a result
to reset.

usage: measure.py RUNNER TOLMEX NOOP_CLIENT HANDMADE_SCRIPT FLOOR
                  WRITING_CLIENT SCRATCH_DIR [RUNS]

RUNNER (bench/runner.cpp) interleaves the runs (a, b, c, a, b, c, ...) so
that drift of the machine hits every case alike, and reports median wall
time and peak resident memory (of the process and the children it waited
for). Prints them with the ratios against the targets.
"""
import os
import shutil
import subprocess
import sys


def run_interleaved(runner, runs, commands, copy=None, expect=0, env=None):
    argv = [runner, str(runs)] + (["--copy", copy] if copy else [])
    argv += ["--expect", str(expect)]
    for command in commands:
        argv += command + ["--"]
    out = subprocess.run(argv[:-1], check=True, capture_output=True, text=True,
                         env=env)
    return [(float(ms), int(kib)) for ms, kib in
            (line.split() for line in out.stdout.splitlines())]


def measure_floor(runner, runs, scratch, tolmex, floor, clients):
    """tolmex and the floor (linked dynamically, and statically: FLOOR +
    "_static"), interleaved, each on a public directory of its own; returns
    tolmex/floor by client and floor."""
    commands = []
    programs = (floor, floor + "_static", tolmex)
    for client_name, client in clients.items():
        for program in programs:
            pub = os.path.join(scratch, "floor", client_name.replace(" ", "-"),
                               os.path.basename(program)) + "/"
            os.makedirs(pub)
            shutil.copyfile(client, pub + "mart.dll")
            os.chmod(pub + "mart.dll", 0o755)
            commands.append([program, f"pay,{pub},ORDER-1,12.50"])
    measured = run_interleaved(runner, runs, commands)
    print("\nagainst the floor (only the system calls a bridge needs)")
    ratios = {}
    for i, client_name in enumerate(clients):
        dynamic_ms, static_ms, tolmex_ms = (
            m[0] for m in measured[len(programs) * i:len(programs) * (i + 1)])
        ratios[client_name, "dynamic"] = tolmex_ms / dynamic_ms
        ratios[client_name, "static"] = tolmex_ms / static_ms
        print(f"  {client_name:<10} client: floor {dynamic_ms:7.3f} ms "
              f"(static {static_ms:7.3f} ms), tolmex {tolmex_ms:7.3f} ms, "
              f"tolmex/floor = {tolmex_ms / dynamic_ms:.2f} "
              f"(static {tolmex_ms / static_ms:.2f})")
    return ratios


def measure_crowded(runner, runs, scratch, tolmex, writing):
    """tolmex on an empty public directory and on one that holds 100,000
    files of others, interleaved, with a client that writes the eight keys
    (so each request rewrites the result file); returns crowded/empty."""
    commands = []
    for name in ("empty", "crowded"):
        pub = os.path.join(scratch, name) + "/"
        os.makedirs(pub)
        shutil.copyfile(writing, pub + "mart.dll")
        os.chmod(pub + "mart.dll", 0o755)
        if name == "crowded":
            for i in range(100_000):
                open(f"{pub}other-{i}", "w").close()
        commands.append([tolmex, f"pay,{pub},ORDER-1,12.50"])
    (empty_ms, _), (crowded_ms, _) = run_interleaved(runner, runs, commands)
    ratio = crowded_ms / empty_ms
    print(f"\n100,000 files in the public directory: empty {empty_ms:.3f} ms, "
          f"crowded {crowded_ms:.3f} ms, crowded/empty = {ratio:.2f}")
    return ratio


def measure_invalid_bytes(runner, runs, scratch, tolmex):
    """tolmex on a request of 1 MiB of bytes that are invalid in the code
    set, under GBK and under UTF-8; returns GBK/UTF-8, or None without a
    GBK locale. The request is too long for the client (status 4), so this
    times the conversions, the reset and the log."""
    if subprocess.run(["locale", "-a"], capture_output=True,
                      text=True).stdout.lower().find("zh_cn.gbk") < 0:
        print("\nno zh_CN.GBK locale: invalid bytes under GBK not measured")
        return None
    pub = os.path.join(scratch, "invalid") + "/"
    os.makedirs(pub)
    shutil.copyfile("/bin/true", pub + "mart.dll")
    os.chmod(pub + "mart.dll", 0o755)
    request = [os.fsencode(f"pay,{pub},")] + [b"\xff" * (128 * 1024 - 1)] * 8
    times = {}
    for locale in ("C.UTF-8", "zh_CN.GBK"):
        env = dict(os.environ, LC_ALL=locale)
        argv = [runner, str(runs // 4), "--expect", "4", tolmex] + request
        out = subprocess.run(argv, check=True, capture_output=True, env=env)
        times[locale] = float(out.stdout.split()[0])
    ratio = times["zh_CN.GBK"] / times["C.UTF-8"]
    print(f"\n1 MiB of invalid bytes: UTF-8 {times['C.UTF-8']:.2f} ms, "
          f"GBK {times['zh_CN.GBK']:.2f} ms, GBK/UTF-8 = {ratio:.2f}")
    return ratio


def main():
    runner, tolmex, noop_client, handmade, floor, writing, scratch = sys.argv[1:8]
    runs = int(sys.argv[8]) if len(sys.argv) > 8 else 300
    shutil.rmtree(scratch, ignore_errors=True)
    clients = {}
    for name, size in (("no-op", 0), ("20 MB", 20 << 20)):
        pub = os.path.join(scratch, name.replace(" ", "")) + "/"
        os.makedirs(pub)
        dll = pub + "mart.dll"
        shutil.copyfile(noop_client, dll)
        if size:
            with open(dll, "ab") as f:
                f.truncate(size)
            with open(dll, "r+b") as f:  # real blocks, not a sparse file
                f.seek(os.path.getsize(noop_client))
                f.write(os.urandom(size - os.path.getsize(noop_client)))
        os.chmod(dll, 0o755)
        # The direct case runs a copy of its own, as tolmex runs mart.exe.
        direct = pub + "direct-client"
        shutil.copy2(dll, direct)
        request = f"pay,{pub},ORDER-1,12.50"
        clients[name] = {
            "a": [direct, request],
            "b": [tolmex, request],
            "c": ["/bin/sh", handmade, request],
            "pub": pub,
        }

    results = {}
    for name, cases in clients.items():
        # With the big client, each round also times one in-kernel copy of
        # it (and its deletion), the work tolmex cannot avoid.
        big = cases["pub"] + "mart.dll" if name == "20 MB" else None
        measured = run_interleaved(runner, runs, [cases[k] for k in "abc"], big)
        results[name] = dict(zip("abc", measured))
        if big:
            copy_ms = measured[3][0]

    labels = {"a": "client started directly", "b": "tolmex", "c": "shell script"}
    print(f"{runs} interleaved runs each; median wall time, peak RSS")
    for name, r in results.items():
        print(f"\n{name} client")
        for k in "abc":
            ms, kib = r[k]
            print(f"  ({k}) {labels[k]:<24} {ms:8.3f} ms  {kib / 1024:6.2f} MiB")
        print(f"  b/a = {r['b'][0] / r['a'][0]:.2f}   c/b = {r['c'][0] / r['b'][0]:.2f}")
    noop, big = results["no-op"], results["20 MB"]
    over_noop = noop["b"][0] - noop["a"][0]
    over_big = big["b"][0] - big["a"][0]
    print(f"\nin-kernel copy of 20 MB and its deletion: {copy_ms:.3f} ms")
    print(f"overhead of tolmex: {over_noop:.3f} ms (no-op), {over_big:.3f} ms (20 MB)")

    checks = [
        ("b/a <= 3.0 (no-op client)", noop["b"][0] / noop["a"][0] <= 3.0),
        ("c/b >= 8 (no-op client)", noop["c"][0] / noop["b"][0] >= 8),
        ("peak memory of tolmex < 4 MiB", max(noop["b"][1], big["b"][1]) < 4096),
        ("20 MB overhead <= 1.2 x no-op overhead + one copy",
         over_big <= 1.2 * over_noop + copy_ms),
    ]
    floor_ratios = measure_floor(runner, runs, scratch, tolmex, floor,
                                 {"no-op": noop_client, "eight keys": writing})
    bounds = {"dynamic": 1.05, "static": 1.20}
    for (client, linked), ratio in floor_ratios.items():
        checks.append((f"tolmex/{linked} floor <= {bounds[linked]:.2f} "
                       f"({client} client)", ratio <= bounds[linked]))
    crowded = measure_crowded(runner, runs, scratch, tolmex, writing)
    checks.append(("100,000 files in P: at most 1.2 x an empty P",
                   crowded <= 1.2))
    invalid = measure_invalid_bytes(runner, runs, scratch, tolmex)
    if invalid is not None:
        checks.append(("1 MiB invalid bytes: GBK <= 2 x UTF-8", invalid <= 2.0))
    print()
    for text, ok in checks:
        print(f"  {'met ' if ok else 'MISSED'}  {text}")
    return 0 if all(ok for _, ok in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
