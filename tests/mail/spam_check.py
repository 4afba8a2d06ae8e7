"""SpamAssassin scores what we write beside what Python's email package writes.

Usage: spam_check.py MIME_BUILD SMTP_SEND SMTP_PEER

For each case (the Czech weekly message with one attachment, text only, three attachments of
different types, the setup window's test message) the message is built by mime-build, sent by
smtp-send as a ready message through the SMTP client's header steps to aiosmtpd on 127.0.0.1
(smtp_peer.py), and taken as it arrived. The same content is written by Python's email
package (policy SMTP, with a Date and a Message-ID like ours). SpamAssassin in local mode
(spamassassin -L -t, one run over an mbox of all messages, Bayes and auto-learning off, a
home of its own) scores both. The check fails when a rule fires for ours that does not fire
for Python's; both scores are printed. Exit status 0 on success, 1 on a failed check,
77 when SpamAssassin is missing.
"""
import email
import email.policy
import email.utils
import mimetypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from email.message import EmailMessage

CZECH = "Dobrý den,\npříliš žluťoučký kůň úpěl ďábelské ódy.\n\nS pozdravem\nJan Novák\n"
TEST_TEXT = "Kadenza - Testovací zpráva"
TEST_HTML = ("<html><body><p>Toto je testovací zpráva aplikace Kadenza.</p>"
             "<p>Dorazila-li vám, je nastavení odesílání v pořádku.</p></body></html>")
FROM = "jan.novak@example.cz"
TO = "petr.svoboda@example.cz"


def pdf():
    return (b"%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
            b"2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n"
            b"%%EOF\n")


def png():
    # A 1x1 PNG.
    return bytes.fromhex(
        "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
        "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")


CASES = [
    ("stored_czech_one_attachment", "Týdenní přehled prodeje", CZECH, "",
     [("přehled prodeje.pdf", pdf())]),
    ("text_only", "Týdenní přehled", CZECH, "", []),
    ("three_attachments", "Podklady k poradě", CZECH, "",
     [("zápis z porady.txt", "Zápis z porady\r\nBod 1: rozpočet\r\n".encode()),
      ("graf.png", png()), ("smlouva č. 2.pdf", pdf())]),
    ("test_message", "Kadenza", TEST_TEXT, TEST_HTML, []),
]


def python_message(subject, text, html, files, date, msgid):
    msg = EmailMessage()
    msg["From"] = FROM
    msg["To"] = TO
    msg["Subject"] = subject
    msg["Date"] = date
    msg["Message-ID"] = msgid
    msg.set_content(text.replace("\r\n", "\n"))
    if html:
        msg.add_alternative(html, subtype="html")
    for name, data in files:
        ctype = mimetypes.guess_type(name)[0] or "application/octet-stream"
        main, sub = ctype.split("/")
        msg.add_attachment(data, maintype=main, subtype=sub, filename=name)
    return msg.as_bytes(policy=email.policy.SMTP)


