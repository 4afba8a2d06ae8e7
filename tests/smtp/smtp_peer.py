"""An aiosmtpd server for the SMTP client's tests, on 127.0.0.1 only.

Usage: smtp_peer.py --port-file F --outdir D [--mode plain|starttls|tls]
                    [--cert C --key K] [--user U --password P] [--stall-after-data]
                    [--size-limit N] [--fail-data N] [--port P]

Writes the port it listens on to F once it accepts connections. Every message that arrives
is stored as D/N.eml (the data after un-stuffing, byte for byte) and D/N.env (the sender
and the recipients, one per line). With --user, log-in is required (LOGIN and CRAM-MD5).
A recipient whose address starts with "nobody@" is refused with 550, a sender whose address
starts with "blocked@" with 553; with --size-limit, a message of more than N bytes is refused
with 552. With --stall-after-data the message is stored but the reply to its final dot never
comes (a client cut off between the dot and the reply). With --fail-data N the first N
messages are answered "451 4.3.0 Try again later" at their final dot and not stored. With
--port the server listens on that port instead of a free one. Runs until killed.
"""
import argparse
import asyncio
import hmac
import logging
import os
import secrets
import socket
import ssl
import sys
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword, SMTP


class Handler:
    def __init__(self, outdir, user, password, stall=False, fail_data=0):
        self.outdir = outdir
        self.stall = stall
        self.fail_data = fail_data
        self.count = 0
        self.user = user.encode() if user else None
        self.password = password.encode() if password else None

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if address.startswith("blocked@"):
            return "553 5.7.1 Sender address rejected: not owned by user"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("nobody@"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.fail_data > 0:
            self.fail_data -= 1
            return "451 4.3.0 Try again later"
        self.count += 1
        base = os.path.join(self.outdir, str(self.count))
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".env", "w") as f:
            f.write("\n".join([envelope.mail_from] + envelope.rcpt_tos) + "\n")
        os.rename(base + ".eml.tmp", base + ".eml")
        if self.stall:
            await asyncio.sleep(3600)
        return "250 OK stored"

    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%s.%d@127.0.0.1>" % (secrets.token_hex(8), int(time.time()))).encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes) or b" " not in answer:
            return AuthResult(success=False)
        user, digest = answer.rsplit(b" ", 1)
        expected = hmac.new(self.password, challenge, "md5").hexdigest().encode()
        ok = user == self.user and hmac.compare_digest(digest, expected)
        return AuthResult(success=ok, handled=False)


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        return AuthResult(success=ok, handled=False)
    return check


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TlsController(Controller):
    # Readiness is checked over TLS when the server speaks TLS from the first byte.
    def _trigger_server(self):
        if self.ssl_context is None:
            return super()._trigger_server()
        client = ssl.create_default_context()
        client.check_hostname = False
        client.verify_mode = ssl.CERT_NONE
        with socket.create_connection((self.hostname, self.port), 1.0) as raw:
            with client.wrap_socket(raw) as s:
                s.recv(1024)


def main():
    warnings.filterwarnings("ignore")
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--outdir", required=True)
    p.add_argument("--mode", default="plain", choices=["plain", "starttls", "tls"])
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--stall-after-data", action="store_true")
    p.add_argument("--size-limit", type=int)
    p.add_argument("--fail-data", type=int, default=0)
    p.add_argument("--port", type=int)
    a = p.parse_args()

    handler = Handler(a.outdir, a.user, a.password, a.stall_after_data, a.fail_data)
    kwargs = dict(hostname="127.0.0.1", port=a.port or free_port())
    smtp_kwargs = {}
    if a.size_limit:
        smtp_kwargs["data_size_limit"] = a.size_limit
    if a.mode != "plain":
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(a.cert, a.key)
        if a.mode == "starttls":
            smtp_kwargs.update(tls_context=ctx, require_starttls=True)
        else:
            kwargs["ssl_context"] = ctx
    if a.user:
        smtp_kwargs.update(authenticator=authenticator(a.user, a.password), auth_required=True,
                           auth_require_tls=False)
    controller = TlsController(handler, server_kwargs=smtp_kwargs, **kwargs) \
        if smtp_kwargs else TlsController(handler, **kwargs)
    controller.start()
    with open(a.port_file + ".tmp", "w") as f:
        f.write(str(controller.port))
    os.rename(a.port_file + ".tmp", a.port_file)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
