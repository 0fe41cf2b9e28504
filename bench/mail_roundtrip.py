#!/usr/bin/env python3
"""Mail round trip against the loopback Postfix + Dovecot: our SMTP/POP3 clients
(bench_mail_roundtrip) against Python's smtplib/poplib in the same run.

  bench/mail_roundtrip.py [--build DIR] [--count N] [--size KIB] [--big MIB] [--repeat R]
  bench/mail_roundtrip.py --tls [--build DIR] [--count N] [--size KIB] [--repeat R]

Leg 1: N letters with one SIZE KiB attachment over one SMTP connection (pipelining on, and
off for our client; smtplib never pipelines). Leg 2: the same N letters fetched back over one
POP3 connection, attachments decoded into temporary files. Then the peak memory (maximum
resident set) of one letter with a BIG MiB attachment sent and fetched, against each
client's own baseline process. Uses the server of scripts/test when TZN_SMTP_PORT is set,
otherwise starts a private one with scripts/mailserver.

With --tls: our clients only, the same N letters out and back over implicit TLS and over
plain TCP in the same run, and the overhead ratio TLS / plain of each leg.
"""
import argparse
import email
import email.message
import email.policy
import os
import poplib
import resource
import shutil
import smtplib
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


# ---- the Python peer (run as a child process, so its memory is measured alike) ------------

