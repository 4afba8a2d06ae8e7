"""Reads one delivered message with Python's email package and writes what the tests check
into a folder: from, to, subject, message-id and bcc (each a file holding the decoded header
value; bcc only when the field is present), text (the text/plain body), html (the text/html
body, when there is one), and each attachment as attach-N (N from 1, in order) with its file
name in attach-N.name.

Usage: mail_summary.py MESSAGE.eml OUTDIR
"""
import email
import email.policy
import os
import sys


def write(outdir, name, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    kwargs = {} if isinstance(data, bytes) else {"encoding": "utf-8", "newline": ""}
    with open(os.path.join(outdir, name), mode, **kwargs) as f:
        f.write(data)


def main():
    path, outdir = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    for field in ("from", "to", "subject", "message-id", "bcc"):
        if msg[field] is not None:
            write(outdir, field, str(msg[field]))
    for kind in ("plain", "html"):
        body = msg.get_body(preferencelist=(kind,))
        if body is not None and not body.is_attachment():
            write(outdir, "text" if kind == "plain" else "html", body.get_content())
    for n, part in enumerate(msg.iter_attachments(), 1):
        write(outdir, "attach-%d" % n, part.get_payload(decode=True))
        write(outdir, "attach-%d.name" % n, part.get_filename() or "")
    return 0


if __name__ == "__main__":
    sys.exit(main())
