#!/usr/bin/env python3
"""The request flow of tolmex.exe under Wine.

usage: request_flow.py WINE TOLMEX_EXE CLIENT_EXE PROFILE_PROBE_EXE SAMPLE_EXE [MSI]

Runs tolmex.exe on requests in a scratch public directory (given to it as a
Windows path on drive S:, the build tree's wine-scratch), with tests/wine/client.cpp as the payment client
and the platform's own INI reader (profile_probe.exe) to read the result;
SAMPLE_EXE is the demo's sample client built for Windows; MSI, the
installer (its test skips where none was built).
Every run has a time limit that turns a hang into a failure.
"""
import os
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

WINE, TOLMEX, CLIENT, PROBE, SAMPLE = sys.argv[1:6]
MSI = (sys.argv[6:] or [""])[0]
LIMIT = 120  # seconds for one run, Wine's start included
KEYS = ["result", "sub_code", "sub_desc", "trade_no", "out_trade_no",
        "buyer_user_id", "buyer_logon_id", "total_amount"]
# Wine takes the ANSI code page from the locale: GBK (936) for zh_CN.
ENV = dict(os.environ, WINEDEBUG="-all", LANG="zh_CN.UTF-8",
           LC_ALL="zh_CN.UTF-8", DISPLAY="")
ENV.setdefault("WINEPREFIX", os.path.join(os.path.dirname(TOLMEX),
                                          "wine-prefix"))
LOG_PREFIX = "接收的参数字符串：".encode("gbk")


# The public directories go below the build tree, seen by Wine as a drive
# of their own (S:), so that no folder above them is judged wherever the
# tree lies: Wine shows the sticky /tmp as a folder Everyone may empty.
SCRATCH = os.path.join(os.path.dirname(os.path.abspath(TOLMEX)),
                       "wine-scratch")
os.makedirs(SCRATCH, mode=0o755, exist_ok=True)
os.chmod(SCRATCH, 0o755)
tempfile.tempdir = SCRATCH
DRIVE = os.path.join(ENV["WINEPREFIX"], "dosdevices", "s:")
if not os.path.isdir(os.path.dirname(DRIVE)):  # a prefix made first
    subprocess.run([WINE, "wineboot", "-i"], env=ENV, capture_output=True,
                   timeout=LIMIT * 5)
if os.path.realpath(DRIVE) != os.path.realpath(SCRATCH):
    if os.path.lexists(DRIVE):
        os.remove(DRIVE)
    os.symlink(SCRATCH, DRIVE)


def within(seconds, condition):
    """True once `condition()` holds, polled for at most `seconds`."""
    for _ in range(seconds * 10):
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def wine_idle():
    """Returns once the prefix's wineserver, and so its desktop, has ended
    (a few seconds after the last Wine program)."""
    server = os.path.join(os.path.dirname(WINE), "wineserver")
    subprocess.run([server if os.path.exists(server) else "wineserver", "-w"],
                   env=ENV, timeout=LIMIT)


def start_display(xvfb):
    """Xvfb on a high display number of its own (not the :0 that a server
    outside the test may hold in a shared abstract socket namespace), tried
    again on the next one where a number is taken. Returns the process, the
    pipe it wrote its display to once it took connections, and the display
    (empty when no attempt started)."""
    for attempt in range(5):
        ready, told = os.pipe()
        number = 100 + (os.getpid() + 97 * attempt) % 800
        x = subprocess.Popen([xvfb, f":{number}", "-displayfd", str(told),
                              "-nolisten", "tcp"], pass_fds=(told,),
                             stderr=subprocess.DEVNULL)
        os.close(told)
        if select.select([ready], [], [], LIMIT)[0]:
            shown = os.read(ready, 16).decode().strip()
            if shown:
                return x, ready, ":" + shown
        x.kill()
        x.wait()
        os.close(ready)
    return x, os.open(os.devnull, os.O_RDONLY), ""


def windows_path(path):
    inside = os.path.relpath(path, SCRATCH)
    if not inside.startswith(".."):
        return "S:\\" + inside.replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


class RequestFlowTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tolmex-wine-")
        self.pub = windows_path(self.dir) + "\\"

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_tolmex(self, *args, env=ENV):
        return subprocess.run([WINE, TOLMEX, *args], env=env,
                              capture_output=True, timeout=LIMIT)

    def client(self, content=None):
        path = os.path.join(self.dir, "mart.dll")
        if content is None:
            shutil.copyfile(CLIENT, path)
        else:
            with open(path, "wb") as f:
                f.write(content)

    def ran(self):
        path = os.path.join(self.dir, "ran.txt")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [line.rstrip("\n").split("\t") for line in f]

    def read_return(self, pub=None):
        """The eight keys of P's tolmex.ini as the platform's reader has them."""
        jobs = os.path.join(self.dir, "jobs")
        ini = (pub or self.pub) + "tolmex.ini"
        with open(jobs, "w") as f:
            for key in KEYS:
                f.write(f"G\t{ini}\treturn\t{key}\n")
        out = subprocess.run([WINE, PROBE, windows_path(jobs)], env=ENV,
                             capture_output=True, timeout=LIMIT, check=True)
        values = [line.split("\t", 1)[1] for line in
                  out.stdout.decode("gbk").splitlines() if line.startswith("G")]
        return dict(zip(KEYS, values))

    def probe(self, job, text, env=ENV):
        """The probe's answer to `job` on the UTF-16 of `text` (its stderr,
        and that of what it starts, in self.probe_err)."""
        jobs = os.path.join(self.dir, "jobs")
        with open(jobs, "w") as f:
            f.write(job + "\t" +
                    text.encode("utf-16-le", "surrogatepass").hex() + "\n")
        out = subprocess.run([WINE, PROBE, windows_path(jobs)], env=env,
                             capture_output=True, timeout=LIMIT, check=True)
        self.probe_err = out.stderr
        # The last line: a program it starts may print before it.
        return out.stdout.splitlines()[-1].decode().split("\t")[1].strip()

    def test_characters_beyond_u_ffff_are_logged_as_the_platform_has_them(self):
        # Started with the exact UTF-16 command line, lone surrogate and
        # all, as a Windows host starts it.
        self.client()
        request = f"pay,{self.pub},ORDER-1,\U00020087A\U0001F480B\udc87C"
        code = self.probe("R", f'"{windows_path(TOLMEX)}" {request}')
        self.assertEqual(code, "0")
        logs = os.listdir(os.path.join(self.dir, "logpay"))
        with open(os.path.join(self.dir, "logpay", logs[0]), "rb") as f:
            record = f.read().split(b"\t", 1)[1]
        converted = self.probe("N", "接收的参数字符串：" + request)
        self.assertEqual(record, bytes.fromhex(converted) + b"\r\r\n")

    def test_empty_request_and_options_touch_nothing(self):
        r = self.run_tolmex()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.listdir(self.dir), [])
        # A graphical program still answers on the output it was given.
        r = self.run_tolmex("--version")
        self.assertEqual(r.stdout.strip(), b"tolmex 0.1.0")
        r = self.run_tolmex("--help")
        self.assertIn(b"  logpay\\pay_logYYYYMMDD.txt  ", r.stdout)
        self.assertNotIn(b"signal", r.stdout)
        # The site check of a sound directory finds no fault, and leaves
        # nothing behind.
        self.client()
        open(os.path.join(self.dir, "tolmex.ini"), "wb").close()
        r = self.run_tolmex("--check", self.pub)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual([line for line in r.stdout.splitlines()
                          if not line.startswith(b"ok: ")], [])
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["mart.dll", "tolmex.ini"])

    def test_request_runs_the_client_once_on_empty_keys(self):
        with open(os.path.join(self.dir, "tolmex.ini"), "wb") as f:
            f.write(b"[host]\r\nterminal=7\r\n[return]\r\nresult=SUCCESS\r\n"
                    b"out_trade_no=OLD\r\n")
        self.client()
        request = f"pay,{self.pub},ORDER-1,12.50"
        # Wine's relay trace, of the calls that show the flush alone.
        traced = ";".join("KERNEL32." + f for f in (
            "CreateFileW", "FlushFileBuffers", "WritePrivateProfileStringW",
            "CreateProcessW"))
        debug = ["HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/f"]
        subprocess.run([WINE, "reg", "add", *debug, "/d", traced], env=ENV,
                       capture_output=True, timeout=LIMIT, check=True)
        try:
            before = time.strftime("%Y-%m-%d %H:%M:%S")
            r = self.run_tolmex(request, env=dict(ENV, WINEDEBUG="+relay"))
            after = time.strftime("%Y-%m-%d %H:%M:%S")
        finally:
            subprocess.run([WINE, "reg", "delete", *debug], env=ENV,
                           capture_output=True, timeout=LIMIT, check=True)
        self.assertEqual(r.returncode, 0, re.findall(rb"tolmex: .*", r.stderr))
        # In the calls of tolmex's thread (the one that starts the client;
        # Wine's own programs may be traced too): between the last INI write
        # and the client's start, tolmex.ini is flushed.
        trace = r.stderr.decode("utf-8", "replace")
        thread = re.search(r'^(\w+):Call KERNEL32\.CreateProcessW\(\w+ L"[^"]*'
                           r'mart\.exe"', trace, re.M).group(1)
        calls = re.findall(rf"^{thread}:Call KERNEL32\.(\w+)\((.*)\) ret=",
                           trace, re.M)
        names = [name for name, _ in calls]
        start = names.index("CreateProcessW")
        written = max(i for i in range(start)
                      if names[i] == "WritePrivateProfileStringW")
        self.assertIn("FlushFileBuffers", names[written:start])
        flush = names.index("FlushFileBuffers", written)
        opened = max(i for i in range(flush) if names[i] == "CreateFileW")
        self.assertIn("tolmex.ini", calls[opened][1])
        runs = self.ran()
        self.assertEqual(len(runs), 1)
        self.assertEqual(runs[0][0], f"{self.pub}mart.exe {request}")
        self.assertEqual(runs[0][1:],
                         [k + "=" for k in KEYS] + ["read-only=0"])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "mart.exe")))
        self.assertEqual(self.read_return(),
                         dict({k: "" for k in KEYS}, result="SUCCESS",
                              out_trade_no="ORDER-1"))
        with open(os.path.join(self.dir, "tolmex.ini"), "rb") as f:
            self.assertTrue(f.read().startswith(b"[host]\r\nterminal=7\r\n"))
        logs = os.listdir(os.path.join(self.dir, "logpay"))
        self.assertEqual(len(logs), 1)
        with open(os.path.join(self.dir, "logpay", logs[0]), "rb") as f:
            log = f.read()
        m = re.fullmatch(rb"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d):\d{3}\t(.*)\r\r\n",
                         log, re.S)
        self.assertIsNotNone(m, log)
        self.assertTrue(before <= m.group(1).decode() <= after, log)
        self.assertEqual(m.group(2), LOG_PREFIX + request.encode())

    def test_result_file_held_by_another_program_is_waited_for(self):
        # The platform's writer cannot open the file while another program
        # has it for itself alone (under Wine it does not see byte-range
        # locks): the run waits for it, 5 s at most. So does the log's
        # writer, with P spelled "\\?\..." (where a doubled separator is
        # a name the platform refuses) or with slashes.
        self.client()
        open(os.path.join(self.dir, "tolmex.ini"), "wb").close()
        os.mkdir(os.path.join(self.dir, "logpay"))
        log = "logpay\\" + time.strftime("pay_log%Y%m%d.txt")
        open(os.path.join(self.dir, log.replace("\\", "/")), "wb").close()
        for name, ms, pub in (("tolmex.ini", 2000, self.pub.replace("\\", "/")),
                              (log, 1000, "\\\\?\\" + self.pub)):
            r = self.run_held("H", name, ms, f"pay,{pub},ORDER-1")
            self.assertEqual((r.returncode, r.stderr), (0, b""))
        with open(os.path.join(self.dir, log.replace("\\", "/")), "rb") as f:
            self.assertEqual(f.read().count(b"\r\r\n"), 2)
        # Another program held at mart.exe (others may read it) is no copy
        # of mart.dll: it cannot be replaced, and it does not run.
        shutil.copyfile(PROBE, os.path.join(self.dir, "mart.exe"))
        r = self.run_held("S", "mart.exe", 3000, f"pay,{self.pub},ORDER-1")
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b"is held open there", r.stderr)
        self.assertEqual(len(self.ran()), 2)

    def run_held(self, how, name, ms, *requests):
        """tolmex on each request while the probe holds P's `name` for `ms`;
        the last run's result, or the runs' results for several."""
        jobs, held = (os.path.join(self.dir, n) for n in ("jobs", "held"))
        with open(jobs, "w") as f:
            f.write(f"{how}\t{self.pub}{name}\t{ms}\n")
        with open(held, "wb") as out:
            holder = subprocess.Popen([WINE, PROBE, windows_path(jobs)],
                                      env=ENV, stdout=out)
        try:
            self.assertTrue(within(30, lambda: os.path.getsize(held) > 0))
            runs = [self.run_tolmex(*r) if isinstance(r, tuple) else
                    self.run_tolmex(r) for r in requests]
        finally:
            holder.communicate(timeout=LIMIT)
        with open(held, "rb") as f:
            self.assertEqual(f.read(), how.encode() + b"\t1\r\n")
        return runs if len(runs) > 1 else runs[0]

    def test_check_says_a_problem_exactly_where_a_request_ends_2_to_4(self):
        # Each row: what the directory holds, the request's exit status, and
        # part of its stderr and of the check's findings; --check first
        # must exit 1 exactly where the
        # request ends with 2, 3 or 4, or warns that others could replace
        # P; neither runs anything but this user's copy of mart.dll.
        def chown(*names):
            for name in names:
                os.chown(os.path.join(self.dir, name), 65533, 65533)

        def put(name, source):
            shutil.copyfile(source, os.path.join(self.dir, name))

        def patched(at, value, keep=0xFFFF):
            """The client with the 16 bits at `at` of its PE header: those
            of `keep` kept, or-ed with `value`."""
            with open(CLIENT, "rb") as f:
                image = bytearray(f.read())
            at += int.from_bytes(image[0x3C:0x40], "little")
            word = int.from_bytes(image[at:at + 2], "little")
            image[at:at + 2] = (word & keep | value).to_bytes(2, "little")
            return bytes(image)

        def other(name, content, mode):
            """Another user's file (or, with content None, a link to a
            directory of theirs) at `name`; their bytes are kept in
            "kept" to see that nobody writes them."""
            path = os.path.join(self.dir, name)
            if content is None:
                os.mkdir(os.path.join(self.dir, "theirs"))
                chown("theirs")
                os.symlink(os.path.join(self.dir, "theirs"), path)
            else:
                with open(path, "wb") as f:
                    f.write(content)
                os.chmod(path, mode)
                os.link(path, os.path.join(self.dir, "kept"))
            os.lchown(path, 65533, 65533)

        deep = "d" * (249 - len(self.pub))
        root = os.geteuid() == 0  # only root gives files to another user
        rows = [
            ("a sound directory", lambda: None, "", 0, b""),
            ("P not writable", lambda: None, "Z:\\sys\\", 3, b"cannot write"),
            # Started with its exact UTF-16 line (stderr is not seen), in a
            # locale whose file names take the character (code page 1252).
            ("a P beyond the ANSI code page", lambda: os.mkdir(
                os.path.join(self.dir, "pay-\u0915")) or put(
                    "pay-\u0915/mart.dll", CLIENT), "exact", 0, b""),
            ("a tolmex.ini that is a directory", lambda: os.mkdir(
                os.path.join(self.dir, "tolmex.ini")), "", 3, b"cannot write"),
            # mart.dll's header is judged before it is copied: no program,
            # MS-DOS's, a DLL, another machine's.
            ("a mart.dll that is no program", lambda: self.client(b"x" * 64),
             "", 2, b"mart.dll is no Windows program"),
            ("a mart.dll of MZ and zeros", lambda: self.client(
                b"MZ" + bytes(510)), "", 2, b"has no PE header"),
            ("a mart.dll that is a DLL", lambda: self.client(
                patched(0x16, 0x2000)), "", 2, b"mart.dll is a DLL"),
            ("a mart.dll for another machine", lambda: self.client(
                patched(4, 0xAA64, 0)), "", 2, b"for ARM64, which this system"),
            ("P spelled \\??\\", lambda: None, "nt", 0, b""),
            ("a mart.dll others may change",
             lambda: os.chmod(os.path.join(self.dir, "mart.dll"), 0o666),
             "", 2, b"mart.dll may be changed by Everyone"),
            ("mart.exe a directory", lambda: os.mkdir(
                os.path.join(self.dir, "mart.exe")), "", 2, b"cannot copy"),
            ("a result path of 260 characters", lambda: os.mkdir(
                os.path.join(self.dir, deep)) or put(deep + "/mart.dll", CLIENT),
             deep + "\\", 3, b"cannot write"),
            ("a logpay that is a file", lambda: put("logpay", CLIENT), "", 0,
             b"logged"),
            # Root writes it all the same under Wine.
            ("a read-only tolmex.ini", lambda: put("tolmex.ini", CLIENT) or
             os.chmod(os.path.join(self.dir, "tolmex.ini"), 0o444), "",
             0 if root else 3, b"" if root else b"cannot write"),
            ("a held program of another kind at mart.exe",
             lambda: put("mart.exe", PROBE), "held", 2, b"is held open there"),
            ("a held copy of this user's (another run's) at mart.exe",
             lambda: put("mart.exe", CLIENT), "held", 0, b""),
        ] + ([
            ("a mart.dll of another user", lambda: chown("mart.dll"), "", 2,
             b"mart.dll belongs to "),
            ("another user's copy of mart.dll held at mart.exe",
             lambda: put("mart.exe", CLIENT) or chown("mart.exe"), "held", 2,
             b"only this user's copy is taken over"),
            # What is at mart.exe goes where this run may remove it, or the
            # copy fails naming its owner; their file is never written, a
            # link of theirs (Wine shows directory links alone) never
            # followed.
            ("another user's file at mart.exe", lambda: other(
                "mart.exe", b"THEIRS", 0o666), "", 0, b""),
            ("another user's read-only file at mart.exe", lambda: other(
                "mart.exe", b"THEIRS", 0o444), "", 2,
             b"mart.exe belongs to ANONYMOUS LOGON and is read-only"),
            ("another user's link at mart.exe", lambda: other(
                "mart.exe", None, 0), "", 2, b"mart.exe is a link of ANONYMOUS"),
            ("another user's link at logpay", lambda: other(
                "logpay", None, 0), "", 0, b"logpay is a link of ANONYMOUS"),
            ("an ancestor of P of another user", lambda: os.makedirs(
                os.path.join(self.dir, "shop", "pay")) or put(
                    "shop/pay/mart.dll", CLIENT) or chown("shop"),
             "shop\\pay\\", 0, b"can replace the public directory"),
        ] if root else [])
        for name, setup, where, status, err in rows:
            with self.subTest(name):
                for entry in os.listdir(self.dir):
                    path = os.path.join(self.dir, entry)
                    if os.path.isdir(path) and not os.path.islink(path):
                        shutil.rmtree(path)
                    else:
                        os.remove(path)
                self.client()
                setup()
                pub = where if where.startswith("Z:") else (
                    self.pub + (where if where not in ("held", "exact", "nt")
                                else ""))
                if where == "nt":
                    pub = "\\??\\" + pub
                request = f"pay,{pub},ORDER-1"
                if where == "exact":
                    pub += "pay-\u0915\\"
                    exe = f'"{windows_path(TOLMEX)}" '
                    utf8 = dict(ENV, LANG="C.UTF-8", LC_ALL="C.UTF-8")
                    codes = [self.probe("R", exe + line, utf8) for line in
                             (f'--check "{pub}"', f"pay,{pub},ORDER-1")]
                    check, r = (subprocess.CompletedProcess(
                        "", int(code), b"", b"") for code in codes)
                elif where == "held":
                    check, r = self.run_held("S", "mart.exe", 10000,
                                             ("--check", pub), request)
                else:
                    check = self.run_tolmex("--check", pub)
                    r = self.run_tolmex(request)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(err, r.stderr)
                self.assertIn(err, check.stdout)
                refused = 2 <= r.returncode <= 4 or b"can replace" in r.stderr
                self.assertEqual(check.returncode, int(refused), check.stdout)
                runs = [run for run in self.ran()
                        if run[0].startswith(f"{pub}mart.exe ")]
                self.assertEqual(len(runs), int(status == 0 and
                                                pub.endswith(self.pub)))
                kept, theirs = (os.path.join(self.dir, n)
                                for n in ("kept", "theirs"))
                if os.path.exists(kept):
                    with open(kept, "rb") as f:
                        self.assertEqual(f.read(), b"THEIRS")
                if os.path.exists(theirs):
                    self.assertEqual(os.listdir(theirs), [])
        # P as --check gets it: the rest of the exact line, quoted or not.
        os.mkdir(os.path.join(self.dir, "pos data"))
        put("pos data/mart.dll", CLIENT)
        for line in (f'--check "{self.pub}pos data\\"',
                     f"--check {self.pub}pos data\\"):
            code = self.probe("R", f'"{windows_path(TOLMEX)}" {line}')
            self.assertEqual(code, "0", line)
        self.assertEqual(os.listdir(os.path.join(self.dir, "pos data")),
                         ["mart.dll"])

    def test_blank_in_the_public_directory_starts_exactly_the_copy(self):
        # A program named like the part of the path before the blank is
        # what the platform would try first; the copy must run instead.
        shutil.copyfile(CLIENT, os.path.join(self.dir, "pos.exe"))
        os.mkdir(os.path.join(self.dir, "pos data"))
        shutil.copyfile(CLIENT, os.path.join(self.dir, "pos data", "mart.dll"))
        pub = self.pub + "pos data\\"
        r = self.run_tolmex(f"pay,{pub},ORDER-1")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.ran(), [])
        with open(os.path.join(self.dir, "pos data", "ran.txt"),
                  encoding="utf-8") as f:
            self.assertTrue(f.read().startswith(f"{pub}mart.exe "))
        # The sample client finds its request after the blank, too.
        shutil.copyfile(SAMPLE, os.path.join(self.dir, "pos data", "mart.dll"))
        r = self.run_tolmex(f"pay,{pub},O-1,12.50")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual([self.read_return(pub)[k] for k in KEYS[::4]],
                         ["SUCCESS", "O-1"])

    def test_what_the_client_starts_outlives_only_a_normal_end(self):
        self.client()
        shutil.copyfile(CLIENT, os.path.join(self.dir, "helper.exe"))
        helper_done = os.path.join(self.dir, "helper.txt")
        # A normal end: the helper goes on and writes its file, named in a
        # warning and in the event (Wine's trace shows it); one that broke
        # away from the job is not counted.
        for job, left in (("helper", 1), ("away", 0)):
            r = self.run_tolmex(f"pay,{self.pub},ORDER-1,{job}",
                                env=dict(ENV, WINEDEBUG="+eventlog"))
            self.assertEqual(r.returncode, 0, r.stderr)
            warning = (rb"warning: the client left 1 process running "
                       rb"\(helper\.exe \(pid \d+\)\); tolmex neither waits")
            self.assertEqual(len(re.findall(b"tolmex: " + warning, r.stderr)),
                             left, r.stderr)
            self.assertEqual(len(re.findall(rb'ReportEventW L"[^\n]*' +
                                            warning, r.stderr)), left)
            self.assertTrue(within(10, lambda: os.path.exists(helper_done)))
            os.remove(helper_done)
        def killed_while_waiting(order, job):
            run = subprocess.Popen(
                [WINE, TOLMEX, f"pay,{self.pub},{order},{job}"], env=ENV,
                stderr=subprocess.PIPE)
            runs = int(order[-1])
            self.assertTrue(within(30, lambda: len(self.ran()) == runs))
            run.kill()
            run.communicate(timeout=LIMIT)

        # tolmex killed while it waits: the client and its helper end too.
        killed_while_waiting("ORDER-2", "helper-wait")
        time.sleep(4)
        self.assertFalse(os.path.exists(helper_done))
        # A helper the client started out of its job outlives the kill.
        killed_while_waiting("ORDER-3", "away-wait")
        self.assertTrue(within(10, lambda: os.path.exists(helper_done)))

    def test_installer_serves_a_request_and_uninstalls_cleanly(self):
        if not MSI:
            self.skipTest("no installer: no wixl (.ci/run installs it)")
        home = os.path.join(ENV["WINEPREFIX"], "drive_c/Program Files/tolmex")
        key = (r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application"
               r"\tolmex")
        wine = lambda *args: subprocess.run(
            [WINE, *args], env=ENV, timeout=LIMIT, capture_output=True)
        msiexec = lambda how, msi=MSI: wine("msiexec", how,
                                            windows_path(msi), "/qn")
        products = lambda: re.findall(rb"(DisplayName|InstallLocation) +"
                                      rb"REG_SZ +(.*?)\r", wine(
            "reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion"
            r"\Uninstall", "/s").stdout)
        self.assertEqual(msiexec("/i").returncode, 0)
        installed = MSI
        try:
            self.assertEqual(sorted(os.listdir(home)),
                             ["README.txt", "tolmex.exe", "tolmex.txt"])
            self.assertEqual(wine("reg", "query", key).stdout
                             .split()[-6:], [b"REG_SZ", b"C:\\Program",
                             b"Files\\tolmex\\tolmex.exe", b"TypesSupported",
                             b"REG_DWORD", b"0x7"])
            self.client()
            r = wine(r"C:\Program Files\tolmex\tolmex.exe",
                     f"pay,{self.pub},ORDER-1")
            self.assertEqual((r.returncode, len(self.ran())), (0, 1), r.stderr)
            # The other architecture's package (this one with that one's
            # codes and name) replaces it: one product, the key kept.
            other, name = self.other_architecture(products()[0][1])
            self.assertEqual(msiexec("/i", other).returncode, 0)
            installed = other
            self.assertEqual(products(), [
                (b"DisplayName", name),
                (b"InstallLocation", b"C:\\Program Files\\tolmex\\")])
            self.assertIn(b"Files\\tolmex\\tolmex.exe",
                          wine("reg", "query", key).stdout)
        finally:
            self.assertEqual(msiexec("/x", installed).returncode, 0)
        self.assertFalse(os.path.exists(home))
        self.assertNotEqual(wine("reg", "query", key).returncode, 0)

    def other_architecture(self, name):
        """A copy of MSI that stands for the other architecture's package of
        the same version (its upgrade code, a product code and name of its
        own, replacing this architecture's), and its product name."""
        other = os.path.join(self.dir, "other.msi")
        shutil.copyfile(MSI, other)
        tables = {t: subprocess.run(["msiinfo", "export", MSI, t], check=True,
                                    capture_output=True, text=True).stdout
                  for t in ("Property", "Upgrade")}
        own = re.search(r"UpgradeCode\t(\S+)", tables["Property"]).group(1)
        code = re.search(r"(\S+)\t.*TOLMEX_OTHER", tables["Upgrade"]).group(1)
        name = name.replace(b"64-bit", b"xx").replace(b"32-bit", b"64-bit")
        name = name.replace(b"xx", b"32-bit")
        q = "UPDATE `Property` SET `Value` = '%s' WHERE `Property` = '%s'"
        subprocess.run(["msibuild", other,
                        "-q", q % (code, "UpgradeCode"),
                        "-q", q % ("{" + str(uuid.uuid4()).upper() + "}",
                                   "ProductCode"),
                        "-q", q % (name.decode(), "ProductName"),
                        "-q", "INSERT INTO `Upgrade` (`UpgradeCode`, "
                        "`VersionMin`, `Attributes`, `ActionProperty`) VALUES "
                        f"('{own}', '0.0.0', 256, 'TOLMEX_OTHER_ARCHITECTURE')"],
                       check=True, timeout=LIMIT)
        return other, name

    def test_read_only_client_is_served_again_and_again(self):
        # CopyFileW carries the read-only attribute over to the copy; the
        # client runs from a copy without it.
        self.client()
        os.chmod(os.path.join(self.dir, "mart.dll"), 0o444)
        for order in ("ORDER-1", "ORDER-2"):
            r = self.run_tolmex(f"pay,{self.pub},{order}")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.dir, "mart.exe")))
        self.assertEqual([run[-1] for run in self.ran()], ["read-only=0"] * 2)

    def test_log_line_that_does_not_fit_is_taken_back(self):
        # A file size limit stands in for a full disk: the record is cut
        # after 8 bytes, and those are taken back.
        self.client()
        os.mkdir(os.path.join(self.dir, "logpay"))
        log = os.path.join(self.dir, "logpay", time.strftime("pay_log%Y%m%d.txt"))
        with open(log, "wb") as f:
            size = f.write(b"x" * (2 << 20) + b"\r\n")
        r = subprocess.run([WINE, TOLMEX, f"pay,{self.pub},ORDER-1"], env=ENV,
                           capture_output=True, timeout=LIMIT, preexec_fn=lambda: (
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN),
            resource.setrlimit(resource.RLIMIT_FSIZE, (size + 8, size + 8))))
        self.assertEqual((r.returncode, os.path.getsize(log)), (0, size))
        # The reason is the full disk's ("磁盘满"), not an earlier call's.
        self.assertIn("tolmex: warning: the request was not logged: cannot "
                      "write a line: 磁盘".encode("gbk"), r.stderr)

    def test_client_line_too_long_for_windows_ends_with_4(self):
        # tolmex's own line fits; the client's, with a longer directory in
        # front of the same request, has room for 32,766 characters and its
        # NUL: one more is refused, never cut.
        # (P + "tolmex.ini" within the 259 characters Windows takes)
        deep = os.path.join(self.dir, "p" * (245 - len(self.pub)))
        os.mkdir(deep)
        shutil.copyfile(CLIENT, os.path.join(deep, "mart.dll"))
        pub = windows_path(deep) + "\\"
        head = f"pay,{pub},ORDER-1,"
        size = 32767 - len(f"{pub}mart.exe {head}")
        r = self.run_tolmex(head + "9" * size)
        self.assertEqual(r.returncode, 4, r.stderr)
        self.assertIn(b"its command line of 32767 characters is longer than "
                      b"Windows allows", r.stderr)
        r = self.run_tolmex(head + "9" * (size - 1))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(deep, "ran.txt"), encoding="utf-8") as f:
            self.assertEqual([len(line.split("\t")[0]) for line in f], [32766])

    def test_result_is_what_the_platform_reads_and_the_event_carries_it(self):
        # --result on each shape of the dialect prints the JSON that the
        # probe makes of GetPrivateProfileStringW's values; a UTF-16 file of
        # an odd size is refused with 3.
        text = ("[return]\r\nresult=SUCCESS\r\nsub_desc=支付成功\r\n"
                "out_trade_no=O-1\r\n")
        rows = [text.encode("gbk"), text.encode("utf-8-sig"),
                b"\xff\xfe" + text.encode("utf-16-le"),
                b"\xfe\xff" + text.encode("utf-16-be"),
                text.encode("utf-16-le"),  # no mark: 8-bit text with NULs
                b"[return]\r\nresult=A\r\n[return]\r\nresult=B\r\n",
                b" [ Return ]\rResult\t= 'q' \x1a\rsub_code\rsub_code=1\r",
                b"\xff\xfe[\x00r\x00]"]
        with open(os.path.join(self.dir, "jobs"), "w") as jobs:
            for i, row in enumerate(rows):
                os.mkdir(os.path.join(self.dir, f"p{i}"))
                with open(os.path.join(self.dir, f"p{i}", "tolmex.ini"),
                          "wb") as f:
                    f.write(row)
                jobs.write(f"J\t{self.pub}p{i}\\tolmex.ini\n")
        out = subprocess.run([WINE, PROBE, windows_path(jobs.name)], env=ENV,
                             capture_output=True, timeout=LIMIT, check=True)
        read = [line.split(b"\t", 1)[1] for line in out.stdout.splitlines()]
        read[-1] = b""  # what Wine reads past the end is not compared
        for i, row in enumerate(rows):
            r = self.run_tolmex("--result", f"{self.pub}p{i}\\")
            self.assertEqual((r.returncode, r.stdout.strip()),
                             (3 if i == len(rows) - 1 else 0, read[i]),
                             (row, r.stderr))
        # The guard; the order given after a P with a blank, quoted.
        os.rename(os.path.join(self.dir, "p0"), os.path.join(self.dir, "p 0"))
        exe = windows_path(TOLMEX)
        for line, code in ((f'"{self.pub}p 0\\" O-1', "0"),
                           (f'{self.pub}p 0\\ O-2', "5"),
                           (f'"{self.pub}p 0\\" ""', "5")):
            self.assertEqual(self.probe("R", f'"{exe}" --result {line}'), code,
                             line)
        # The event of a payment: the outcome as its last five strings,
        # nothing of the buyer's, no sub_desc.
        shutil.copyfile(SAMPLE, os.path.join(self.dir, "mart.dll"))
        r = self.run_tolmex(f"pay,{self.pub},ORDER-7,7.50",
                            env=dict(ENV, WINEDEBUG="+eventlog"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(re.findall(rb'ReportEventW L"(.*)"', r.stderr)[-5:],
                         [b"SUCCESS", b"0", b"T-0001", b"ORDER-7", b"7.50"])
        self.assertNotIn(b"buyer", r.stderr)
        self.assertNotIn(b"\\652f\\4ed8", r.stderr)  # 支付, as Wine shows it

    def test_client_that_cannot_start_ends_with_4(self):
        # A program's headers without the rest of it.
        with open(CLIENT, "rb") as f:
            self.client(f.read(1024))
        # Wine keeps no event log to read back; its trace shows the event's
        # text (a backslash doubled, others as \HHHH): the path with its
        # own backslashes.
        r = self.run_tolmex(f"pay,{self.pub},ORDER-1",
                            env=dict(ENV, WINEDEBUG="+eventlog"))
        self.assertEqual(r.returncode, 4, r.stderr)
        event = rb'ReportEventW L"public directory \\"%s\\", exit status %d'
        shown = self.pub.replace("\\", "\\\\").encode()
        self.assertRegex(r.stderr, event % (re.escape(shown), 4) +
                         rb', client not run, \d+ ms"')
        # The system's text names the program where it has an insert.
        self.assertRegex(r.stderr, rb"tolmex: cannot start (.+mart\.exe): "
                         rb"[^%\n]*\1[^%\n]*\n")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "mart.exe")))
        # A P with a character beyond the ANSI code page (GBK), given in the
        # exact UTF-16 of the command line: no file of it can be opened by
        # its ANSI name, yet the event keeps the character.
        pub = self.pub + "kasse-한\\"
        code = self.probe("R", f'"{windows_path(TOLMEX)}" pay,{pub},ORDER-1',
                          env=dict(ENV, WINEDEBUG="+eventlog"))
        self.assertEqual(code, "3", self.probe_err)
        shown = pub.replace("\\", "\\\\").replace("한", "\\d55c").encode()
        self.assertRegex(self.probe_err, event % (re.escape(shown), 3))

    def test_missing_client_shows_the_box_and_ends_with_2(self):
        tools = [shutil.which(t) for t in ("Xvfb", "xdotool", "xwininfo")]
        if not all(tools):
            self.skipTest("needs Xvfb, xdotool and xwininfo (.ci/run installs "
                          "them)")
        # The earlier rows' Wine desktop has no display and outlives them
        # for a while: this run starts one on the display below once theirs
        # has ended, and ends it before the display goes.
        wine_idle()
        x, ready, display = start_display(tools[0])
        run = None
        try:
            self.assertTrue(display, "Xvfb did not start")
            x_env = dict(os.environ, DISPLAY=display, LC_ALL="C.UTF-8")
            run = subprocess.Popen(
                [WINE, TOLMEX, f"pay,{self.pub},ORDER-1"],
                env=dict(ENV, DISPLAY=display), stderr=subprocess.PIPE)
            window = ""
            for _ in range(300):
                tree = subprocess.run([tools[2], "-root", "-tree"], env=x_env,
                                      capture_output=True).stdout.decode()
                titled = [line.split()[0] for line in tree.splitlines()
                          if '"系统错误"' in line]
                window = titled[0] if titled else ""
                if window or run.poll() is not None:
                    break
                time.sleep(0.1)
            self.assertTrue(window, "no window titled 系统错误")
            self.assertIsNone(run.poll(), "tolmex did not wait for the box")
            # Return on the box's OK button; again until the box is gone,
            # as a window that is not mapped yet refuses the focus.
            for _ in range(60):
                try:
                    subprocess.run([tools[1], "windowfocus", "--sync", window,
                                    "key", "Return"], env=x_env, timeout=5,
                                   capture_output=True)
                except subprocess.TimeoutExpired:
                    pass
                try:
                    run.wait(timeout=0.5)
                    break
                except subprocess.TimeoutExpired:
                    pass
            err = run.communicate(timeout=LIMIT)[1]
            self.assertEqual(run.returncode, 2, err)
            self.assertIn(b"tolmex: cannot copy ", err)
        finally:
            if run is not None and run.poll() is None:
                run.kill()
                run.communicate()
            os.close(ready)
            wine_idle()
            x.terminate()
            x.wait()

    def test_fifty_runs_at_once_each_run_the_client_once(self):
        self.client()
        runs = [subprocess.Popen([WINE, TOLMEX, f"pay,{self.pub},ORDER-{i}"],
                                 env=ENV, stderr=subprocess.PIPE)
                for i in range(50)]
        for i, run in enumerate(runs):
            err = run.communicate(timeout=LIMIT * 3)[1]
            self.assertEqual(run.returncode, 0, f"run {i}: {err}")
        orders = sorted(line[0].rsplit(",", 1)[1] for line in self.ran())
        self.assertEqual(orders, sorted(f"ORDER-{i}" for i in range(50)))
        logs = os.listdir(os.path.join(self.dir, "logpay"))
        with open(os.path.join(self.dir, "logpay", logs[0]), "rb") as f:
            self.assertEqual(f.read().count(b"\r\r\n"), 50)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["logpay", "mart.dll", "ran.txt", "tolmex.ini"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