def peak_kib():
    """Peak resident memory of this process image (VmHWM counts from exec on)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def peer_send(count, path, host, port, user, password, to):
    with open(path, "rb") as f:
        data = f.read()
    start = time.perf_counter()
    s = smtplib.SMTP(host, port)
    s.ehlo()
    s.login(user, password)
    for i in range(count):
        m = email.message.EmailMessage()
        m["From"] = '"Bench" <%s>' % to
        m["To"] = to
        m["Subject"] = "TZN-Office bench %d" % (i + 1)
        m.add_attachment(data, maintype="application", subtype="octet-stream",
                         filename=os.path.basename(path))
        s.sendmail(to, [to], m.as_bytes(policy=email.policy.SMTP))
    s.quit()
    print("%.6f %d" % (time.perf_counter() - start, peak_kib()))


def peer_fetch(host, port, user, password):
    start = time.perf_counter()
    p = poplib.POP3(host, port)
    p.user(user)
    p.pass_(password)
    n, _ = p.stat()
    total = 0
    tmpdir = tempfile.mkdtemp(prefix="tznpy")
    for i in range(1, n + 1):
        _, lines, _ = p.retr(i)
        msg = email.message_from_bytes(b"\r\n".join(lines))
        for part in msg.walk():
            if part.get_content_disposition() == "attachment":
                payload = part.get_payload(decode=True)
                fd, name = tempfile.mkstemp(dir=tmpdir)
                with os.fdopen(fd, "wb") as f:
                    f.write(payload)
                total += len(payload)
                os.unlink(name)
    p.quit()
    os.rmdir(tmpdir)
    print("%.6f %d %d %d" % (time.perf_counter() - start, n, total, peak_kib()))


# ---- the driver -----------------------------------------------------------------------------

def run_timed(cmd, env):
    """Runs a client process; returns its printed words, its peak RSS in KiB (the last word
    it prints) and its CPU time (user + system) from its rusage."""
    p = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = p.stdout.read()
    err = p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise RuntimeError("%s failed: %s" % (cmd[:2], err.decode(errors="replace")))
    words = out.decode().split()
    return words, int(words[-1]), usage.ru_utime + usage.ru_stime


class Server:
    def __init__(self):
        self.dir = None
        if not os.environ.get("TZN_SMTP_PORT"):
            self.dir = tempfile.mkdtemp(prefix="tznms.", dir="/tmp")
            subprocess.run([os.path.join(ROOT, "scripts", "mailserver"), "start", self.dir],
                           check=True)
            with open(os.path.join(self.dir, "env")) as f:
                for line in f:
                    k, v = line.replace("export ", "", 1).strip().split("=", 1)
                    os.environ[k] = v.strip("'")
        self.smtp = int(os.environ["TZN_SMTP_PORT"])
        self.pop3 = int(os.environ["TZN_POP3_PORT"])
        self.domain = os.environ["TZN_MAIL_DOMAIN"]
        self.users = [u.split(":", 1) for u in os.environ["TZN_MAIL_USERS"].split()]

    def stop(self):
        if self.dir:
            subprocess.run([os.path.join(ROOT, "scripts", "mailserver"), "stop", self.dir])
            shutil.rmtree(self.dir, ignore_errors=True)

    def count(self, user):
        p = poplib.POP3("127.0.0.1", self.pop3)
        p.user(user[0])
        p.pass_(user[1])
        n = p.stat()[0]
        p.quit()
        return n

    def empty(self, user):
        p = poplib.POP3("127.0.0.1", self.pop3)
        p.user(user[0])
        p.pass_(user[1])
        for i in range(1, p.stat()[0] + 1):
            p.dele(i)
        p.quit()

    def wait_for(self, user, n, timeout=300):
        until = time.time() + timeout
        while self.count(user) < n:
            if time.time() > until:
                raise RuntimeError("delivery of %d letters to %s timed out" % (n, user[0]))
            time.sleep(0.1)


def tls_vs_plain(args, n, small, ours, server, user, addr):
    best = {}
    for _ in range(args.repeat):
        for label, flag in (("plain", "0"), ("tls", "1")):
            os.environ["TZN_BENCH_TLS"] = flag
            sent = ours("send", user, addr, str(n), small)
            server.wait_for(user, n)
            got = ours("fetch", user, addr)
            if int(got[0][1]) != n or int(got[0][2]) != n * args.size * 1024:
                raise RuntimeError("fetched %s letters / %s bytes, expected %d" %
                                   (got[0][1], got[0][2], n))
            server.empty(user)
            row = (float(sent[0][0]), float(got[0][0]), sent[2], got[2])
            old = best.get(label)
            best[label] = row if old is None else tuple(map(min, old, row))
    os.environ.pop("TZN_BENCH_TLS", None)
    print("\n%d letters with a %d KiB attachment, one connection each way, best of %d" %
          (n, args.size, args.repeat))
    print("%-10s %9s %9s %9s %9s" % ("", "send s", "fetch s", "send CPU", "fetch CPU"))
    for label in ("plain", "tls"):
        print("%-10s %9.3f %9.3f %9.3f %9.3f" % ((label,) + best[label]))
    print("%-10s %9.2f %9.2f %9.2f %9.2f" %
          (("ratio",) + tuple(t / p for t, p in zip(best["tls"], best["plain"]))))
    print("(ratio = TLS / plain; 1.00 means no overhead)")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--peer":
        a = sys.argv[2:]
        if a[0] == "send":
            peer_send(int(a[1]), a[2], a[3], int(a[4]), a[5], a[6], a[7])
        else:
            peer_fetch(a[1], int(a[2]), a[3], a[4])
        return

    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--count", type=int, default=500)
    ap.add_argument("--size", type=int, default=100, help="attachment KiB")
    ap.add_argument("--big", type=int, default=64, help="MiB of the memory letter")
    ap.add_argument("--repeat", type=int, default=3, help="runs per leg; the best counts")
    ap.add_argument("--tls", action="store_true", help="ours over TLS against ours plain")
    args = ap.parse_args()
    ours_bin = os.path.join(args.build, "bench_mail_roundtrip")
    if not os.access(ours_bin, os.X_OK):
        sys.exit("no %s: build the bench_mail_roundtrip target" % ours_bin)

    server = Server()
    work = tempfile.mkdtemp(prefix="tznbench")
    try:
        # Mailboxes at the end of the list, away from the tests' users.
        ours_user, py_user = server.users[-1], server.users[-2]
        ours_addr = "%s@%s" % (ours_user[0], server.domain)
        py_addr = "%s@%s" % (py_user[0], server.domain)
        for u in (ours_user, py_user):
            server.empty(u)

        def ours_env(user, addr):
            env = dict(os.environ)
            env.update(TZN_BENCH_HOST="127.0.0.1", TZN_BENCH_USER=user[0],
                       TZN_BENCH_PASS=user[1], TZN_BENCH_TO=addr)
            return env

        def ours(mode, user, addr, *extra):
            return run_timed([ours_bin, mode, *extra], ours_env(user, addr))

        def python(mode, user, addr, *extra):
            peer = [sys.executable, os.path.abspath(__file__), "--peer", mode]
            if mode == "send":
                cmd = peer + [extra[0], extra[1], "127.0.0.1", str(server.smtp), user[0],
                              user[1], addr]
            else:
                cmd = peer + ["127.0.0.1", str(server.pop3), user[0], user[1]]
            return run_timed(cmd, dict(os.environ))

        small = os.path.join(work, "report-100k.dat")
        with open(small, "wb") as f:
            f.write(os.urandom(args.size * 1024))

        n = args.count
        if args.tls:
            tls_vs_plain(args, n, small, ours, server, ours_user, ours_addr)
            return
        configs = (("pipelining on", []), ("pipelining off", ["--no-pipelining"]))
        best = {}
        # The machine may be busy: every leg runs --repeat times, alternating between the
        # clients, and the fastest run of each counts.
        for _ in range(args.repeat):
            for label, extra in configs:
                t_ours, _, c_so = ours("send", ours_user, ours_addr, str(n), small, *extra)
                server.wait_for(ours_user, n)
                t_py, _, c_sp = python("send", py_user, py_addr, str(n), small)
                server.wait_for(py_user, n)
                f_ours, _, c_fo = ours("fetch", ours_user, ours_addr)
                f_py, _, c_fp = python("fetch", py_user, py_addr)
                for got in (f_ours, f_py):
                    if int(got[1]) != n or int(got[2]) != n * args.size * 1024:
                        raise RuntimeError("fetched %s letters / %s bytes, expected %d" %
                                           (got[1], got[2], n))
                server.empty(ours_user)
                server.empty(py_user)
                row = (float(t_ours[0]), float(t_py[0]), float(f_ours[0]), float(f_py[0]),
                       c_so, c_sp, c_fo, c_fp)
                old = best.get(label)
                best[label] = row if old is None else tuple(map(min, old, row))

        print("\n%d letters with a %d KiB attachment, one connection each way, best of %d" %
              (n, args.size, args.repeat))
        print("%-15s %8s %9s %6s   %8s %9s %6s   %s" %
              ("wall time", "ours s", "smtplib s", "ratio", "ours s", "poplib s", "ratio",
               "(send | fetch)"))
        for label, _ in configs:
            so, sp, fo, fp = best[label][:4]
            print("%-15s %8.3f %9.3f %6.2f   %8.3f %9.3f %6.2f" % (label, so, sp, sp / so, fo,
                                                                fp, fp / fo))
        print("%-15s %8s %9s %6s   %8s %9s %6s" %
              ("client CPU", "ours s", "smtplib s", "ratio", "ours s", "poplib s", "ratio"))
        for label, _ in configs:
            so, sp, fo, fp = best[label][4:]
            print("%-15s %8.3f %9.3f %6.2f   %8.3f %9.3f %6.2f" % (label, so, sp, sp / so, fo,
                                                                fp, fp / fo))
        print("(ratio = Python / ours; above 1 means ours is faster; smtplib never pipelines)")

        # Peak memory for one big letter, each way, against the process's own baseline.
        big = os.path.join(work, "big.dat")
        with open(big, "wb") as f:
            for _ in range(args.big):
                f.write(os.urandom(1 << 20))
        base_ours = ours("baseline", ours_user, ours_addr)[1]
        send_ours = ours("send", ours_user, ours_addr, "1", big)[1]
        server.wait_for(ours_user, 1)
        fetch_ours = ours("fetch", ours_user, ours_addr)[1]
        server.empty(ours_user)
        base_py = run_timed([sys.executable, "-c",
                             "import smtplib, poplib, email, email.policy, sys; "
                             "sys.path.insert(0, %r); import mail_roundtrip as m; "
                             "print(0, m.peak_kib())" % os.path.dirname(__file__)],
                            dict(os.environ))[1]
        send_py = python("send", py_user, py_addr, "1", big)[1]
        server.wait_for(py_user, 1)
        fetch_py = python("fetch", py_user, py_addr)[1]
        server.empty(py_user)
        mib = lambda kib: kib / 1024.0
        print("\npeak memory, one letter with a %d MiB attachment (MiB above baseline)" % args.big)
        print("%-8s %9s %9s %9s" % ("", "baseline", "send", "fetch"))
        print("%-8s %9.1f %9.1f %9.1f" % ("ours", mib(base_ours), mib(send_ours - base_ours),
                                         mib(fetch_ours - base_ours)))
        print("%-8s %9.1f %9.1f %9.1f" % ("python", mib(base_py), mib(send_py - base_py),
                                         mib(fetch_py - base_py)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        server.stop()


if __name__ == "__main__":
    main()
