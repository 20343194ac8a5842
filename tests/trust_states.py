#!/usr/bin/env python3
"""usage: trust_states.py TOLMEX: each state of a request as root, with
another user acting in it.

"1,P/,ORDER-B,1" (P = G/D/P: G and D root's, 2775 for group 65532, P
root's, 1777) runs under strace, stopped by SIGSTOP after its n-th call of
a name; user 65533 of group 65532 does one of ACTS, and it goes on. The
states: the call before its walk to P, with every act; then its calls that
name no path outside our tree (not the user look-ups), one act each in
turn. mart.dll writes nothing: a #!/bin/sh script in every other state,
an ELF program (true) in the others. In each state the request
 1. runs nothing of theirs (their program leaves a marker in M);
 2. changes nothing in S, root's tree that their links point at;
 3. reads back no outcome of theirs: its log line of the client's outcome
    (our socket as /dev/log) never says result "SUCCESS", which only their
    tolmex.ini (ORDER-B) and S's (ORDER-A) hold (`--result P` warns in
    any case here that group 65532 may replace P: not checked);
 4. ends within BOUND seconds after it goes on.
Exits 1 on a violation; 77 without root, setpriv, strace, unshare or a
mount namespace.
"""
import os, re, shutil, signal, select, socket, subprocess, sys, tempfile, time
from crash_states import write

TOLMEX = sys.argv[1]
OTHER, GROUP, BOUND = 65533, 65532, 15
FORGED = "[return]\r\nresult=SUCCESS\r\nout_trade_no=ORDER-B\r\n"
LOG = "logpay/pay_log" + time.strftime("%Y%m%d") + ".txt"
NAMES = "tolmex.ini .tolmex.ini.tolmex-new mart.exe logpay " + LOG + \
    " .mart.exe.tolmex-0 .mart.exe.tolmex-1 .mart.exe.tolmex-2"
THEIRS = "mkdir {0}; cp $B/prog {0}/mart.dll; cp $B/prog {0}/mart.exe; " \
    "cp $B/forged {0}/tolmex.ini; ln -s $B/S/dir {0}/logpay"
ACTS = {  # what the other user does in a state ($B: the test's tree)
    "P swapped for a directory of theirs":
        "cd $B/G/D && mv P P.old && " + THEIRS.format("P"),
    "P swapped for a link to root's S": "cd $B/G/D && mv P P.old && "
                                        "ln -s $B/S P",
    "P's parent swapped": "cd $B/G && mv D D.old && mkdir D && " +
                          THEIRS.format("D/P") + "; chmod 1777 D/P",
    "links at every name": "cd $B/G/D/P; ln -s $B/S/dir logpay; for n in "
                           + NAMES + "; do ln -s $B/S/file $n; done",
    "files, FIFOs, directories at every name":
        "cd $B/G/D/P; cp $B/forged tolmex.ini; mkfifo .tolmex.ini.tolmex-new"
        "; cp $B/prog mart.exe; mkdir -m 777 logpay; ln -s $B/S/file " + LOG
        + "; for n in 0 1 2; do mkdir .mart.exe.tolmex-$n; done",
    "locks held": "cd $B/G/D/P; exec python3 -c 'import fcntl,os,sys,time\n"
                  "for n in sys.argv[1:]:\n try: fcntl.flock(os.open(n, "
                  "os.O_RDONLY|os.O_NONBLOCK), 6)\n except OSError: pass\n"
                  "print(flush=True); time.sleep(60)' . mart.dll " + NAMES,
}


def tree(top):
    """Names, sizes, times of what lies below `top`, links not followed."""
    return {p: (s.st_size, s.st_mtime_ns, s.st_mode, s.st_uid) for p, s in (
        (os.path.join(d, n), os.lstat(os.path.join(d, n)))
        for d, ds, fs in os.walk(top) for n in ds + fs)}


def layout(client):
    shutil.rmtree(os.path.join(BASE, "G"), ignore_errors=True)
    for d, mode in (("G", 0o2775), ("G/D", 0o2775), ("G/D/P", 0o1777)):
        os.mkdir(os.path.join(BASE, d))
        os.chown(os.path.join(BASE, d), 0, GROUP * (mode == 0o2775))
        os.chmod(os.path.join(BASE, d), mode)
    shutil.copy(client, os.path.join(BASE, "G/D/P/mart.dll"))
    return os.path.join(BASE, "G/D/P") + "/"


