"""Reads a multipart/form-data body with Python's email package.

  webform_check.py TYPE BODY OUT

TYPE holds the Content-Type value, BODY the request body. OUT gets one line per part:
"part" TAB disposition TAB name-hex TAB value-hex; a defect or a body that is not multipart
gives a line that starts otherwise, and an exit status of 0 still.
"""
import email
import email.policy
import sys

ctype = open(sys.argv[1], "rb").read()
body = open(sys.argv[2], "rb").read()
msg = email.message_from_bytes(
    b"MIME-Version: 1.0\r\nContent-Type: " + ctype + b"\r\n\r\n" + body,
    policy=email.policy.compat32)
lines = []
if msg.defects:
    lines.append("defects\t%r" % (msg.defects,))
if not msg.is_multipart():
    lines.append("not multipart")
else:
    for part in msg.get_payload():
        if part.defects:
            lines.append("defects\t%r" % (part.defects,))
        disposition = part.get_content_disposition() or ""
        name = part.get_param("name", header="content-disposition") or ""
        if isinstance(name, tuple):
            name = email.utils.collapse_rfc2231_value(name)
        value = part.get_payload(decode=True) or b""
        lines.append("part\t%s\t%s\t%s" % (disposition,
                                         name.encode("latin-1", "surrogateescape").hex(),
                                         value.hex()))
with open(sys.argv[3], "w") as out:
    out.write("".join(l + "\n" for l in lines))
