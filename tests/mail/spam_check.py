"""SpamAssassin scores what the application sends beside what Python's email package writes.

Usage: spam_check.py KADENZA TEST_MESSAGE_SEND SMTP_PEER MAKE_TEST_CERTS

Each case (the Czech weekly message with one attachment, text only, three attachments of
different types, the setup window's test message) is stored the way the setup window stores
it (setup.dat with the password in the file, zprava.dat, the attachments as files) in a
private home, and sent by the application's own send code: `kadenza --send-now` for the
stored message, test-message-send (the setup window opened on the stored settings and its
test button clicked) for the test message. They go to aiosmtpd on 127.0.0.1 (smtp_peer.py:
TLS from the first byte with a certificate of a test CA that is the only one trusted, log-in
required) and are taken as they arrived. The same content is written by Python's email
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
USER = "jan.novak@example.cz"  # the log-in name, which is also the sender
PASSWORD = "Tajné heslo"
TO = "petr.svoboda@example.cz"
OWN = "jan.osobni@example.cz"  # the own address, where the test message goes


def pdf():
    return (b"%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
            b"2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n"
            b"%%EOF\n")


def png():
    # A 1x1 PNG.
    return bytes.fromhex(
        "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
        "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")


# name, subject, text, attachments (file name, bytes); the test message has no subject or
# text of its own in the settings, only the account.
CASES = [
    ("stored_czech_one_attachment", "Týdenní přehled prodeje", CZECH,
     [("přehled prodeje.pdf", pdf())]),
    ("text_only", "Týdenní přehled", CZECH, []),
    ("three_attachments", "Podklady k poradě", CZECH,
     [("zápis z porady.txt", "Zápis z porady\r\nBod 1: rozpočet\r\n".encode()),
      ("graf.png", png()), ("smlouva č. 2.pdf", pdf())]),
    ("test_message", None, None, []),
]


def content(case):
    """What the application sends for a case: sender, recipients, subject, text, HTML, files."""
    name, subject, text, files = case
    if subject is None:
        return USER, OWN, "Kadenza", TEST_TEXT, TEST_HTML, files
    return USER, TO, subject, text, "", files


def python_message(case, date, msgid):
    sender, to, subject, text, html, files = content(case)
    msg = EmailMessage()
    msg["From"] = sender
    msg["To"] = to
    msg["Subject"] = subject
    msg["Date"] = date
    msg["Message-ID"] = msgid
    msg.set_content(text)
    if html:
        msg.add_alternative(html, subtype="html")
    for name, data in files:
        ctype = mimetypes.guess_type(name)[0] or "application/octet-stream"
        main, sub = ctype.split("/")
        msg.add_attachment(data, maintype=main, subtype=sub, filename=name)
    return msg.as_bytes(policy=email.policy.SMTP)


class Peer:
    def __init__(self, script, workdir, certs):
        self.dir = os.path.join(workdir, "peer")
        os.mkdir(self.dir)
        port_file = os.path.join(self.dir, "port")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", script, "--port-file", port_file, "--outdir", self.dir,
             "--mode", "tls", "--cert", os.path.join(certs, "good.pem"),
             "--key", os.path.join(certs, "good.key"), "--user", USER, "--password", PASSWORD])
        for _ in range(400):
            if os.path.exists(port_file) and open(port_file).read().strip():
                self.port = int(open(port_file).read())
                return
            time.sleep(0.05)
        self.stop()
        raise SystemExit("spam_check: the SMTP peer did not start")

    def stop(self):
        self.process.terminate()
        self.process.wait()


def hx(text):
    return text.encode().hex().upper()


def store(case, port, workdir):
    """Writes the case's settings into a private home as the setup window stores them (the
    account and addresses as hex of their UTF-8 bytes, the text as UTF-8 with a byte-order
    mark) and returns the environment that points the application at it."""
    name, subject, text, files = case
    home = os.path.join(workdir, name)
    data = os.path.join(home, "data", "Kadenza")
    os.makedirs(data, mode=0o700)
    attachments = []
    for file_name, content in files:
        path = os.path.join(home, "files", file_name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        attachments.append(path)
    attachments += [""] * (3 - len(attachments))
    setup = f"""[SMTP]
