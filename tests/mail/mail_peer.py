"""Independent peer for the mail text layer tests: Python's own codecs and e-mail parser.

Usage: mail_peer.py MODE INFILE OUTFILE
INFILE and OUTFILE hold one case per line, hex-encoded, so any bytes pass unchanged.
Only the standard library is used (binascii, base64, quopri, email).
"""
import base64
import binascii
import email
import email.charset
import email.header
import email.policy
import quopri
import sys


def decode_uu(data):
    out = b""
    for line in data.splitlines():
        if not line:
            continue
        if line.startswith(b"begin "):
            continue
        if line.strip() in (b"`", b"end") or line[:1] == b"`":
            break
        out += binascii.a2b_uu(line)
    return out


def encode_uu(data):
    lines = [binascii.b2a_uu(data[i:i + 45], backtick=True) for i in range(0, len(data), 45)]
    return b"".join(lines) + (b"`\n" if data else b"")


def header_value(field):
    """Reads 'Subject: ...' header lines and returns the decoded value as UTF-8."""
    msg = email.message_from_bytes(field + b"\r\n\r\n", policy=email.policy.default)
    return str(msg["Subject"]).encode("utf-8")


def header_address(field):
    msg = email.message_from_bytes(field + b"\r\n\r\n", policy=email.policy.default)
    addr = msg["From"].addresses[0]
    return (addr.display_name + "\n" + addr.addr_spec).encode("utf-8")


def header_recipients(field):
    """Reads a 'To: ...' field and returns 'name|address' of every recipient, one a line."""
    msg = email.message_from_bytes(field + b"\r\n\r\n", policy=email.policy.default)
    rows = [a.display_name + "|" + a.addr_spec for a in msg["To"].addresses]
    return "\n".join(rows).encode("utf-8")


def header_words_alone(field):
    """Decodes every encoded word of a 'Subject: ...' field on its own, strictly: a word that
    holds part of a character fails. Returns the joined text, or 'SPLIT <word>'."""
    import re
    out = ""
    for word in re.findall(rb"=\?[^?\s]+\?[QqBb]\?[^?\s]*\?=", field):
        [(data, charset)] = email.header.decode_header(word.decode("ascii"))
        try:
            out += data.decode(charset, "strict")
        except UnicodeDecodeError:
            return b"SPLIT " + word
    return out.encode("utf-8")


def python_header(text, letter):
    cs = email.charset.Charset("utf-8")
    cs.header_encoding = email.charset.QP if letter == "Q" else email.charset.BASE64
    value = email.header.Header(text.decode("utf-8"), cs, header_name="Subject").encode()
    return ("Subject: " + value.replace("\n", "\r\n")).encode("ascii")


MODES = {
    "decode-qp": binascii.a2b_qp,
    "decode-base64": binascii.a2b_base64,
    "decode-uu": decode_uu,
    "encode-qp-binary": lambda d: binascii.b2a_qp(d, istext=False),
    "encode-qp-text": quopri.encodestring,
    "encode-base64": base64.encodebytes,
    "encode-uu": encode_uu,
    "read-subject": header_value,
    "read-from": header_address,
    "read-to": header_recipients,
    "words-alone": header_words_alone,
    "encode-header-q": lambda t: python_header(t, "Q"),
    "encode-header-b": lambda t: python_header(t, "B"),
}


def main():
    mode, infile, outfile = sys.argv[1:4]
    fn = MODES[mode]
    with open(infile, "r", encoding="ascii") as f:
        rows = [line.strip() for line in f if line.strip()]
    cases = [b"" if row == "-" else bytes.fromhex(row) for row in rows]
    with open(outfile, "w", encoding="ascii") as f:
        for case in cases:
            result = fn(case)
            f.write((result.hex() or "-") + "\n")


if __name__ == "__main__":
    main()
