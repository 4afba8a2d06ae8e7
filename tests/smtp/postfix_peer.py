"""A private Postfix set up as a strict submission server, for the tests, on 127.0.0.1 only.

Usage: postfix_peer.py --dir D --port-file F --cert C --key K --user U --password P
                       --domain DOMAIN

Builds a Postfix instance of its own under D (configuration, queue, data and a mailbox
folder; nothing of the system's Postfix is used or touched) that speaks TLS from the first
byte on a free port of 127.0.0.1, requires log-in (LOGIN and PLAIN, checked against U and P
by a small authentication service that speaks Dovecot's protocol on a socket in D), and
applies the restrictions strict submission servers use:

    smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname
    strict_rfc821_envelopes = yes
    smtpd_forbid_bare_newline = yes
    smtpd_sender_restrictions = reject_non_fqdn_sender

Every recipient of DOMAIN is delivered by Postfix's virtual(8) agent into D/mail/inbox (mbox
format). Postfix's own log goes to D/maillog. Writes the port to F once Postfix answers.
When Postfix cannot run here, writes "skip: <reason>" to F instead and exits 0. Runs until
SIGTERM, then stops Postfix.
"""
import argparse
import base64
import os
import pwd
import grp
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

POSTFIX = shutil.which("postfix") or "/usr/sbin/postfix"

MASTER_CF = """\
{listen} inet n - n - - smtpd -o smtpd_tls_wrappermode=yes -o smtpd_tls_security_level=encrypt
cleanup   unix  n - n - 0 cleanup
qmgr      unix  n - n 300 1 qmgr
tlsmgr    unix  - - n 1000? 1 tlsmgr
rewrite   unix  - - n - - trivial-rewrite
bounce    unix  - - n - 0 bounce
defer     unix  - - n - 0 bounce
trace     unix  - - n - 0 bounce
verify    unix  - - n - 1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n - - proxymap
smtp      unix  - - n - - smtp
relay     unix  - - n - - smtp
error     unix  - - n - - error
retry     unix  - - n - - error
discard   unix  - - n - - discard
virtual   unix  - n n - - virtual
anvil     unix  - - n - 1 anvil
scache    unix  - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
"""

MAIN_CF = """\
compatibility_level = 3.6
queue_directory = {dir}/queue
data_directory = {dir}/data
mail_owner = {owner}
setgid_group = {setgid}
myhostname = mx.example.test
mydomain = example.test
myorigin = example.test
mydestination =
relayhost =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks =
maillog_file_prefixes = {dir}
maillog_file = {dir}/maillog
virtual_mailbox_domains = {domain}
virtual_mailbox_base = {dir}/mail
virtual_mailbox_maps = static:inbox
virtual_uid_maps = static:{uid}
virtual_gid_maps = static:{gid}
virtual_minimum_uid = 1
smtpd_tls_cert_file = {cert}
smtpd_tls_key_file = {key}
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = {dir}/auth.sock
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname
strict_rfc821_envelopes = yes
smtpd_forbid_bare_newline = yes
smtpd_sender_restrictions = reject_non_fqdn_sender
smtpd_recipient_restrictions = reject_non_fqdn_recipient, permit_sasl_authenticated, reject
"""


class AuthService:
    """The server side of Dovecot's authentication protocol (version 1.2) for one user."""

    def __init__(self, path, user, password):
        self.user = user.encode()
        self.password = password.encode()
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(path)
        os.chmod(path, 0o666)
        self.sock.listen(8)
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            conn, _ = self.sock.accept()
            threading.Thread(target=self.talk, args=(conn,), daemon=True).start()

    def talk(self, conn):
        conn.sendall(b"VERSION\t1\t2\nMECH\tPLAIN\tplaintext\nMECH\tLOGIN\tplaintext\n"
                     b"SPID\t1\nCUID\t1\nCOOKIE\t" + b"0" * 32 + b"\nDONE\n")
        pending = {}
        buffer = b""
        while True:
            data = conn.recv(4096)
            if not data:
                return
            buffer += data
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                reply = self.handle(line.split(b"\t"), pending)
                if reply:
                    conn.sendall(reply + b"\n")

    def check(self, user, password):
        return user == self.user and password == self.password

    def handle(self, words, pending):
        if words[0] == b"AUTH":
            rid, mech = words[1], words[2].upper()
            params = dict(w.split(b"=", 1) for w in words[3:] if b"=" in w)
            if mech == b"PLAIN":
                if b"resp" not in params:
                    pending[rid] = [b"PLAIN"]
                    return b"CONT\t" + rid + b"\t"
                return self.plain(rid, base64.b64decode(params[b"resp"]))
            if mech == b"LOGIN":
                pending[rid] = [b"LOGIN"]
                return b"CONT\t" + rid + b"\t" + base64.b64encode(b"Username:")
            return b"FAIL\t" + rid
        if words[0] == b"CONT":
            rid, answer = words[1], base64.b64decode(words[2] if len(words) > 2 else b"")
            state = pending.get(rid)
            if state is None:
                return b"FAIL\t" + rid
            if state[0] == b"PLAIN":
                del pending[rid]
                return self.plain(rid, answer)
            state.append(answer)
            if len(state) == 2:
                return b"CONT\t" + rid + b"\t" + base64.b64encode(b"Password:")
            del pending[rid]
            if self.check(state[1], state[2]):
                return b"OK\t" + rid + b"\tuser=" + state[1]
            return b"FAIL\t" + rid
        return b""

    def plain(self, rid, decoded):
        parts = decoded.split(b"\0")
        if len(parts) == 3 and self.check(parts[1], parts[2]):
            return b"OK\t" + rid + b"\tuser=" + parts[1]
        return b"FAIL\t" + rid


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as raw:
            with context.wrap_socket(raw) as s:
                return s.recv(100).startswith(b"220")
    except OSError:
        return False


