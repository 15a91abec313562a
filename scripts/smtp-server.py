#!/usr/bin/python3
"""SMTP servers for the mail tests: one open port and one that requires AUTH.

Both write what they receive into the same Maildir; aiosmtpd adds the
X-MailFrom, X-RcptTo and X-Peer headers that the tests read the envelope from.
Usage: smtp-server.py MAILDIR PORT AUTH_PORT USER PASSWORD
"""
import signal
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import AuthResult, LoginPassword


def main():
    maildir, port, auth_port, user, password = sys.argv[1:6]

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login.decode() == user
              and auth_data.password.decode() == password)
        # handled=False: aiosmtpd answers the refusal (535) itself.
        return AuthResult(success=ok, handled=False)

    plain = Controller(Mailbox(maildir), hostname="127.0.0.1", port=int(port))
    secured = Controller(Mailbox(maildir), hostname="127.0.0.1", port=int(auth_port),
                         authenticator=authenticator, auth_required=True,
                         auth_require_tls=False)
    plain.start()
    secured.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    plain.stop()
    secured.stop()


if __name__ == "__main__":
    main()
