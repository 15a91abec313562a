#!/usr/bin/python3
"""A small OAuth 2.0 identity service for the mail tests, on 127.0.0.1.

It plays the provider's endpoints that Tramelon talks to and the
introspection endpoint that Dovecot and the test SMTP server ask:

  POST /device      device authorization (RFC 8628): a device code and a user code
  POST /token       grant_type device_code (answers authorization_pending
                    a set number of times, then grants), refresh_token (issues
                    a new access token and a new refresh token: the old one is
                    dead at once) and authorization_code (PKCE S256 checked)
  GET  /authorize   approves at once: redirects to redirect_uri with a code
  POST /introspect  {"active": "true", "username": ...} for a live access token

Each test registers a client of its own, so that tests running side by side
do not disturb one another:

  POST /admin/client   client_id, username, lifetime (seconds an access token
                       lives), pending (authorization_pending answers before the
                       grant), outcome (grant, access_denied, expired_token),
                       answer (endless: /device and /token answer 200 and
                       then stream bytes until the client hangs up, or for
                       at most a minute; the stats tell how many were sent
                       and whether the client hung up)
  POST /admin/revoke   client_id: every token of the client is dead
  GET  /admin/stats?client_id=...   what the client did, as JSON

Usage: identity-service.py PORT [NAME]
(NAME, the instance's log file, only tells scripts/mail-servers which process is its own.)
"""
import base64
import hashlib
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

lock = threading.Lock()
clients = {}        # client_id -> settings and counters
refresh_tokens = {}  # token -> client_id
access_tokens = {}   # token -> (client_id, expiry)
device_codes = {}    # device code -> client_id
auth_codes = {}      # code -> (client_id, challenge, redirect_uri)


def new_client(form):
    return {
        "username": form.get("username", "box"),
        "lifetime": int(form.get("lifetime", "3600")),
        "pending": int(form.get("pending", "0")),
        "outcome": form.get("outcome", "grant"),
        "device_polls": 0,
        "refreshes": 0,
        "refused_refreshes": 0,
        "current_refresh": "",
        "access_issued": 0,
        "answer": form.get("answer", ""),
        "streamed": 0,
        "hung_up": False,
    }


def issue(client_id):
    client = clients[client_id]
    access = "at-" + secrets.token_urlsafe(24)
    refresh = "rt-" + secrets.token_urlsafe(24)
    for token, owner in list(refresh_tokens.items()):
        if owner == client_id:
            del refresh_tokens[token]
    refresh_tokens[refresh] = client_id
    access_tokens[access] = (client_id, time.time() + client["lifetime"])
    client["current_refresh"] = refresh
    client["access_issued"] += 1
    return {"access_token": access, "refresh_token": refresh, "token_type": "Bearer",
            "expires_in": client["lifetime"]}


class Handler(BaseHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("identity: " + (fmt % args) + "\n")

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(data)

    def error(self, code, status=400):
        self.reply(status, {"error": code})

    def form(self):
        length = int(self.headers.get("Content-Length", "0"))
        raw = self.rfile.read(length).decode()
        return {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        with lock:
            if url.path == "/admin/stats":
                client = clients.get(query.get("client_id", ""))
                return self.reply(200, client or {}) if client else self.error("unknown", 404)
            if url.path == "/authorize":
                return self.authorize(query)
        self.error("not_found", 404)

    def authorize(self, query):
        client_id = query.get("client_id", "")
        if client_id not in clients or query.get("code_challenge_method") != "S256":
            return self.error("invalid_request")
        code = "ac-" + secrets.token_urlsafe(16)
        auth_codes[code] = (client_id, query.get("code_challenge", ""), query.get("redirect_uri", ""))
        target = query.get("redirect_uri", "") + "?" + urllib.parse.urlencode(
            {"code": code, "state": query.get("state", "")})
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def endless(self, client):
        """Answers 200 with a body that never ends, until the client hangs up."""
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.end_headers()
        chunk = b"{\"access_token\": \"" + b"a" * 65536
        sent, hung_up, until = 0, False, time.time() + 60
        try:
            while time.time() < until:
                self.wfile.write(chunk)
                sent += len(chunk)
                chunk = b"a" * 65536
        except (BrokenPipeError, ConnectionResetError):
            hung_up = True
        with lock:
            client["streamed"] += sent
            client["hung_up"] = hung_up
        self.close_connection = True

    def do_POST(self):
        form = self.form()
        with lock:
            client = clients.get(form.get("client_id", ""))
        if self.path in ("/device", "/token") and client and client["answer"] == "endless":
            return self.endless(client)
        with lock:
            if self.path == "/admin/client":
                clients[form["client_id"]] = new_client(form)
                return self.reply(200, {"ok": True})
            if self.path == "/admin/revoke":
                client_id = form.get("client_id", "")
                for table in (refresh_tokens,):
                    for token, owner in list(table.items()):
                        if owner == client_id:
                            del table[token]
                for token, (owner, _) in list(access_tokens.items()):
                    if owner == client_id:
                        del access_tokens[token]
                return self.reply(200, {"ok": True})
            if self.path == "/introspect":
                entry = access_tokens.get(form.get("token", ""))
                if entry and entry[1] > time.time():
                    return self.reply(200, {"active": "true",
                                            "username": clients[entry[0]]["username"]})
                return self.reply(200, {"active": "false"})
            if self.path == "/device":
                return self.device(form)
            if self.path == "/token":
                return self.token(form)
        self.error("not_found", 404)

    def device(self, form):
        client_id = form.get("client_id", "")
        if client_id not in clients:
            return self.error("invalid_client", 401)
        code = "dc-" + secrets.token_urlsafe(16)
        device_codes[code] = client_id
        port = self.server.server_address[1]
        self.reply(200, {"device_code": code, "user_code": "WDJB-MJHT",
                         "verification_uri": "http://127.0.0.1:%d/device-login" % port,
                         "expires_in": 600, "interval": 1})

    def token(self, form):
        grant = form.get("grant_type", "")
        client_id = form.get("client_id", "")
        client = clients.get(client_id)
        if client is None:
            return self.error("invalid_client", 401)
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            if device_codes.get(form.get("device_code", "")) != client_id:
                return self.error("invalid_grant")
            client["device_polls"] += 1
            if client["device_polls"] <= client["pending"]:
                return self.error("authorization_pending")
            if client["outcome"] != "grant":
                return self.error(client["outcome"])
            del device_codes[form["device_code"]]
            return self.reply(200, issue(client_id))
        if grant == "refresh_token":
            if refresh_tokens.get(form.get("refresh_token", "")) != client_id:
                client["refused_refreshes"] += 1
                return self.error("invalid_grant")
            client["refreshes"] += 1
            return self.reply(200, issue(client_id))
        if grant == "authorization_code":
            entry = auth_codes.pop(form.get("code", ""), None)
            verifier = form.get("code_verifier", "").encode()
            challenge = base64.urlsafe_b64encode(
                hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
            if (entry is None or entry[0] != client_id or entry[1] != challenge
                    or entry[2] != form.get("redirect_uri", "")):
                return self.error("invalid_grant")
            return self.reply(200, issue(client_id))
        self.error("unsupported_grant_type")


def main():
    server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
