#!/usr/bin/python3
"""SMTP servers for the mail tests: one open port and one that requires AUTH;
given an introspection address, a third port that signs in with AUTH XOAUTH2
only, asking the identity service whether the bearer token is live.

The open one offers SMTPUTF8, the other does not: both kinds of server are
met in the field.

Both store each mail exactly as it came in DATA (dot-unstuffed, nothing
re-encoded, line ends as sent) into the same Maildir, after two lines that
hold the envelope: "X-MailFrom: <sender>" and "X-RcptTo: <r1>, <r2>", each
ended by CR LF. The tests read the envelope there and the wire bytes after.
A recipient whose local part is "refus-" and a reply code (refus-550@x) is
refused at RCPT with that code.
Each PORT:MECHS after those (MECHS among XOAUTH2, OAUTHBEARER, PLAIN, comma
separated) is one more port offering exactly those mechanisms: the tokens
signed in as above (OAUTHBEARER names its user in "a=", with "=2C" and "=3D"),
PLAIN always refused.
Usage: smtp-server.py MAILDIR PORT AUTH_PORT USER PASSWORD [OAUTH_PORT INTROSPECT_URL
       [PORT:MECHS...]]
"""
import base64
import json
import urllib.parse
import urllib.request
import itertools
import os
import signal
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class WireMaildir:
    def __init__(self, path):
        self.path = path
        self.serial = itertools.count()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        # A recipient "refus-NNN@..." is refused with that reply code, so that
        # the tests see how a client takes a lasting or a passing refusal.
        local = address.split("@")[0]
        if local.startswith("refus-") and local[6:].isdigit():
            return "%s refus de test pour %s" % (local[6:], address)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        head = ("X-MailFrom: %s\r\nX-RcptTo: %s\r\n"
                % (envelope.mail_from, ", ".join(envelope.rcpt_tos)))
        name = "%d.%d_%d.wire" % (time.time_ns(), os.getpid(), next(self.serial))
        tmp = os.path.join(self.path, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(head.encode("utf-8", "surrogateescape") + envelope.original_content)
        # Renamed into new/ whole, so that a reader never sees half a mail.
        os.rename(tmp, os.path.join(self.path, "new", name))
        return "250 OK"


class OAuthMaildir(WireMaildir):
    """Takes AUTH XOAUTH2: "user=NAME^Aauth=Bearer TOKEN^A^A", the token live
    for that user at the identity service."""

    def __init__(self, path, introspect_url):
        super().__init__(path)
        self.introspect_url = introspect_url

    def token_user(self, token):
        data = urllib.parse.urlencode({"token": token}).encode()
        with urllib.request.urlopen(self.introspect_url, data, timeout=10) as answer:
            info = json.load(answer)
        return info.get("username") if info.get("active") == "true" else None

    @staticmethod
    async def initial_response(server, args):
        """The client's first SASL answer: on the AUTH line, or asked for;
        None when the client gave up."""
        if len(args) > 1:
            return base64.b64decode(args[1], validate=True)
        response = await server.challenge_auth("")
        return response if isinstance(response, bytes) else None

    async def auth_XOAUTH2(self, server, args):
        pairs = {}
        try:
            response = await self.initial_response(server, args)
            if response is None:
                return AuthResult(success=False, handled=True)
            fields = response.decode().split("\x01")
            pairs = dict(f.split("=", 1) for f in fields if "=" in f)
            token = pairs.get("auth", "").removeprefix("Bearer ")
            ok = bool(token) and self.token_user(token) == pairs.get("user", "")
        except (ValueError, OSError):
            ok = False
        return AuthResult(success=ok, handled=False, auth_data=pairs.get("user") if ok else None)


class TokenMaildir(OAuthMaildir):
    """Also takes AUTH OAUTHBEARER: "n,a=USER,^Aauth=Bearer TOKEN^A^A"."""

    async def auth_OAUTHBEARER(self, server, args):
        user = ""
        try:
            response = await self.initial_response(server, args)
            if response is None:
                return AuthResult(success=False, handled=True)
            header, _, rest = response.decode().partition("\x01")
            for field in header.split(","):
                if field.startswith("a="):
                    user = field[2:].replace("=2C", ",").replace("=3D", "=")
            pairs = dict(f.split("=", 1) for f in rest.split("\x01") if "=" in f)
            token = pairs.get("auth", "").removeprefix("Bearer ")
            ok = bool(token) and self.token_user(token) == user
        except (ValueError, OSError):
            ok = False
        return AuthResult(success=ok, handled=False, auth_data=user if ok else None)


def main():
    maildir, port, auth_port, user, password = sys.argv[1:6]

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode() == user
              and auth_data.password.decode() == password)
        # handled=False: aiosmtpd answers the refusal (535) itself.
        return AuthResult(success=ok, handled=False)

    handler = WireMaildir(maildir)
    plain = Controller(handler, hostname="127.0.0.1", port=int(port),
                       enable_SMTPUTF8=True, decode_data=False)
    secured = Controller(handler, hostname="127.0.0.1", port=int(auth_port),
                         authenticator=authenticator, auth_required=True,
                         auth_require_tls=False, enable_SMTPUTF8=False)
    plain.start()
    secured.start()
    servers = [plain, secured]
    if len(sys.argv) > 7:
        # Like the providers' servers that no longer take passwords, it still
        # offers LOGIN and PLAIN but refuses every password.
        oauth = Controller(OAuthMaildir(maildir, sys.argv[7]), hostname="127.0.0.1",
                           port=int(sys.argv[6]),
                           authenticator=lambda *_: AuthResult(success=False, handled=False),
                           auth_required=True, auth_require_tls=False, enable_SMTPUTF8=False)
        oauth.start()
        servers.append(oauth)
    for variant in sys.argv[8:]:
        variant_port, mechs = variant.split(":")
        wanted = set(mechs.split(","))
        server = Controller(TokenMaildir(maildir, sys.argv[7]), hostname="127.0.0.1",
                            port=int(variant_port),
                            authenticator=lambda *_: AuthResult(success=False, handled=False),
                            auth_required=True, auth_require_tls=False, enable_SMTPUTF8=False,
                            auth_exclude_mechanism=list(
                                {"LOGIN", "PLAIN", "XOAUTH2", "OAUTHBEARER"} - wanted))
        server.start()
        servers.append(server)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    for server in servers:
        server.stop()


if __name__ == "__main__":
    main()