class Peer:
    def __init__(self, script, workdir):
        self.dir = os.path.join(workdir, "peer")
        os.mkdir(self.dir)
        port_file = os.path.join(self.dir, "port")
        self.process = subprocess.Popen(["/usr/bin/python3", script, "--port-file", port_file,
                                         "--outdir", self.dir])
        for _ in range(400):
            if os.path.exists(port_file) and open(port_file).read().strip():
                self.port = int(open(port_file).read())
                return
            time.sleep(0.05)
        raise SystemExit("spam_check: the SMTP peer did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait()


def ours(case, mime_build, smtp_send, peer, workdir, n):
    name, subject, text, html, files = case
    folder = os.path.join(workdir, name)
    os.mkdir(folder)
    args = [mime_build, "--from", FROM, "--to", TO, "--subject", subject, "--charset", "UTF-8"]
    with open(os.path.join(folder, "text.txt"), "w", encoding="utf-8") as f:
        f.write(text)
    args += ["--text", os.path.join(folder, "text.txt")]
    if html:
        with open(os.path.join(folder, "text.html"), "w", encoding="utf-8") as f:
            f.write(html)
        args += ["--html", os.path.join(folder, "text.html")]
    for file_name, data in files:
        path = os.path.join(folder, file_name)
        with open(path, "wb") as f:
            f.write(data)
        args += ["--attach", path]
    eml = os.path.join(folder, "built.eml")
    with open(eml, "wb") as out:
        subprocess.run(args, stdout=out, check=True)
    subprocess.run([smtp_send, "--server", "127.0.0.1", "--port", str(peer.port), "--tls", "none",
                    "--message", eml], check=True)
    with open(os.path.join(peer.dir, "%d.eml" % n), "rb") as f:
        return f.read()


def mbox_entry(data, tag):
    # SpamAssassin does not keep the order of an mbox: each message carries its tag (the same
    # header for ours and Python's, so it cannot tip the scores). mboxrd quoting: a line
    # starting with ">*From " gets one more ">".
    data = b"X-Check-Id: " + tag.encode() + b"\r\n" + data
    lines = data.replace(b"\r\n", b"\n").split(b"\n")
    quoted = [b">" + l if l.lstrip(b">").startswith(b"From ") else l for l in lines]
    return b"From spam-check@localhost Thu Jan  1 00:00:00 1970\n" + b"\n".join(quoted) + b"\n"


def score(messages, workdir):
    home = os.path.join(workdir, "home")
    os.mkdir(home)
    mbox = os.path.join(workdir, "all.mbox")
    with open(mbox, "wb") as f:
        for i, data in enumerate(messages):
            f.write(mbox_entry(data, str(i)))
    prefs = os.path.join(home, "user_prefs")
    with open(prefs, "w") as f:
        f.write("use_bayes 0\nbayes_auto_learn 0\n")
    env = dict(os.environ, HOME=home)
    result = subprocess.run(["spamassassin", "-L", "-t", "--mbox", "-p", prefs, mbox],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, check=True)
    out = {}
    for part in (b"\n" + result.stdout).split(b"\nFrom spam-check@localhost")[1:]:
        msg = email.message_from_bytes(part.split(b"\n", 1)[1])
        # The folded list of rules continues after a comma and white space.
        status = re.sub(r",\s+", ",", " ".join(str(msg.get("X-Spam-Status", "")).split()))
        tag = str(msg.get("X-Check-Id", "")).strip()
        if not status or not tag.isdigit():
            continue
        found_score = re.search(r"\bscore=(-?[0-9.]+)", status)
        found_tests = re.search(r"\btests=(\S*)", status)
        if found_score is None:
            continue
        tests = found_tests.group(1) if found_tests else ""
        out[int(tag)] = (float(found_score.group(1)),
                         set(t for t in tests.split(",") if t and t != "none"))
    if sorted(out) != list(range(len(messages))):
        raise SystemExit("spam_check: SpamAssassin scored %d of %d messages"
                         % (len(out), len(messages)))
    return out


def main():
    if shutil.which("spamassassin") is None:
        print("spam_check: spamassassin is missing (Debian package spamassassin)")
        return 77
    mime_build, smtp_send, peer_script = sys.argv[1:4]
    workdir = tempfile.mkdtemp(prefix="kz-spam-")
    try:
        peer = Peer(peer_script, workdir)
        try:
            ours_messages = [ours(c, mime_build, smtp_send, peer, workdir, i + 1)
                             for i, c in enumerate(CASES)]
        finally:
            peer.stop()
        python_messages = []
        for case, data in zip(CASES, ours_messages):
            written = email.message_from_bytes(data)
            python_messages.append(python_message(case[1], case[2], case[3], case[4],
                                                  written["Date"], written["Message-ID"]))
        scores = score(ours_messages + python_messages, workdir)
        failed = False
        print("%-30s %8s %8s  %s" % ("message", "ours", "python", "rules only ours fire"))
        for i, case in enumerate(CASES):
            (ours_score, ours_rules), (py_score, py_rules) = scores[i], scores[len(CASES) + i]
            extra = sorted(ours_rules - py_rules)
            print("%-30s %8.1f %8.1f  %s" % (case[0], ours_score, py_score,
                                            ",".join(extra) or "-"))
            print("    ours:   %s" % (",".join(sorted(ours_rules)) or "-"))
            print("    python: %s" % (",".join(sorted(py_rules)) or "-"))
            failed = failed or bool(extra)
        return 1 if failed else 0
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