def run(pub, inject=None, act=None):
    """(exit status, hung, system log lines, stopped) of one request."""
    calls = ["-e", "inject=%s:signal=SIGSTOP:when=%d" % inject,
             "-e", "trace=" + inject[0]] if inject else [
                 "-o", os.path.join(BASE, "calls"), "-y"]
    strace = subprocess.Popen(
        ["unshare", "--mount", "sh", "-c", "mount -t tmpfs tmpfs /dev && "
         f"ln -s {BASE}/log /dev/log && ln -s /proc/self/fd /dev/fd && "
         "mount -t tmpfs tmpfs /run && exec \"$@\"", "sh", "strace", "-qq",
         *calls, TOLMEX, "1," + pub + ",ORDER-B,1"], start_new_session=True,
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        env=dict(os.environ, DISPLAY=""))
    out, holder, fd = b"", None, strace.stderr.fileno()
    while inject and b"--- stopped by" not in out and \
            select.select([fd], [], [], BOUND)[0]:
        chunk = os.read(fd, 65536)
        if not chunk:
            break
        out += chunk
    stopped = b"--- stopped by" in out
    if stopped:  # the other user acts; a holder of locks says when
        holder = subprocess.Popen(
            ["setpriv", f"--reuid={OTHER}", f"--regid={OTHER}",
             f"--groups={GROUP}", "sh", "-c", ACTS[act]], text=True,
            env=dict(os.environ, B=BASE), stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        holder.stdout.readline()
        with open(f"/proc/{strace.pid}/task/{strace.pid}/children") as f:
            os.kill(int(f.read().split()[0]), signal.SIGCONT)
    try:
        strace.communicate(timeout=BOUND)
    except subprocess.TimeoutExpired:
        os.killpg(strace.pid, signal.SIGKILL)  # strace and tolmex
        strace.communicate()
        out += b"--- hung"
    if holder:  # setpriv, sh and the lock holder are one process
        holder.kill()
        holder.wait()
    logged = ""
    while select.select([AUDIT], [], [], 0)[0]:
        logged += AUDIT.recv(65536).decode(errors="replace")
    return strace.returncode, b"--- hung" in out, logged, stopped


def states(client, offset):
    """The violations in the states of one request with `client`."""
    run(layout(client))
    if not os.path.exists(BASE + "/calls"):
        sys.exit(print("no mount namespace here: skipped") or 77)
    with open(BASE + "/calls") as f:
        lines = [l for l in f if re.match(r"\w+\(", l)]
    first = next(i for i, l in enumerate(lines) if i and BASE in l)
    counts, picked, found, reached, acts = {}, [], [], 0, list(ACTS)
    for i, line in enumerate(lines):
        name = line[:line.index("(")]
        counts[name] = counts.get(name, 0) + 1
        if i >= first - 1 and (BASE in line or not re.search(r"[<\"]/", line)):
            picked.append((name, counts[name]))
    tried = [(picked[0], act) for act in acts] + [
        (inject, acts[(n + offset) % len(acts)])
        for n, inject in enumerate(picked[1 + offset::2])]
    sentinel = tree(BASE + "/S")
    for inject, act in tried:
        pub = layout(client)
        status, hung, logged, stopped = run(pub, inject, act)
        reached += stopped
        ran, now = os.listdir(BASE + "/M"), tree(BASE + "/S")
        faults = [what for what, bad in (
            ("their program ran", ran), ("S changed", now != sentinel),
            ("its log line says SUCCESS", 'result "SUCCESS"' in logged),
            (f"still running {BOUND} s on", hung)) if bad]
        if faults:
            found.append(f"{os.path.basename(client)}: after call "
                         f"{inject[0]} #{inject[1]}, {act}: " + ", ".join(
                             faults) + f" (exit {status})")
        for marker in ran:
            os.remove(BASE + "/M/" + marker)
        sentinel = now
    print(f"{os.path.basename(client)}: stopped in {reached} of "
          f"{len(tried)} states ({len(picked)} calls)")
    return found


if os.geteuid() != 0 or not all(map(shutil.which, ("setpriv", "strace",
                                                    "unshare"))):
    sys.exit(print("needs root, setpriv, strace and unshare: skipped") or 77)
BASE = tempfile.mkdtemp(prefix="tolmex-trust-")
try:
    os.chmod(BASE, 0o755)
    for name, text, mode in (
            ("M/", "", 0o1777), ("S/dir/", "", 0o755), ("S/file", "x", 0o644),
            ("S/tolmex.ini", FORGED.replace("B", "A"), 0o644),
            ("prog", f"#!/bin/sh\necho x > {BASE}/M/$$\n", 0o755),
            ("script", "#!/bin/sh\n", 0o755), ("forged", FORGED, 0o644)):
        path = os.path.join(BASE, name)
        os.makedirs(path, exist_ok=True) if name.endswith("/") else write(
            path, text, OTHER if name == "forged" else None)
        os.chmod(path, mode)
    AUDIT = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    AUDIT.bind(os.path.join(BASE, "log"))
    found = states(os.path.join(BASE, "script"), 0) + states(
        shutil.which("true"), 1)
    print("\n".join(found) or "no violations")
    sys.exit(1 if found else 0)
finally:
    shutil.rmtree(BASE)
