#!/usr/bin/env python3
"""A chain of filling stations and their office sharing one mailbox at a provider, every
side on a slow line: the whole chain run twice against the loopback Postfix + Dovecot, once
as the module works (pipelined header scan, memory of the letters that are not ours) and
once with both off, and the two compared.

  bench/chain.py [--build DIR] [--stations N] [--delay MS] [--parallel P] [--report-kib K]

Every side is its own root and its own process (bench_chain_session), each session a full
one (collect, then deliver OutBox), P sessions at a time. Their POP3 goes through a relay
that holds every answer back DELAY ms (order kept) and counts the command lines it passes
on; each connection reaches the server from an address of its own, as stations do. SMTP
goes to the server directly. The chain:

  1. reports: every station's session sends its report letter (and collects first, seeing
     the reports of the stations before it);
  2. two polls of every station while the reports wait for the office;
  3. the office collects and imports all reports.

Before the polls every report must have reached the mailbox (that wait is not timed). Then
every report must have been imported exactly once and byte for byte, the mailbox be empty,
every station's OutBox empty and no session have logged an error. The run without the
optimisations takes PIPELINING out of the server's CAPA answer and deletes every side's
memory file (*.not) before each session. The server's own log (Dovecot's top=/retr=/del=
totals at logout) is added up beside the relay's counts where the log can be found.

Uses the server of scripts/test when TZN_SMTP_PORT is set, otherwise starts a private one.
"""
import argparse
import asyncio
import collections
import concurrent.futures
import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mail_roundtrip import ROOT, Server  # noqa: E402

# Answers of these commands are multi-line when positive; LIST and UIDL only without an
# argument.
MULTILINE = {b"CAPA", b"TOP", b"RETR"}
MULTILINE_BARE = {b"LIST", b"UIDL"}


