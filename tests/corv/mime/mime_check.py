"""Reference decoders for the MIME tests: reads the input file, writes the answer file.

  b64dec IN OUT       base64 body (line breaks allowed) -> bytes
  qpdec IN OUT        quoted-printable body -> bytes
  sjis2jis IN OUT     Shift-JIS -> ISO-2022-JP, half-width katakana made full-width first
  jis2sjis IN OUT     ISO-2022-JP -> Shift-JIS
  header IN OUT       RFC 2047 header text -> its decoded text in Shift-JIS
  parse IN OUT        a whole message -> one line per part:
                      content-type TAB filename-hex TAB name-hex TAB decoded-body-hex
  hdrenc IN OUT       Shift-JIS text -> RFC 2047 words in ISO-2022-JP, as Python writes them
  pymsg IN OUT        a multipart message Python builds: a 7bit text part, a quoted-printable
                      UTF-8 part (QP_TEXT) and IN as a base64 attachment named JP_NAME
"""
import base64
import binascii
import email
import email.header
import email.policy
import quopri
import sys
import unicodedata


def widen(text):
    # Sound marks merge with the kana that have voiced (ka..to, ha..ho, u) or semi-voiced
    # (ha..ho) full-width forms; elsewhere they stand as the spacing marks.
    voiced = set("\uff76\uff77\uff78\uff79\uff7a\uff7b\uff7c\uff7d\uff7e\uff7f"
                 "\uff80\uff81\uff82\uff83\uff84\uff8a\uff8b\uff8c\uff8d\uff8e\uff73")
    semi = set("\uff8a\uff8b\uff8c\uff8d\uff8e")
    out, i = [], 0
    while i < len(text):
        ch = text[i]
        nx = text[i + 1] if i + 1 < len(text) else ""
        if ch == "\uff9e":
            out.append("\u309b")
        elif ch == "\uff9f":
            out.append("\u309c")
        elif "\uff61" <= ch <= "\uff9d":
            wide = unicodedata.normalize("NFKC", ch)
            if (nx == "\uff9e" and ch in voiced) or (nx == "\uff9f" and ch in semi):
                wide = unicodedata.normalize("NFC", wide + ("\u3099" if nx == "\uff9e" else "\u309a"))
                i += 1
            out.append(wide)
        else:
            out.append(ch)
        i += 1
    return "".join(out)


QP_TEXT = "caf\u00e9 na\u00efve = r\u00e9sum\u00e9 \t\n" * 8
JP_NAME = "\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.bin"


def python_message(attachment):
    import email.charset
    from email.mime.application import MIMEApplication
    from email.mime.multipart import MIMEMultipart
    from email.mime.text import MIMEText

    msg = MIMEMultipart()
    msg.attach(MIMEText("plain text body\nsecond line\n", "plain", "us-ascii"))
    cs = email.charset.Charset("utf-8")
    cs.body_encoding = email.charset.QP
    msg.attach(MIMEText(QP_TEXT, "plain", cs))
    att = MIMEApplication(attachment)
    att.add_header("Content-Disposition", "attachment",
                   filename=email.header.Header(JP_NAME, "iso-2022-jp").encode())
    msg.attach(att)
    return msg.as_bytes(policy=email.policy.compat32.clone(linesep="\r\n"))


def main():
    cmd, src, dst = sys.argv[1], sys.argv[2], sys.argv[3]
    data = open(src, "rb").read()
    if cmd == "b64dec":
        out = base64.b64decode(b"".join(data.split()), validate=True)
    elif cmd == "qpdec":
        out = quopri.decodestring(data)
    elif cmd == "sjis2jis":
        out = widen(data.decode("shift_jis")).encode("iso2022_jp")
    elif cmd == "jis2sjis":
        out = data.decode("iso2022_jp").encode("shift_jis")
    elif cmd == "header":
        text = str(email.header.make_header(email.header.decode_header(data.decode("ascii"))))
        out = text.encode("shift_jis")
    elif cmd == "hdrenc":
        out = email.header.Header(data.decode("shift_jis"), "iso-2022-jp").encode().encode("ascii")
    elif cmd == "pymsg":
        out = python_message(data)
    elif cmd == "parse":
        msg = email.message_from_bytes(data, policy=email.policy.compat32)
        parts = msg.get_payload() if msg.is_multipart() else [msg]
        lines = []
        for p in parts:
            def dec(v):
                if v is None:
                    return b""
                return str(email.header.make_header(email.header.decode_header(v))).encode("shift_jis")
            fn = dec(p.get_param("filename", header="content-disposition"))
            nm = dec(p.get_param("name", header="content-type"))
            body = p.get_payload(decode=True) or b""
            lines.append("%s\t%s\t%s\t%s" % (p.get_content_type(), fn.hex(), nm.hex(), body.hex()))
        if msg.defects:
            lines.append("defects\t" + ",".join(type(d).__name__ for d in msg.defects))
        out = ("\n".join(lines) + "\n").encode()
    else:
        sys.exit("unknown command " + cmd)
    open(dst, "wb").write(out)


if __name__ == "__main__":
    main()
