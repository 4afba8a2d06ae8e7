"""Independent MIME peer for the message tests: Python's own email package.

Usage:
  message_peer.py describe FILE       parse FILE (default policy) and print its description
  message_peer.py build NAME FILE     write message NAME built by Python to FILE and print
                                      the description of what was put into it

A description is one line per item, tab-separated, every value hex-encoded ("-" if empty):
  subject <hex>     from <hex>     to <hex> (addresses joined by ", ")
  part <content-type> <file name> <payload>
Parts are the leaves of the tree, depth first. A text payload is the decoded text with line
ends as LF and final line ends removed; other payloads are the decoded bytes.
Only the standard library is used.
"""
import email
import email.policy
import sys
from email.message import EmailMessage


def h(value):
    if isinstance(value, str):
        value = value.encode("utf-8")
    return value.hex() or "-"


def text_payload(text):
    return text.replace("\r\n", "\n").rstrip("\n")


def describe(msg):
    out = ["subject\t" + h(str(msg.get("Subject", "")))]
    frm = msg.get("From")
    out.append("from\t" + h(", ".join(a.addr_spec if not a.display_name else
                                      a.display_name + " <" + a.addr_spec + ">"
                                      for a in frm.addresses) if frm else ""))
    to = msg.get("To")
    out.append("to\t" + h(", ".join(a.addr_spec for a in to.addresses) if to else ""))
    for part in msg.walk():
        if part.is_multipart():
            continue
        ctype = part.get_content_type()
        name = part.get_filename() or ""
        if part.get_content_maintype() == "text" and part.get_content_disposition() != "attachment":
            payload = text_payload(part.get_content()).encode("utf-8")
        else:
            payload = part.get_payload(decode=True) or b""
        out.append("part\t%s\t%s\t%s" % (ctype, h(name), h(payload)))
    return out


def binary(n, seed):
    state = seed
    out = bytearray()
    for _ in range(n):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(state >> 16 & 0xFF)
    return bytes(out)


CZECH = "Příliš žluťoučký kůň úpěl ďábelské ódy"


def build(name):
    msg = EmailMessage()
    msg["Subject"] = "Zpráva " + name + " – " + CZECH
    msg["From"] = "Jan Novák <jan@example.cz>"
    msg["To"] = "Petr Svoboda <petr@example.cz>, eva@example.cz"
    policy = email.policy.SMTP
    if name == "mixed":
        msg.set_content(CZECH + "\nDruhý řádek.\n")
        msg.add_attachment(binary(5000, 1), maintype="application", subtype="pdf",
                           filename="přihláška.pdf")
        msg.add_attachment(b"plain ascii file\n", maintype="text", subtype="plain",
                           filename="notes.txt")
    elif name == "alternative":
        msg.set_content("Plain text with ünïcödé\n", cte="quoted-printable")
        msg.add_alternative("<p>HTML with <b>ünïcödé</b></p>\n", subtype="html", cte="base64")
        policy = email.policy.default  # LF line ends
    elif name == "related":
        msg.set_content("<p>Logo: <img src=\"cid:logo@example.cz\"></p>\n", subtype="html")
        msg.add_related(binary(700, 2), maintype="image", subtype="png",
                        cid="<logo@example.cz>", filename="logo.png")
    elif name == "rfc2047-name":
        msg.set_content("Body\n")
        msg.add_attachment(binary(300, 3), maintype="application", subtype="octet-stream",
                           filename="x.bin")
        part = msg.get_payload()[1]
        del part["Content-Disposition"]
        part["Content-Disposition"] = 'attachment; filename="=?utf-8?q?smlouva_=C4=8D=2E_2.pdf?="'
    elif name == "rfc2231-continued":
        msg.set_content("Body\n", cte="base64")
        msg.add_attachment(binary(100, 4), maintype="application", subtype="octet-stream",
                           filename="dlouhý název přílohy " * 6 + ".bin")
    elif name == "single-qp":
        msg.set_content(CZECH + "\n" + "dlouhý řádek " * 20 + "\n", cte="quoted-printable")
    elif name == "single-base64":
        msg.set_content(CZECH + "\n", cte="base64")
    else:
        raise SystemExit("unknown message " + name)
    return msg, policy


def main():
    mode = sys.argv[1]
    if mode == "describe":
        with open(sys.argv[2], "rb") as f:
            msg = email.message_from_bytes(f.read(), policy=email.policy.default)
        print("\n".join(describe(msg)))
    elif mode == "build":
        msg, policy = build(sys.argv[2])
        data = msg.as_bytes(policy=policy)
        with open(sys.argv[3], "wb") as f:
            f.write(data)
        # Described from the bytes written, as an independent reader sees them.
        print("\n".join(describe(email.message_from_bytes(data, policy=email.policy.default))))
    else:
        raise SystemExit("unknown mode " + mode)


if __name__ == "__main__":
    main()
