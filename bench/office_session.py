#!/usr/bin/env python3
"""A full office session against the loopback Postfix + Dovecot (bench_office_session)
against a Python script doing the same with poplib + email, in the same run.

  bench/office_session.py [--build DIR] [--count N] [--size KIB] [--big MIB] [--repeat R]

Timing: N letters tagged "TZN-Office", each with its own SIZE KiB attachment, are deposited
over SMTP into one mailbox before every run (the same letters each time). Our session
collects them (retrieval, processing with the host's import, a copy in the InBox, deletion);
the Python peer RETRs each, parses it, saves its attachments to a folder and DELEs it. Every
saved file is checked byte for byte and the mailbox must be empty afterwards. Best of R.

Memory: one letter with a BIG MiB attachment collected by a session, its peak resident
memory against a session of the same program on an empty mailbox; it must stay under 32 MiB.

Uses the server of scripts/test when TZN_SMTP_PORT is set, otherwise starts a private one.
On an ext4 without a journal, creating files is slow for about half a minute after many were
deleted nearby (the end of a previous run deletes thousands): leave that long between runs.
"""
import argparse
import email
import email.message
import email.policy
import email.utils
import os
import poplib
import random
import resource
import shutil
import smtplib
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mail_roundtrip import ROOT, Server  # noqa: E402

LIMIT_MIB = 32  # a session's peak memory above its baseline, whatever the letter's size


def deposit(server, user, addr, files):
    """One SMTP connection, one letter per (name, data); waits until all are in the box."""
    s = smtplib.SMTP("127.0.0.1", server.smtp)
    s.ehlo()
    s.login(user[0], user[1])
    for i, (name, data) in enumerate(files):
        m = email.message.EmailMessage()
        m["From"] = '"Station 12" <%s>' % addr
        m["To"] = addr
        m["Subject"] = "TZN-Office report %d" % (i + 1)
        m["Message-ID"] = email.utils.make_msgid()
        m.set_content("data follows")
        m.add_attachment(data, maintype="application", subtype="octet-stream", filename=name)
        s.sendmail(addr, [addr], m.as_bytes(policy=email.policy.SMTP))
    s.quit()
    server.wait_for(user, len(files))
    # The server's copies reach the disk before a timed session starts: otherwise the
    # session that syncs first pays for writing the deposit as well as its own letters.
    os.sync()


def python_session(server, user, folder):
    """The peer: the office's collection as a short script would do it. Wall and CPU
    seconds."""
    start, cpu = time.perf_counter(), time.process_time()
    p = poplib.POP3("127.0.0.1", server.pop3)
    p.user(user[0])
    p.pass_(user[1])
    n, _ = p.stat()
    for i in range(1, n + 1):
        _, lines, _ = p.retr(i)
        msg = email.message_from_bytes(b"\r\n".join(lines))
        if "TZN-OFFICE" not in str(msg["Subject"]).upper():
            continue
        for part in msg.walk():
            if part.get_content_disposition() == "attachment":
                name = os.path.basename(part.get_filename() or "attachment.dat")
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(part.get_payload(decode=True))
        p.dele(i)
    p.quit()
    return time.perf_counter() - start, time.process_time() - cpu


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def our_session(binary, server, user, root, folder):
    """Wall seconds of the session, letters received, files imported, peak KiB, and the CPU
    seconds of the whole process (start-up included)."""
    env = dict(os.environ, TZN_BENCH_HOST="127.0.0.1", TZN_BENCH_USER=user[0],
               TZN_BENCH_PASS=user[1], TZN_POP3_PORT=str(server.pop3),
               TZN_SMTP_PORT=str(server.smtp))
    cpu = children_cpu()
    p = subprocess.run([binary, root, folder], env=env, capture_output=True)
    cpu = children_cpu() - cpu
    if p.returncode != 0:
        raise RuntimeError("session failed: %s" % p.stderr.decode(errors="replace"))
    seconds, received, imported, errors, peak = p.stdout.split()
    if int(errors):
        raise RuntimeError("session logged errors:\n%s" % p.stderr.decode("cp1251"))
    return float(seconds), int(received), int(imported), int(peak), cpu


