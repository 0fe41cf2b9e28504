#!/usr/bin/env python3
"""Delivery over one SMTP connection against Postfix's own load generator, smtp-source, on
the same loopback server in the same run.

  bench/smtp_source_ratio.py [--build DIR] [--count N] [--size KIB] [--repeat R] [--no-tool]
                             [--tool-tunables GLIBC_TUNABLES]

Each run delivers N letters with one SIZE KiB attachment (about 141 KB on the wire for the
default 100 KiB) over one connection:
  ours      bench_mail_roundtrip send: the mail layer, letters built in memory, log-in included
  tznmail   `tznmail send` of N stored letters (read from their files as a delivery run does;
            skipped with --no-tool or without the tool binary), log-in included
  tznmail*  the same with GLIBC_TUNABLES set as given (--tool-tunables): how much of the
            tool's time the C library's heap handling takes
  smtp-src  smtp-source -d with a payload of the same size, no log-in, no pipelining
Times are whole-process wall times, so both sides pay their start-up; every run waits until
all letters are in the mailbox and empties it. The best of R runs counts. Needs
/usr/sbin/smtp-source (Debian package postfix). Uses the server of scripts/test when
TZN_SMTP_PORT is set, otherwise starts a private one with scripts/mailserver.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_roundtrip  # noqa: E402  (the loopback server helper)

ROOT = mail_roundtrip.ROOT
SMTP_SOURCE = "/usr/sbin/smtp-source"


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def wall(cmd, env):
    start = time.perf_counter()
    p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    took = time.perf_counter() - start
    if p.returncode != 0:
        raise RuntimeError("%s failed: %s" % (os.path.basename(cmd[0]),
                                              (p.stderr or p.stdout).decode(errors="replace")))
    return took


def wire_size(kib):
    """Bytes of one letter between DATA and ".": base64 lines of 57 bytes (76 + CR LF)
    and about 600 bytes of headers and MIME framing."""
    lines = (kib * 1024 + 56) // 57
    return lines * 78 + 600


def prepare_tool(tool, root, count, attachment, server, user, addr):
    env = dict(os.environ, TZN_ROOT=root)
    for key, value in (("SMTPHost", "127.0.0.1"), ("SMTPPort", str(server.smtp)),
                       ("UserName", user[0]), ("Password", user[1]), ("EMail", addr),
                       ("SMTPSecurity", "none")):
        subprocess.run([tool, "settings", "set", key, value], env=env, check=True,
                       stdout=subprocess.DEVNULL)
    letters = os.path.join(root, "letters")
    os.makedirs(letters)
    first = os.path.join(letters, "1.eml")
    subprocess.run([tool, "letter", "make", "--from", "Bench <%s>" % addr, "--to",
                    "Bench <%s>" % addr, "--subject", "TZN-Office bench", "--attach",
                    attachment, "--out", first], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    files = [first]
    for i in range(2, count + 1):
        files.append(os.path.join(letters, "%d.eml" % i))
        shutil.copyfile(first, files[-1])
    return env, files


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--size", type=int, default=100, help="attachment KiB")
    ap.add_argument("--repeat", type=int, default=3, help="runs per client; the best counts")
    ap.add_argument("--no-tool", action="store_true", help="leave out `tznmail send`")
    ap.add_argument("--tool-tunables", help="GLIBC_TUNABLES for an extra `tznmail send` row, "
                    "e.g. glibc.malloc.trim_threshold=33554432")
    args = ap.parse_args()
    ours_bin = os.path.join(args.build, "bench_mail_roundtrip")
    tool_bin = os.path.join(args.build, "tznmail")
    if not os.access(ours_bin, os.X_OK):
        sys.exit("no %s: build the bench_mail_roundtrip target" % ours_bin)
    if not os.access(SMTP_SOURCE, os.X_OK):
        sys.exit("no %s: install the postfix package" % SMTP_SOURCE)
    use_tool = not args.no_tool and os.access(tool_bin, os.X_OK)

    load_before = load()
    server = mail_roundtrip.Server()
    work = tempfile.mkdtemp(prefix="tznsrc")
    try:
        user = server.users[-1]
        addr = "%s@%s" % (user[0], server.domain)
        server.empty(user)
        attachment = os.path.join(work, "report.dat")
        with open(attachment, "wb") as f:
            f.write(os.urandom(args.size * 1024))
        n = args.count
        ours_env = dict(os.environ, TZN_BENCH_HOST="127.0.0.1", TZN_BENCH_USER=user[0],
                        TZN_BENCH_PASS=user[1], TZN_BENCH_TO=addr)
        clients = [("ours", [ours_bin, "send", str(n), attachment], ours_env)]
        if use_tool:
            tool_env, files = prepare_tool(tool_bin, os.path.join(work, "root"), n, attachment,
                                           server, user, addr)
            clients.append(("tznmail", [tool_bin, "send"] + files, tool_env))
            if args.tool_tunables:
                clients.append(("tznmail*", [tool_bin, "send"] + files,
                                dict(tool_env, GLIBC_TUNABLES=args.tool_tunables)))
        clients.append(("smtp-src", [SMTP_SOURCE, "-d", "-m", str(n), "-l",
                                     str(wire_size(args.size)), "-f", addr, "-t", addr,
                                     "127.0.0.1:%d" % server.smtp], dict(os.environ)))
        best = {}
        # The machine may be busy: the clients take turns, and each one's fastest run counts.
        for _ in range(args.repeat):
            for label, cmd, env in clients:
                took = wall(cmd, env)
                server.wait_for(user, n)
                if server.count(user) != n:
                    raise RuntimeError("%s: %d letters arrived, expected %d" %
                                       (label, server.count(user), n))
                server.empty(user)
                best[label] = min(best.get(label, took), took)

        print("\n%d letters of about %d KB over one connection, best of %d (load %s -> %s)" %
              (n, wire_size(args.size) // 1000, args.repeat, load_before, load()))
        print("%-10s %8s %8s" % ("", "wall s", "ratio"))
        for label, _, _ in clients:
            print("%-10s %8.3f %8.2f" % (label, best[label], best["smtp-src"] / best[label]))
        print("(ratio = smtp-source / client; 1.00 means as fast as smtp-source)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
        server.stop()


if __name__ == "__main__":
    main()
