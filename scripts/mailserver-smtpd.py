#!/usr/bin/python3
# The SMTP half of the second loopback server pair (scripts/mailserver start DIR --pair second):
# aiosmtpd with AUTH PLAIN/LOGIN required before MAIL, STARTTLS on the plain port, TLS from the
# first byte on a second port, unknown recipients refused at RCPT, and each letter written into
# the recipient's Maildir (LF line ends, as delivery agents store them) before the 250, where
# GNU pop3d serves it. It runs under /usr/bin/python3 because that is where Debian's
# python3-aiosmtpd lives, whatever python3 comes first in PATH.
#
# Started as root: it reads the users and the key, binds, writes its pid file, then runs as the
# mailboxes' owner.
import argparse
import asyncio
import email.utils
import itertools
import os
import pwd
import signal
import socket
import ssl
import time
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def read_users(path):
    """Lines "login password address maildir"."""
    logins, boxes = {}, {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if len(fields) == 4:
                login, password, address, maildir = fields
                logins[login] = password
                boxes[address.lower()] = maildir
    return logins, boxes


class Delivery:
    def __init__(self, boxes, hostname):
        self.boxes = boxes
        self.hostname = hostname
        self.serial = itertools.count(1)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() not in self.boxes:
            return f"550 5.1.1 <{address}>: Recipient address rejected: User unknown"
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 Ok"

    async def handle_DATA(self, server, session, envelope):
        content = envelope.original_content.replace(b"\r\n", b"\n")
        peer = session.peer[0] if session.peer else "unknown"
        tls = server.transport.get_extra_info("ssl_object") is not None
        protocol = "ESMTP" + ("S" if tls else "") + ("A" if session.authenticated else "")
        for rcpt in envelope.rcpt_tos:
            trace = (
                f"Return-Path: <{envelope.mail_from}>\n"
                f"Received: from {session.host_name} ([{peer}])\n"
                f"\tby {self.hostname} with {protocol}\n"
                f"\tfor <{rcpt}>; {email.utils.formatdate(localtime=True)}\n"
            ).encode("ascii", "replace")
            self.store(self.boxes[rcpt.lower()], trace + content)
        return "250 2.0.0 Ok: queued"

    def store(self, maildir, data):
        # Written in tmp/ and renamed into new/, so pop3d never sees half a letter.
        name = f"{time.time_ns()}.P{os.getpid()}Q{next(self.serial)}.{self.hostname}"
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.rename(tmp, os.path.join(maildir, "new", name))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--tls-port", type=int, required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--users", required=True)
    p.add_argument("--hostname", required=True)
    p.add_argument("--run-as", default="nobody")
    p.add_argument("--pidfile", required=True)
    a = p.parse_args()

    logins, boxes = read_users(a.users)
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(a.cert, a.key)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (
            isinstance(auth_data, LoginPassword)
            and logins.get(auth_data.login.decode("utf-8", "replace"))
            == auth_data.password.decode("utf-8", "replace")
        )
        return AuthResult(success=ok, handled=False)

    handler = Delivery(boxes, a.hostname)

    # Clear-text log-in stays allowed on the plain port, as with the first pair.
    warnings.filterwarnings("ignore", "Requiring AUTH while not requiring TLS")

    def smtp(starttls):
        return SMTP(
            handler,
            hostname=a.hostname,
            ident="TZNMail test server",
            tls_context=ctx if starttls else None,
            require_starttls=False,
            auth_required=True,
            auth_require_tls=False,
            authenticator=authenticate,
            data_size_limit=268435456,
            decode_data=False,
        )

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    servers = [
        loop.run_until_complete(
            loop.create_server(lambda: smtp(True), "127.0.0.1", a.port, family=socket.AF_INET)
        ),
        loop.run_until_complete(
            loop.create_server(
                lambda: smtp(False), "127.0.0.1", a.tls_port, family=socket.AF_INET, ssl=ctx
            )
        ),
    ]
    with open(a.pidfile, "w", encoding="ascii") as f:
        f.write(f"{os.getpid()}\n")
    owner = pwd.getpwnam(a.run_as)
    os.setgroups([])
    os.setgid(owner.pw_gid)
    os.setuid(owner.pw_uid)
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, loop.stop)
    loop.run_forever()
    for s in servers:
        s.close()


if __name__ == "__main__":
    main()
