#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: letters and header texts of the kinds the
tests use, so that fuzzing starts from inputs that reach deep into each parser."""
import base64, os, sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
CP = "cp1251"
head = ("From: =?KOI8-R?B?8NLP18XSy8E=?= <a@b.ru>\r\nTo: x@y.ru, \"Q, R\" <q@r.ru>\r\n"
        "Subject: =?windows-1251?Q?=D2=E5=F1=F2?= TZN-12\r\nDate: Thu, 5 Dec 2024 14:30:05 +0300\r\n"
        "MIME-Version: 1.0\r\n")
mixed = head + "Content-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
b64 = base64.encodebytes(bytes(range(256))).decode().replace("\n", "\r\n")
letters = {
    "plain": "From: a@b.ru\r\nSubject: s\r\n\r\nHello\r\n..dotted\r\n.\r\n",
    "mixed": mixed + "preamble\r\n--BB\r\nContent-Type: text/plain; charset=koi8-r\r\n"
             "Content-Transfer-Encoding: quoted-printable\r\n\r\nt=E5xt=\r\nmore\r\n"
             "--BB\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
             "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
             "filename*=utf-8''%D0%9E.zip\r\n\r\n" + b64 + "--BB--\r\nepilogue\r\n.\r\n",
    "nested": mixed + "--BB\r\nContent-Type: multipart/alternative; boundary=\"IN\"\r\n\r\n"
              "--IN\r\nContent-Type: text/plain\r\n\r\nplain\r\n--IN\r\nContent-Type: text/html\r\n"
              "\r\n<b>\r\n--IN--\r\n--BB\r\nContent-Type: application/x; name=a.bin\r\n\r\nZ\r\n"
              "--BB--\r\n.\r\n",
    "single": head + "Content-Type: application/pdf; name=\"r.pdf\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n" + b64 + ".\r\n",
    "uue": "From: a@b.ru\r\nSubject: s\r\n\r\nHello\r\n\r\nbegin 644 my file.bin\r\n"
           "#86)C\r\n`\r\nend\r\n.\r\n",
    "qp_single": head + "Content-Type: text/plain; charset=windows-1251\r\n"
                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n=D2=E5=F1=F2 =\r\nline\r\n.\r\n",
}
headers = ["Thu, 5 Dec 2024 14:30:05 +0300", "5-Dec-24 02:30:00PM (MSK)",
           "=?KOI8-R?B?8NLP18XSy8E=?= =?ISO-8859-1?Q?caf=E9?=",
           "attachment; filename*0*=utf-8''%D0%9E; filename*1=.zip; boundary=\"x\"",
           "Re: =?iso-8859-1?q?=C0=C1?= tail", "\x01plain text \xc0\xc1 with specials <>@"]
addresses = ["a@b.ru", "\"Q, R\" <q@r.ru>, x@y.ru", "group: a@b.ru, c@d.ru;, (comment) e@f",
             "=?KOI8-R?B?8NLP18XSy8E=?= <a@b.ru>", "<> , \"esc\\\"aped\" <x@y>"]
replies = ["\x00250-mail.example\r\n250-PIPELINING\r\n250 2.0.0 OK done\r\n550 5.1.1 No such user\r\n",
           "\x01+OK ready <1.2@host>\r\n-ERR [IN-USE] locked\r\n+ \r\n",
           "\x02+OK 2 320\r\n+OK 1 120\r\n+OK\r\n1 abc\r\n2 def\r\n.\r\n"]
codecs = ["\x00" + b64, "\x01t=E5xt=\r\nmore =3D\r\n", "\x02#86)C\r\n`\r\nend\r\n",
          "\x03" + "hD1Q9\r\n+\r\nend\r\n", "\x80" + b64]
ini = ["Mail/Server\n[Mail]\r\nServer=mail.ru\r\nPort=110\r\n; comment\r\n[Other]\r\nA = \"q\"\r\n"]
pop3 = {k: v.replace("\r\n.\r\n", "\r\n") for k, v in letters.items()}
pop3 = {k: "\r\n".join(("." + l if l.startswith(".") else l) for l in v.split("\r\n"))
        + ".\r\n" for k, v in pop3.items()}
sets = {"message_file": letters, "message_pop3": pop3,
        "header_text": {f"h{i}": "\x05" + t for i, t in enumerate(headers)},
        "header_recoding": {f"h{i}": t for i, t in enumerate(headers)},
        "addresses": {f"a{i}": t for i, t in enumerate(addresses)},
        "replies": {f"r{i}": t for i, t in enumerate(replies)},
        "codecs": {f"c{i}": t for i, t in enumerate(codecs)},
        "ini": {f"i{i}": t for i, t in enumerate(ini)}}
for target, seeds in sets.items():
    os.makedirs(os.path.join(root, target), exist_ok=True)
    for name, text in seeds.items():
        with open(os.path.join(root, target, name), "wb") as f:
            f.write(text.encode("latin-1"))
