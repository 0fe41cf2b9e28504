#!/usr/bin/env python3
"""Peer of bench_letter: Python's standard email package writing and reading a letter with
one large attachment. Prints the seconds the operation took (interpreter start excluded).

  letter_peer.py write SRC OUT     EmailMessage + add_attachment, as_bytes to OUT
  letter_peer.py read  IN  OUTDIR  BytesParser, every attachment decoded into OUTDIR
"""
import os
import sys
import time
from email import policy
from email.message import EmailMessage
from email.parser import BytesParser


def write(src, out):
    t = time.perf_counter()
    with open(src, 'rb') as f:
        data = f.read()
    msg = EmailMessage()
    msg['From'] = 'Station 1 <st1@example.ru>'
    msg['To'] = 'Office <office@example.ru>'
    msg['Subject'] = 'TZN-Office'
    msg.add_attachment(data, maintype='application', subtype='octet-stream',
                       filename=os.path.basename(src))
    with open(out, 'wb') as f:
        f.write(msg.as_bytes(policy=policy.SMTP))
    return time.perf_counter() - t


def read(path, outdir):
    t = time.perf_counter()
    with open(path, 'rb') as f:
        msg = BytesParser(policy=policy.default).parse(f)
    n = 0
    for part in msg.iter_attachments():
        with open(os.path.join(outdir, 'att%d' % n), 'wb') as f:
            f.write(part.get_payload(decode=True))
        n += 1
    return time.perf_counter() - t


if __name__ == '__main__':
    mode, a, b = sys.argv[1:4]
    print('%.6f' % (write(a, b) if mode == 'write' else read(a, b)))