class Relay:
    """A slow line in front of the POP3 port, for any number of connections at once."""

    def __init__(self, upstream, delay_ms, strip_pipelining):
        self.upstream = upstream
        self.delay = delay_ms / 1000.0
        self.strip = strip_pipelining
        self.commands = collections.Counter()
        self.stripped = 0
        self.most_in_flight = 0  # commands sent before the answer to the first came
        self.connections = 0
        self.loop = asyncio.new_event_loop()
        ready = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(ready,), daemon=True)
        self.thread.start()
        ready.wait()

    def _run(self, ready):
        asyncio.set_event_loop(self.loop)
        self.server = self.loop.run_until_complete(
            asyncio.start_server(self._connection, "127.0.0.1", 0, backlog=256))
        self.port = self.server.sockets[0].getsockname()[1]
        ready.set()
        self.loop.run_forever()

    def stop(self):
        def close():
            self.server.close()
            self.loop.stop()
        self.loop.call_soon_threadsafe(close)
        self.thread.join()

    def snapshot(self):
        return collections.Counter(self.commands)

    async def _connection(self, creader, cwriter):
        self.connections += 1
        # Dovecot allows a user few connections from one address; stations have their own.
        source = "127.0.%d.%d" % (1 + self.connections // 250 % 250, 1 + self.connections % 250)
        try:
            sreader, swriter = await asyncio.open_connection(
                "127.0.0.1", self.upstream, local_addr=(source, 0))
        except OSError:
            cwriter.close()
            return
        for w in (cwriter, swriter):
            w.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pending = collections.deque()
        due = asyncio.Queue()
        await asyncio.gather(self._up(creader, swriter, pending),
                             self._down(sreader, due, pending),
                             self._deliver(due, cwriter))

    async def _up(self, reader, writer, pending):
        """The client's lines go on at once; each is counted and remembered, so that the
        answers can be told apart."""
        rest = b""
        while True:
            try:
                data = await reader.read(65536)
            except OSError:
                data = b""
            if not data:
                break
            writer.write(data)
            lines = (rest + data).split(b"\n")
            rest = lines.pop()
            for line in lines:
                words = line.strip().split(None, 1)
                verb = words[0].upper() if words else b""
                self.commands[verb.decode(errors="replace")] += 1
                pending.append((verb, len(words) > 1))
            self.most_in_flight = max(self.most_in_flight, len(pending))
        try:
            writer.write_eof()
        except OSError:
            pass

    async def _down(self, reader, due, pending):
        """The server's lines, each due DELAY after it came; PIPELINING taken out of the
        CAPA answer when so asked."""
        rest = b""
        greeted = False
        multiline = capa = False
        while True:
            try:
                data = await reader.read(65536)
            except OSError:
                data = b""
            if not data:
                break
            lines = (rest + data).split(b"\n")
            rest = lines.pop()
            out = []
            for line in lines:
                line += b"\n"
                if multiline:
                    if line.rstrip(b"\r\n") == b".":
                        multiline = capa = False
                    elif capa and self.strip and line.strip().upper() == b"PIPELINING":
                        self.stripped += 1
                        continue
                elif not greeted:
                    greeted = True
                elif line.startswith(b"+ "):
                    pass  # a continuation, the command goes on
                elif pending:
                    verb, argument = pending.popleft()
                    if line.startswith(b"+OK") and (
                            verb in MULTILINE or (verb in MULTILINE_BARE and not argument)):
                        multiline, capa = True, verb == b"CAPA"
                out.append(line)
            if out:
                due.put_nowait((asyncio.get_running_loop().time() + self.delay, b"".join(out)))
        if rest:
            due.put_nowait((asyncio.get_running_loop().time() + self.delay, rest))
        due.put_nowait(None)

    async def _deliver(self, due, writer):
        loop = asyncio.get_running_loop()
        while True:
            item = await due.get()
            if item is None:
                break
            when, data = item
            await asyncio.sleep(max(0.0, when - loop.time()))
            writer.write(data)
            try:
                await writer.drain()
            except OSError:
                break
        writer.close()


def dovecot_log():
    """The server's log file, found from its CA file's folder (scripts/mailserver's layout)."""
    ca = os.environ.get("TZN_CA_FILE", "")
    path = os.path.join(os.path.dirname(os.path.dirname(ca)), "log", "dovecot.log")
    return path if ca and os.path.isfile(path) else None


def server_totals(path, offset, login):
    """TOP, RETR and DELE commands of `login`'s sessions that came through the relay (from an
    address other than 127.0.0.1), from the lines Dovecot wrote past `offset`."""
    totals = collections.Counter()
    user = r"%s(?:@[^>)]*)?" % re.escape(login)
    login_line = re.compile(r"Login: user=<%s>.* rip=([0-9.]+),.* session=<([^>]+)>" % user)
    logout_line = re.compile(r"pop3\(%s\)<\d+><([^>]+)>: .*Logged out top=(\d+)/\d+, "
                             r"retr=(\d+)/\d+, del=(\d+)/" % user)
    relayed = set()
    with open(path, "rb") as f:
        f.seek(offset)
        for line in f.read().decode(errors="replace").splitlines():
            m = login_line.search(line)
            if m and m.group(1) != "127.0.0.1":
                relayed.add(m.group(2))
            m = logout_line.search(line)
            if m and m.group(1) in relayed:
                totals["sessions"] += 1
                for k, v in zip(("TOP", "RETR", "DELE"), m.groups()[1:]):
                    totals[k] += int(v)
    return totals


class Chain:
    def __init__(self, args, server, user, work):
        self.args = args
        self.server = server
        self.user = user
        self.work = work
        self.binary = os.path.join(args.build, "bench_chain_session")
        self.codes = [str(1001 + i) for i in range(args.stations)]  # none inside another
        self.reports = os.path.join(work, "reports")
        os.makedirs(self.reports, exist_ok=True)
        for code in self.codes:
            with open(os.path.join(self.reports, "azs%s.dat" % code), "wb") as f:
                f.write(("shift report of station %s\n" % code).encode())
                f.write(os.urandom(args.report_kib * 1024))

    def session(self, relay, root, role, *rest, forget=False):
        if forget:
            for path in glob.glob(os.path.join(root, "**", "*.not"), recursive=True):
                os.unlink(path)
        env = dict(os.environ, TZN_BENCH_HOST="127.0.0.1", TZN_BENCH_USER=self.user[0],
                   TZN_BENCH_PASS=self.user[1], TZN_POP3_PORT=str(relay.port),
                   TZN_SMTP_PORT=str(self.server.smtp),
                   TZN_BENCH_ADDRESS="%s@%s" % (self.user[0], self.server.domain))
        p = subprocess.run([self.binary, root, role] + list(rest), env=env, capture_output=True)
        if p.returncode != 0:
            raise RuntimeError("%s %s: %s" % (role, rest[0], p.stderr.decode(errors="replace")))
        seconds, received, imported, errors = p.stdout.split()
        if int(errors):
            raise RuntimeError("%s %s logged errors:\n%s" %
                               (role, rest[0], p.stderr.decode("cp1251", errors="replace")))
        return float(seconds), int(received), int(imported)

    def run(self, optimised):
        label = "on" if optimised else "off"
        base = os.path.join(self.work, label)
        self.server.empty(self.user)
        relay = Relay(self.server.pop3, self.args.delay, strip_pipelining=not optimised)
        log = dovecot_log()
        log_at = os.path.getsize(log) if log else 0
        phases = []
        forget = not optimised

        def stations(name, report):
            before, start = relay.snapshot(), time.perf_counter()

            def one(code):
                root = os.path.join(base, "azs" + code)
                extra = [os.path.join(self.reports, "azs%s.dat" % code)] if report else []
                return self.session(relay, root, "station", code, *extra, forget=forget)

            with concurrent.futures.ThreadPoolExecutor(self.args.parallel) as pool:
                results = list(pool.map(one, self.codes))
            if any(r[1] or r[2] for r in results):
                raise RuntimeError("%s: a station took a letter" % name)
            phases.append((name, time.perf_counter() - start, relay.snapshot() - before,
                           sum(r[0] for r in results) / len(results)))

        try:
            stations("reports", True)
            self.server.wait_for(self.user, len(self.codes))
            stations("poll 1", False)
            stations("poll 2", False)
            before, start = relay.snapshot(), time.perf_counter()
            out = os.path.join(base, "imported")
            took, received, imported = self.session(relay, os.path.join(base, "office"),
                                                    "office", out, forget=forget)
            phases.append(("office", time.perf_counter() - start, relay.snapshot() - before,
                           took))
            self.check(base, out, received, imported)
        finally:
            relay.stop()
        if optimised and relay.stripped:
            raise RuntimeError("the relay changed an answer in the optimised run")
        if not optimised and not relay.stripped:
            raise RuntimeError("the server announced no PIPELINING to take away")
        if not optimised and relay.most_in_flight > 1:
            raise RuntimeError("a session pipelined commands to a server that does not allow it")
        print("%s run: at most %d POP3 commands in flight" % (label, relay.most_in_flight))
        totals = server_totals(log, log_at, self.user[0]) if log else None
        return phases, relay.snapshot(), totals, relay.connections

    def check(self, base, out, received, imported):
        n = len(self.codes)
        if received != n or imported != n:
            raise RuntimeError("the office received %d letters and imported %d files of %d" %
                               (received, imported, n))
        names = sorted(os.listdir(out))
        got = collections.Counter(name.split("-", 1)[1] for name in names)
        want = {"azs%s.dat" % code for code in self.codes}
        if set(got) != want or any(c != 1 for c in got.values()):
            raise RuntimeError("imports are not every report once: %s" %
                               sorted(k for k, c in got.items() if c != 1 or k not in want))
        for name in names:
            with open(os.path.join(out, name), "rb") as a, \
                    open(os.path.join(self.reports, name.split("-", 1)[1]), "rb") as b:
                if a.read() != b.read():
                    raise RuntimeError("%s differs from the report the station sent" % name)
        left = self.server.count(self.user)
        if left:
            raise RuntimeError("%d letters left in the shared mailbox" % left)
        for code in self.codes:
            mail = os.path.join(base, "azs" + code, "C", "MAIL")
            if glob.glob(os.path.join(mail, "OutBox", "*.eml")):
                raise RuntimeError("station %s still has its report in OutBox" % code)


def report(args, on, off):
    (phases_on, cmds_on, log_on, conn_on), (phases_off, cmds_off, log_off, conn_off) = on, off
    print("\nA chain of %d stations and an office, one shared mailbox, answers held %d ms, "
          "%d sessions at a time" % (args.stations, args.delay, args.parallel))
    print("%-8s %9s %9s %6s   %9s %9s %6s   %s" %
          ("", "on wall s", "off", "ratio", "on cmds", "off", "ratio",
           "mean session s on / off"))
    rows = [(name, t_on, t_off, sum(c_on.values()), sum(c_off.values()), "%.3f / %.3f" %
             (s_on, s_off))
            for (name, t_on, c_on, s_on), (_, t_off, c_off, s_off) in zip(phases_on, phases_off)]
    rows.append(("total", sum(r[1] for r in rows), sum(r[2] for r in rows),
                 sum(cmds_on.values()), sum(cmds_off.values()), ""))
    for name, t_on, t_off, c_on, c_off, mean in rows:
        print("%-8s %9.2f %9.2f %6.2f   %9d %9d %6.2f   %s" %
              (name, t_on, t_off, t_off / t_on, c_on, c_off, c_off / c_on, mean))
    print("\nPOP3 commands by kind, whole chain (the relay's count):")
    for verb in sorted(set(cmds_on) | set(cmds_off), key=lambda v: -cmds_off[v]):
        print("  %-6s %8d %8d" % (verb, cmds_on[verb], cmds_off[verb]))
    if log_on is not None and log_off is not None:
        print("The server's own log (logout totals): on %d sessions, TOP %d, RETR %d, DELE %d;"
              " off %d sessions, TOP %d, RETR %d, DELE %d" %
              tuple([log_on[k] for k in ("sessions", "TOP", "RETR", "DELE")] +
                    [log_off[k] for k in ("sessions", "TOP", "RETR", "DELE")]))
        for name, log, cmds, conns in (("on", log_on, cmds_on, conn_on),
                                       ("off", log_off, cmds_off, conn_off)):
            if log["sessions"] != conns:
                print("  note: %s run: the server logged %d sessions out, the relay passed %d"
                      % (name, log["sessions"], conns))
            for k in ("TOP", "RETR", "DELE"):
                if log[k] != cmds[k]:
                    print("  note: %s run, %s: the server logged %d, the relay passed %d"
                          % (name, k, log[k], cmds[k]))
    print("(on: pipelining and the memory of letters not ours, as shipped; off: PIPELINING "
          "taken out of CAPA and the memory deleted before every session; ratio = off / on. "
          "Every report imported once and intact in both runs)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--stations", type=int, default=200)
    ap.add_argument("--delay", type=int, default=30, help="ms each answer is held")
    ap.add_argument("--parallel", type=int, default=16, help="sessions at a time")
    ap.add_argument("--report-kib", type=int, default=8, help="size of a station's report")
    args = ap.parse_args()
    if not os.access(os.path.join(args.build, "bench_chain_session"), os.X_OK):
        sys.exit("no bench_chain_session in %s: build that target" % args.build)

    print("load average at start: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
    server = Server()
    work = tempfile.mkdtemp(prefix="tznchain")
    try:
        # Away from the tests' mailboxes and the other benchmarks' ones.
        user = server.users[-4]
        chain = Chain(args, server, user, work)
        on = chain.run(True)
        print("load average after the optimised run: %.2f %.2f %.2f" % os.getloadavg(),
              flush=True)
        off = chain.run(False)
        report(args, on, off)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        server.stop()
        print("load average at end: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
