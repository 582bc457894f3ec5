#!/usr/bin/env python3
"""Writes the seed inputs of every target into corpus/<target>/seed-*. Replies and listings are
those the servers of the tests give (nginx, tinyproxy, danted, vsftpd, pyftpdlib, aiosmtpd);
MIME messages come from Python's email package. Regression inputs of mended findings are kept
beside them as plain files (crash-*, timeout-*, leak-*) and are not written here.

Peer streams (engine targets) begin with the target's flags byte; in the stream FF '|' cuts,
FF 'n' switches to connection n, FF 'c' closes it, FF FF is a literal FF (see
fuzz/harness/peer.h)."""
import os
import sys
from email.message import EmailMessage
from email.headerregistry import Address
from email import policy

HERE = os.path.dirname(os.path.abspath(__file__))
CUT, CLOSE = b"\xff|", b"\xffc"


def conn(n):
    return b"\xff" + str(n).encode()


def esc(b):
    return b.replace(b"\xff", b"\xff\xff")


def write(target, name, data):
    d = os.path.join(HERE, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(data)


def crlf(*lines):
    return b"".join(l.encode("latin-1") + b"\r\n" for l in lines)


# --- HTTP responses (nginx) ---
NGINX_OK = crlf("HTTP/1.1 200 OK", "Server: nginx/1.22.1", "Date: Wed, 09 Dec 2026 09:00:00 GMT",
                "Content-Type: text/csv", "Content-Length: 96", "Last-Modified: Wed, 09 Dec 2026 08:00:00 GMT",
                "Connection: close", "ETag: \"6756a1b0-60\"", "Accept-Ranges: bytes", "")
CSV = (b'"IBM",81.50,"12/9/2026","9:00am",+0.25,81.25,81.75,81.00,1234567\r\n'
       b'"MSFT",27.10,"12/9/2026","9:00am",-0.05,27.15,27.20,27.00,7654321\r\n')


def http():
    write("http_response", "ok", b"\x00" + NGINX_OK + CUT + CSV)
    write("http_response", "ok-pieces", b"\x00" + CUT.join(NGINX_OK[i:i + 7] for i in range(0, len(NGINX_OK), 7)) + CSV)
    write("http_response", "no-status-line", b"\x00" + CSV)
    write("http_response", "cookies", b"\x00" + crlf(
        "HTTP/1.1 200 OK", "Server: nginx/1.22.1",
        "Set-Cookie: session=abc123; expires=Thu, 10 Dec 2026 09:00:00 GMT; path=/; domain=.tavlin.invalid",
        "Set-Cookie: pref=dark; Path=/d; Secure", "Set-Cookie: secure; a=b", "Set-Cookie: novalue",
        "X-Folded: first part", "  second part", "\tthird part", "") + b"body")
    write("http_response", "not-found", b"\x00" + crlf(
        "HTTP/1.1 404 Not Found", "Server: nginx/1.22.1", "Content-Type: text/html", "Content-Length: 153",
        "Connection: close", "") + b"<html>\r\n<head><title>404 Not Found</title></head>\r\n<body>\r\n"
        b"<center><h1>404 Not Found</h1></center>\r\n<hr><center>nginx/1.22.1</center>\r\n</body>\r\n</html>\r\n")
    redirect = crlf("HTTP/1.1 302 Moved Temporarily", "Server: nginx/1.22.1", "Content-Type: text/html",
                    "Location: http://127.0.0.1:8080/d/moved.csv", "Connection: close", "") + b"<html>moved</html>\r\n"
    write("http_response", "redirect", b"\x01" + redirect + CLOSE + conn(1) + NGINX_OK + CSV)
    write("http_response", "redirect-relative", b"\x01" + redirect.replace(b"http://127.0.0.1:8080", b"") + CLOSE + conn(1) + NGINX_OK + CSV)
    write("http_response", "redirect-https-same-scheme", b"\x03" + redirect.replace(b"http:", b"https:"))
    write("http_response", "redirect-loop", b"\x01" + b"".join(conn(i) + redirect + CLOSE for i in range(10)))
    write("http_response", "head", b"\x08" + NGINX_OK)
    write("http_response", "post-proxy", b"\x04" + crlf("HTTP/1.0 200 OK", "Via: 1.0 tinyproxy (tinyproxy/1.11.1)", "") + CSV)
    write("http_response", "unauthorized-small-keep", b"\x10" + crlf(
        "HTTP/1.1 401 Unauthorized", "Server: nginx/1.22.1", "WWW-Authenticate: Basic realm=\"quotes\"", "") + b"x" * 40)
    write("http_response", "to-file-bare-lf", b"\x20" + b"HTTP/1.0 200 OK\nContent-Type: text/plain\n\n" + CSV)
    write("http_response", "stall", b"\x80" + NGINX_OK + CSV[:20])


# --- proxy replies (tinyproxy, danted) ---
def firewall():
    far = crlf("HTTP/1.0 200 OK", "Server: nginx/1.22.1", "") + CSV
    ok = crlf("HTTP/1.0 200 Connection established", "Proxy-agent: tinyproxy/1.11.1", "")
    write("firewall", "tunnel", b"\x00" + ok + CUT + far)
    write("firewall", "tunnel-same-read", b"\x0c" + ok + far)
    write("firewall", "tunnel-refused", b"\x00" + crlf("HTTP/1.0 403 Access violation", "Server: tinyproxy/1.11.1",
                                                        "Content-Type: text/html", "Connection: close", "") + b"<html>denied</html>")
    write("firewall", "tunnel-407", b"\x04" + crlf("HTTP/1.0 407 Proxy Authentication Required", "Proxy-Authenticate: Basic realm=\"tinyproxy\"", ""))
    write("firewall", "socks4", b"\x01" + bytes([0, 90, 0, 0, 0, 0, 0, 0]) + CUT + far)
    write("firewall", "socks4-halves", b"\x05" + bytes([0, 90, 0, 0]) + CUT + bytes([0, 0, 0, 0]) + CUT + far)
    write("firewall", "socks4-rejected", b"\x01" + bytes([0, 91, 0, 0, 0, 0, 0, 0]))
    write("firewall", "socks4-identd", b"\x01" + bytes([0, 92, 0, 0, 0, 0, 0, 0]))
    write("firewall", "socks5", b"\x02" + bytes([5, 0]) + CUT + bytes([5, 0, 0, 1, 127, 0, 0, 1, 0x1f, 0x90]) + CUT + far)
    write("firewall", "socks5-auth", b"\x0e" + bytes([5, 2]) + CUT + bytes([1, 0]) + CUT +
          bytes([5, 0, 0, 1, 127, 0, 0, 1, 0x1f, 0x90]) + CUT + far)
    write("firewall", "socks5-auth-failed", b"\x0e" + bytes([5, 2]) + CUT + bytes([1, 1]))
    write("firewall", "socks5-no-method", b"\x02" + esc(bytes([5, 0xff])))
    write("firewall", "socks5-domain", b"\x03" + bytes([5, 0]) + CUT + bytes([5, 0, 0, 1, 10, 0, 0, 1, 0, 80]) + far)
    write("firewall", "socks5-refused", b"\x02" + bytes([5, 0]) + CUT + bytes([5, 5, 0, 1, 0, 0, 0, 0, 0, 0]))
    write("firewall", "socks5-ipv6-reply", b"\x02" + bytes([5, 0]) + CUT + bytes([5, 0, 0, 4]) + bytes(16) + bytes([0, 80]) + far)


# --- FTP (vsftpd, pyftpdlib) ---
VSFTPD_LIST = crlf("drwxr-xr-x    2 0        0            4096 Dec 09 08:00 pub",
                   "-rw-r--r--    1 0        0              96 Dec 09 09:00 quotes.csv",
                   "lrwxrwxrwx    1 0        0               3 Dec 09 09:00 q -> pub",
                   "-rw-r--r--    1 1000     1000      1234567 Jan 01  2025 old quotes.csv")
PYFTPD_LIST = crlf("drwxr-xr-x   2 tavlin   tavlin       4096 Dec 09 08:00 pub",
                   "-rw-r--r--   1 tavlin   tavlin         96 Dec 09 09:00 quotes.csv")
NLST = crlf("pub", "quotes.csv", "old quotes.csv")


def ftp():
    vs_logon = crlf("220 (vsFTPd 3.0.3)") + CUT + crlf("331 Please specify the password.") + CUT + crlf("230 Login successful.")
    py_logon = crlf("220 pyftpdlib 1.5.7 ready.") + CUT + crlf("331 Username ok, send password.") + CUT + crlf("230 Login successful.")
    pasv = crlf("227 Entering Passive Mode (127,0,0,1,156,64).")
    bye = CUT + crlf("221 Goodbye.")
    # flags: bit0 passive, bits1-3 action, bit4 user, bit5 logoff
    write("ftp_reply", "vsftpd-list-passive", bytes([0x31]) + vs_logon + CUT + pasv + CUT + crlf("150 Here comes the directory listing.") +
          conn(1) + VSFTPD_LIST + CLOSE + conn(0) + crlf("226 Directory send OK.") + bye)
    write("ftp_reply", "vsftpd-list-active", bytes([0x30]) + vs_logon + CUT + crlf("200 PORT command successful. Consider using PASV.") + CUT +
          crlf("150 Here comes the directory listing.") + conn(1) + VSFTPD_LIST + CLOSE + conn(0) + crlf("226 Directory send OK.") + bye)
    write("ftp_reply", "pyftpdlib-nlst", bytes([0x13]) + py_logon + CUT + crlf("227 Entering passive mode (127,0,0,1,200,13).") + CUT +
          crlf("125 Data connection already open. Transfer starting.") + conn(1) + NLST + CLOSE + conn(0) +
          crlf("226 Transfer complete."))
    write("ftp_reply", "pyftpdlib-list", bytes([0x11]) + py_logon + CUT + crlf("227 Entering passive mode (127,0,0,1,200,13).") + CUT +
          crlf("125 Data connection already open. Transfer starting.") + conn(1) + PYFTPD_LIST + CLOSE + conn(0) + crlf("226 Transfer complete."))
    write("ftp_reply", "retr-passive", bytes([0x05]) + crlf("220 (vsFTPd 3.0.3)") + CUT + pasv + CUT +
          crlf("150 Opening BINARY mode data connection for quotes.csv (96 bytes).") + conn(1) + CSV + CLOSE + conn(0) + crlf("226 Transfer complete."))
    write("ftp_reply", "retr-to-file-binary", bytes([0x1f]) + vs_logon + CUT + crlf("200 Switching to Binary mode.") + CUT + pasv + CUT +
          crlf("150 Opening BINARY mode data connection for quotes.csv (96 bytes).") + conn(1) + CSV + CLOSE + conn(0) + crlf("226 Transfer complete."))
    write("ftp_reply", "stor-passive", bytes([0x17]) + vs_logon + CUT + pasv + CUT + crlf("150 Ok to send data.") + CUT + CUT + CUT +
          crlf("226 Transfer complete."))
    write("ftp_reply", "pwd", bytes([0x18]) + vs_logon + CUT + crlf('257 "/pub/quotes" is the current directory'))
    write("ftp_reply", "pwd-quoted", bytes([0x18]) + py_logon + CUT + crlf('257 "/a ""quoted"" dir" is the current directory.'))
    write("ftp_reply", "rename", bytes([0x1a]) + py_logon + CUT + crlf("350 Ready for destination name.") + CUT +
          crlf("250 Renaming ok."))
    write("ftp_reply", "cwd-multiline", bytes([0x1c]) + crlf("220-Welcome to the quote archive", "220-", " indented line", "220 ready") + CUT +
          crlf("331 Please specify the password.") + crlf("230-Some notes", "230 Login successful.") + CUT + crlf("250 Directory successfully changed."))
    write("ftp_reply", "refused", bytes([0x10]) + crlf("220 (vsFTPd 3.0.3)") + CUT + crlf("331 Please specify the password.") + CUT +
          crlf("530 Login incorrect."))
    write("ftp_reply", "pasv-no-parens", bytes([0x01]) + crlf("220 (vsFTPd 3.0.3)") + CUT + crlf("227 Entering Passive Mode 127,0,0,1,156,64"))
    write("ftp_reply", "pasv-blanks", bytes([0x01]) + crlf("220 (vsFTPd 3.0.3)") + CUT + crlf("227 Entering Passive Mode (10, 0, 0, 5, 4, 1)"))
    write("ftp_reply", "busy-421", bytes([0x00]) + crlf("421 There are too many connections from your internet address."))
    write("ftp_reply", "stall", bytes([0x81]) + crlf("220 (vsFTPd 3.0.3)") + CUT + pasv)


def ftp_listing():
    write("ftp_listing", "vsftpd", b"\x01" + VSFTPD_LIST + crlf("total 12"))
    write("ftp_listing", "pyftpdlib", b"\x01" + PYFTPD_LIST)
    write("ftp_listing", "dos", b"\x01" + crlf("12-09-26  09:00AM       <DIR>          pub",
                                                "12-09-26  09:00AM                 1,234 quotes.csv", ""))
    write("ftp_listing", "nlst", b"\x00" + NLST + crlf("total 3"))


# --- SMTP (aiosmtpd) ---
def smtp():
    greet = crlf("220 tavlin-test Python SMTP 1.4.4")
    ehlo = crlf("250-tavlin-test", "250-SIZE 33554432", "250-8BITMIME", "250-SMTPUTF8", "250-AUTH LOGIN PLAIN", "250 HELP")
    ok = crlf("250 OK")
    data = crlf("354 End data with <CR><LF>.<CR><LF>")
    tail = crlf("221 Bye")
    # flags: bit0 auth, bit1 helo, bit2 attachment, bit3 bcc, bits4-5 action
    write("smtp_reply", "send", b"\x00" + greet + CUT + ehlo + CUT + ok + CUT + ok + CUT + ok + CUT + ok + CUT + data + CUT + ok + CUT + tail)
    write("smtp_reply", "send-auth-attachment", b"\x0d" + greet + CUT + ehlo + CUT + crlf("334 VXNlcm5hbWU6") + CUT + crlf("334 UGFzc3dvcmQ6") + CUT +
          crlf("235 2.7.0 Authentication successful") + CUT + ok + CUT + ok + CUT + ok + CUT + ok + CUT + crlf("550 5.1.1 <hidden@z.invalid>: Recipient address rejected") + CUT +
          data + CUT + ok + CUT + tail)
    write("smtp_reply", "ehlo-refused-helo", b"\x00" + crlf("120 busy, wait") + greet + CUT + crlf("502 Command not implemented") + CUT +
          crlf("250 tavlin-test") + CUT + ok + ok + ok + ok + data + ok + tail)
    write("smtp_reply", "helo-only", b"\x02" + greet + ok + ok + ok + ok + ok + data + ok + tail)
    write("smtp_reply", "rcpt-refused", b"\x00" + greet + ehlo + ok + ok + crlf("550 5.1.1 <a@x.invalid>: Recipient address rejected"))
    write("smtp_reply", "expn", b"\x10" + greet + ehlo + crlf("250-Doe <j@y.invalid>", "250 Roe <r@y.invalid>") + tail)
    write("smtp_reply", "vrfy", b"\x20" + greet + ehlo + crlf("252 Cannot VRFY user, but will accept message") + tail)
    write("smtp_reply", "command", b"\x30" + greet + ehlo + ok + tail)
    write("smtp_reply", "stall", b"\x80" + greet + ehlo)
    write("smtp_reply", "closed-after-greeting", b"\x00" + greet + CLOSE)


# --- MIME messages (Python's email package) ---
def mime():
    m = EmailMessage()
    m["From"] = Address("Sender", "s", "x.invalid")
    m["To"] = "a@x.invalid"
    m["Subject"] = "Quotes"
    m.set_content("IBM 81.50\nMSFT 27.10\n")
    m.add_attachment(CSV, maintype="text", subtype="csv", filename="quotes.csv")
    m.add_attachment(bytes(range(256)), maintype="application", subtype="octet-stream", filename="raw.bin")
    m.set_boundary("===============1606718204451364093==")  # fixed, so the seeds do not churn
    write("mime_reader", "mixed", b"\x00" + m.as_bytes(policy=policy.SMTP))
    m2 = EmailMessage()
    m2["Subject"] = "Kana"
    m2.set_content("caf\u00e9 \u00e0 la carte =\n", cte="quoted-printable")
    m2.add_attachment(b"\x1b$B%+%J\x1b(B", maintype="application", subtype="octet-stream",
                      filename="=?ISO-2022-JP?B?GyRCJSslShsoQg==?=")
    m2.set_boundary("===============7436090155931806611==")
    write("mime_reader", "qp-encoded-word", b"\x01" + m2.as_bytes(policy=policy.SMTP))
    single = EmailMessage()
    single.set_content(bytes(range(200)), maintype="image", subtype="png", disposition="attachment", filename="logo.png")
    write("mime_reader", "single-part", b"\x00" + single.as_bytes(policy=policy.SMTP))
    nested = EmailMessage()
    nested.make_mixed()
    inner = EmailMessage()
    inner.set_content("inner\n")
    inner.add_alternative("<p>inner</p>", subtype="html")
    nested.attach(inner)
    nested.set_boundary("===============2838517164862926135==")
    inner.set_boundary("===============0947208917347372016==")
    write("mime_reader", "nested", b"\x02" + nested.as_bytes(policy=policy.default))
    write("mime_reader", "form-data", b"\x03" + crlf(
        "MIME-Version: 1.0", 'Content-Type: multipart/form-data; boundary="--boundary.corv.2026129"', "",
        "----boundary.corv.2026129", 'Content-Disposition: form-data; name="s"', "", "IBM MSFT",
        "----boundary.corv.2026129", 'Content-Disposition: form-data; name="f"; filename="=?iso-2022-jp?q?=1B$B%+=1B(B?="',
        "Content-Type: text/plain", "", "x", "----boundary.corv.2026129--"))


# --- Japanese text ---
def japanese():
    sjis = "\u682a\u4fa1 \u30ab\u30ca IBM".encode("shift_jis") + b"\xb6\xde\xca\xdf\r\n" + "\u6771\u8a3c".encode("shift_jis")
    write("japanese", "shift-jis", b"\x00" + sjis)
    write("japanese", "iso-2022-jp", b"\x01" + "\u682a\u4fa1\u3068IBM".encode("iso-2022-jp"))
    write("japanese", "encoded-words", b"\x02" + b"=?ISO-2022-JP?B?GyRCM3Q2QRsoQg==?= and =?iso-2022-jp?q?=1B$B3t=1B(B_x?= =?ISO-8859-1?Q?caf=E9?=")
    write("japanese", "header", b"\x03" + "\u682a\u4fa1\u4e00\u89a7".encode("shift_jis") * 12)
    write("japanese", "address-list", b"\x04" + "\u5c71\u7530 <yamada@x.invalid>, \"Doe, John\" <j@y.invalid> (boss)".encode("shift_jis"))


# --- receive buffer and engine strings: an operation program, see fuzz_linefifo_dynstr.cpp ---
def strings():
    fifo = (b"\x0f" + b"\x04\x02\r\n" + b"\x00\x0b220 ready\r\n" + b"\x02\x00" + b"\x00\x06250 ok" + b"\x02\x00" +
            b"\x01\x02\r\n" + b"\x02\x00" + b"\x00\x05abc\r\n" + b"\x03\x00" + b"\x04\x01\n" + b"\x00\x02\n\n" +
            b"\x02\x00\x02\x00" + b"\x06\x08" + b"\x07\x05a\r\nbc\x02\r\n")
    write("linefifo_dynstr", "lines", fifo)
    text = (b"\x3f" + b"\x80\x3c" + b"q" * 120 + b"\x82\x05hello" + b"\x83\x00" + b"\x82\x02\n\n" + b"\x83\x00" +
            b"\x86\x02ab\x86\x01c" + b"\x87\x03\x00xyz" + b"\x87\x00\x00" + b"\x88\x03" + b"\x89\x14Content-Type: text/a" +
            b"\x89\x03 ab" + b"\x85\x05hello" + b"\x84\x07a b&c=d" + b"\x81\x00\x81\x40\x8a\x00")
    write("linefifo_dynstr", "strings", text)


# --- display frames ---
def frame(payload):
    body = bytes([len(payload) >> 8, len(payload) & 0xFF]) + payload
    body += bytes([(0xFF - sum(body)) & 0xFF])
    out = b"\xaa"
    for b in body:
        out += {0xAA: b"\x80\x00", 0x80: b"\x80\x01"}.get(b, bytes([b]))
    return out


def display():
    price = frame(bytes([0x02, 0x03, 0x04, 0x05, 0x01, 0x00]))
    write("display_frames", "price", b"\x00" + price)
    write("display_frames", "stuffed", b"\x03" + frame(bytes([0xAA, 0x80, 0x7D])) + price)
    write("display_frames", "noise", b"\x01" + b"\x00\x01garbage\xaa\x80\x07" + price[:5] + price)
    write("display_frames", "value", b"\x00" + frame(bytes([128])))


# --- quote answers (tools/quote-service); flags: block size, bit 7 leaves out the end ---
def quotes():
    write("quote_answer", "two-lines", b"\x00" + CSV)
    write("quote_answer", "blocks-of-5", b"\x05" + CSV)
    write("quote_answer", "cut-in-crlf", b"\x42" + CSV[:-1])
    write("quote_answer", "edge", b"\x01" + b',\n\n"x"\r\n"",,\r\n' + b"a," * 20 + b"\r\nlast")
    write("quote_answer", "failed-fetch", b"\x83" + CSV + b'"IBM",8')


if __name__ == "__main__":
    for fn in (http, firewall, ftp, ftp_listing, smtp, mime, japanese, strings, display, quotes):
        fn()
    sys.exit(0)