def skip(port_file, reason):
    with open(port_file + ".tmp", "w") as f:
        f.write("skip: " + reason)
    os.rename(port_file + ".tmp", port_file)
    sys.exit(0)


def main():
    p = argparse.ArgumentParser()
    for name in ("--dir", "--port-file", "--cert", "--key", "--user", "--password", "--domain"):
        p.add_argument(name, required=True)
    a = p.parse_args()

    if not os.path.exists(POSTFIX):
        skip(a.port_file, "Postfix is not installed (Debian package postfix)")
    if os.geteuid() != 0:
        # The master and its daemons start as root and drop to the mail owner.
        skip(a.port_file, "Postfix's master must be started by root, and this test is not")
    try:
        owner = pwd.getpwnam("postfix")
        setgid = grp.getgrnam("postdrop")
    except KeyError:
        skip(a.port_file, "the postfix user or the postdrop group is missing")
    probe = subprocess.run(["postconf", "-d", "smtpd_forbid_bare_newline"],
                           capture_output=True, text=True)
    if "smtpd_forbid_bare_newline" not in probe.stdout:
        skip(a.port_file, "this Postfix has no smtpd_forbid_bare_newline")

    d = os.path.abspath(a.dir)
    # The daemons run as the mail owner and must reach their folders through this one.
    os.chmod(d, 0o755)
    for sub in ("etc", "queue", "data", "mail"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)
    os.chown(os.path.join(d, "data"), owner.pw_uid, owner.pw_gid)
    os.chmod(os.path.join(d, "data"), 0o700)
    os.chown(os.path.join(d, "mail"), owner.pw_uid, owner.pw_gid)
    # Certificate and key are read by the TLS daemons, which run as the mail owner (the
    # test's own copies may lie in a folder only root can enter).
    cert = os.path.join(d, "smtpd.pem")
    shutil.copyfile(a.cert, cert)
    os.chmod(cert, 0o644)
    key = os.path.join(d, "smtpd.key")
    shutil.copyfile(a.key, key)
    os.chown(key, owner.pw_uid, owner.pw_gid)
    os.chmod(key, 0o600)
    port = free_port()
    with open(os.path.join(d, "etc", "main.cf"), "w") as f:
        f.write(MAIN_CF.format(dir=d, owner=owner.pw_name, setgid=setgid.gr_name,
                               uid=owner.pw_uid, gid=owner.pw_gid, domain=a.domain,
                               cert=cert, key=key))
    with open(os.path.join(d, "etc", "master.cf"), "w") as f:
        f.write(MASTER_CF.format(listen="127.0.0.1:%d" % port))
    AuthService(os.path.join(d, "auth.sock"), a.user, a.password)

    conf = os.path.join(d, "etc")
    check = subprocess.run([POSTFIX, "-c", conf, "check"], capture_output=True, text=True)
    if check.returncode != 0:
        sys.stderr.write(check.stdout + check.stderr)
        sys.exit(1)
    # start-fg keeps the master in the foreground, a child of this process, so that it
    # ends with the test however the test ends.
    master = subprocess.Popen([POSTFIX, "-c", conf, "start-fg"])

    def stop(*_):
        subprocess.run([POSTFIX, "-c", conf, "stop"], capture_output=True)
        try:
            master.wait(timeout=5)
        except subprocess.TimeoutExpired:
            master.kill()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    for _ in range(200):
        if master.poll() is not None:
            sys.stderr.write("postfix_peer: the Postfix master ended at once; see %s/maillog\n" % d)
            sys.exit(1)
        if answers(port):
            break
        time.sleep(0.1)
    with open(a.port_file + ".tmp", "w") as f:
        f.write(str(port))
    os.rename(a.port_file + ".tmp", a.port_file)
    master.wait()


if __name__ == "__main__":
    main()