server={hx("127.0.0.1")}
port={port}
ssl=0
[User]
name={hx(USER)}
[Heslo]
pass={hx(PASSWORD)}
[Email]
MyMail={hx(OWN)}
[Prijemce]
komu={hx(TO)}
[Predmet]
predmet={subject or ""}
[Soubor]
priloha1={attachments[0]}
priloha2={attachments[1]}
priloha3={attachments[2]}
"""
    stored = [("setup.dat", setup.encode())]
    if text is not None:
        stored.append(("zprava.dat", ("\ufeff" + text.replace("\n", "\r\n")).encode()))
    for file_name, content in stored:
        path = os.path.join(data, file_name)
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, 0o600)
    run = os.path.join(home, "run")
    os.mkdir(run, mode=0o700)
    env = {k: v for k, v in os.environ.items() if not k.startswith("DBUS_")}
    env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_RUNTIME_DIR=run,
               QT_QPA_PLATFORM="offscreen")
    return env


def ours(case, program, peer, workdir, certs, n):
    env = store(case, peer.port, workdir)
    env.update(SSL_CERT_FILE=os.path.join(certs, "ca.pem"), SSL_CERT_DIR=certs)
    result = subprocess.run(program, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise SystemExit("spam_check: %s: %s failed: %s" % (
            case[0], os.path.basename(program[0]), result.stderr.decode(errors="replace")))
    path = os.path.join(peer.dir, "%d.eml" % n)
    for _ in range(100):
        if os.path.exists(path):
            break
        time.sleep(0.05)
    with open(path, "rb") as f:
        return f.read()


def parts(data):
    """The decoded subject and the leaf parts (type, file name, bytes) of a message, so that
    ours is seen to carry the same content as Python's before the scores are compared."""
    msg = email.message_from_bytes(data, policy=email.policy.default)
    return str(msg["Subject"]), [
        (p.get_content_type(), p.get_filename(), p.get_payload(decode=True))
        for p in msg.walk() if not p.is_multipart()]


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
    kadenza, test_message_send, peer_script, make_certs = sys.argv[1:5]
    workdir = tempfile.mkdtemp(prefix="kz-spam-")
    try:
        certs = os.path.join(workdir, "certs")
        os.mkdir(certs)
        subprocess.run(["sh", make_certs, certs], check=True)
        peer = Peer(peer_script, workdir, certs)
        try:
            ours_messages = []
            for i, case in enumerate(CASES):
                program = [kadenza, "--send-now"] if case[1] is not None else [test_message_send]
                ours_messages.append(ours(case, program, peer, workdir, certs, i + 1))
        finally:
            peer.stop()
        python_messages = []
        for case, data in zip(CASES, ours_messages):
            written = email.message_from_bytes(data)
            python_messages.append(python_message(case, written["Date"], written["Message-ID"]))
        failed = False
        for case, data, theirs in zip(CASES, ours_messages, python_messages):
            (subject, mine), (py_subject, py_parts) = parts(data), parts(theirs)
            # Text parts may differ in the final line break; names, types and files may not.
            strip = [(t, n, b.rstrip(b"\r\n") if n is None else b) for t, n, b in mine]
            py_strip = [(t, n, b.rstrip(b"\r\n") if n is None else b) for t, n, b in py_parts]
            if subject != py_subject or strip != py_strip:
                print("%s: ours does not carry the content Python's does:\n  %s %s\n  %s %s" % (
                    case[0], subject, [(t, n, len(b)) for t, n, b in mine], py_subject,
                    [(t, n, len(b)) for t, n, b in py_parts]))
                failed = True
        scores = score(ours_messages + python_messages, workdir)
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
