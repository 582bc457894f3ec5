#!/usr/bin/python3
"""Parses a received message with Python's email package and prints what the tests compare:
one line per header (decoded from encoded words, as UTF-8), then one line per MIME part with
its type, disposition, file name and, when files are given, whether its decoded payload
equals the next file's bytes."""
import email
import email.header
import email.policy
import sys


def decoded(value):
    out = ""
    for text, charset in email.header.decode_header(value):
        out += text.decode(charset or "ascii") if isinstance(text, bytes) else text
    return out


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.compat32)
    files = sys.argv[2:]
    for name in ("To", "From", "Cc", "Subject", "Reply-To", "Date", "MIME-Version"):
        if msg[name] is not None:
            print("%s: %s" % (name, decoded(str(msg[name])).replace("\r\n\t", " ").replace("\n\t", " ")))
    print("multipart: %s" % ("yes" if msg.is_multipart() else "no"))
    if not msg.is_multipart():
        print("body: %r" % msg.get_payload(decode=True))
        return
    for i, part in enumerate(msg.get_payload()):
        line = "part %d: %s %s %s" % (i, part.get_content_type(), part.get("Content-Transfer-Encoding", "-"),
                                      part.get_content_disposition() or "-")
        if part.get_filename():
            line += " name=" + part.get_filename()
        payload = part.get_payload(decode=True)
        if i == 0:
            line += " text=%r" % payload
        elif i - 1 < len(files):
            with open(files[i - 1], "rb") as f:
                line += " equal=" + ("yes" if f.read() == payload else "no")
        print(line)


if __name__ == "__main__":
    main()