def check_saved(folder, files, who):
    names = sorted(os.listdir(folder))
    if names != sorted(n for n, _ in files):
        raise RuntimeError("%s saved %d files, expected %d" % (who, len(names), len(files)))
    for name, data in files:
        with open(os.path.join(folder, name), "rb") as f:
            if f.read() != data:
                raise RuntimeError("%s: %s differs from the attachment sent" % (who, name))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--size", type=int, default=100, help="attachment KiB")
    ap.add_argument("--big", type=int, default=64, help="MiB of the memory letter")
    ap.add_argument("--repeat", type=int, default=3, help="runs each; the best counts")
    args = ap.parse_args()
    binary = os.path.join(args.build, "bench_office_session")
    if not os.access(binary, os.X_OK):
        sys.exit("no %s: build the bench_office_session target" % binary)

    print("load average at start: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
    server = Server()
    work = tempfile.mkdtemp(prefix="tznoffice")
    try:
        # Away from the tests' mailboxes and from the round trip benchmark's two.
        user = server.users[-3]
        addr = "%s@%s" % (user[0], server.domain)
        server.empty(user)
        rng = random.Random(1251)
        files = [("report-%03d.dat" % (i + 1), rng.randbytes(args.size * 1024))
                 for i in range(args.count)]

        def fresh(label):
            d = tempfile.mkdtemp(prefix=label, dir=work)
            os.mkdir(os.path.join(d, "out"))
            return d, os.path.join(d, "out")

        def after(folder, expected, who):
            check_saved(folder, expected, who)
            if server.count(user):
                raise RuntimeError("%s left letters on the server" % who)

        # Each run's files stay until the end. On an ext4 without a journal, creating a file
        # skips every inode of its group freed in the last half minute, one inode table look-up
        # each, so deleting a run's hundreds of files just before the next would make file
        # creation in that run cost what the deletion left behind rather than what it does
        # itself; an office does not delete thousands of files right before collecting.
        ours, peer = [], []
        for _ in range(args.repeat):
            deposit(server, user, addr, files)
            root, out = fresh("ours")
            t, received, imported, _, cpu = our_session(binary, server, user, root, out)
            if received != args.count or imported != args.count:
                raise RuntimeError("session received %d, imported %d of %d" %
                                   (received, imported, args.count))
            after(out, files, "session")
            ours.append((t, cpu))

            deposit(server, user, addr, files)
            root, out = fresh("py")
            peer.append(python_session(server, user, out))
            after(out, files, "python")

        print("\n%d letters with a %d KiB attachment each, one mailbox, best of %d" %
              (args.count, args.size, args.repeat))
        print("%-16s %8s %8s   %s" % ("", "wall s", "CPU s", "wall time of each run"))
        for label, runs in (("our session", ours), ("poplib + email", peer)):
            print("%-16s %8.3f %8.3f   %s" % (label, min(r[0] for r in runs),
                                             min(r[1] for r in runs),
                                             " ".join("%.3f" % r[0] for r in runs)))
        print("%-16s %8.2f %8.2f" % (("ratio",) + tuple(
            min(r[k] for r in peer) / min(r[k] for r in ours) for k in (0, 1))))
        print("(ratio = python / ours, above 1: ours is faster. Ours also keeps an InBox copy of"
              " each letter, flushes it and the mailbox journal to disk, and logs every step)")

        root, out = fresh("base")
        base = our_session(binary, server, user, root, out)[3]
        big = [("big.dat", os.urandom(args.big << 20))]
        deposit(server, user, addr, big)
        root, out = fresh("big")
        _, received, _, peak, _ = our_session(binary, server, user, root, out)
        after(out, big, "session")
        above = (peak - base) / 1024.0
        print("\npeak memory of a session collecting one %d MiB attachment: %.1f MiB above "
              "an empty session's %.1f MiB (limit %d MiB)" %
              (args.big, above, base / 1024.0, LIMIT_MIB))
        if received != 1 or above >= LIMIT_MIB:
            sys.exit("FAILED: memory above the limit or the letter not received")
    finally:
        shutil.rmtree(work, ignore_errors=True)
        server.stop()
        print("load average at end: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
