#!/usr/bin/env python3
"""Local HTTP and FTP servers for the string class's network tests.

Usage: local_servers.py ROOT

Serves, on 127.0.0.1 only and on ports the system picks:
  - HTTP: files under ROOT/http; "/status/NNN" answers with that status and a
    body; "/moved" redirects to "/hello.txt". Every request line and its
    User-Agent, Cache-Control and Pragma headers go to ROOT/http.log.
  - FTP (pyftpdlib): user "alice" with password "s3cret" at ROOT/ftp/alice,
    anonymous ("anonymous", or "ftp" with an e-mail address as password) at
    ROOT/ftp/anon, both with write rights. Every command goes to
    ROOT/ftp.log ("PASS" arguments hidden).
  - A "silent" port that accepts connections and never answers.
  - A "full" port whose queue of pending connections is kept full, so a new
    connection is never made: a host that cannot be reached.
Prints one line "http=<port> ftp=<port> silent=<port> full=<port>" when ready, and ends
by itself after 300 seconds should nobody stop it.
"""
import http.server
import logging
import os
import socket
import sys
import threading
import warnings

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root = sys.argv[1]
lock = threading.Lock()


def record(name, line):
    with lock, open(os.path.join(root, name), "a", encoding="latin-1") as f:
        f.write(line + "\n")


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=os.path.join(root, "http"), **kwargs)

    def do_GET(self):
        record("http.log", self.requestline)
        for h in ("User-Agent", "Cache-Control", "Pragma"):
            record("http.log", "%s: %s" % (h, self.headers.get(h, "")))
        if self.path.startswith("/status/"):
            code = int(self.path[len("/status/"):])
            body = b"error page"
            self.send_response(code)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if self.path == "/moved":
            self.send_response(302)
            self.send_header("Location", "/hello.txt")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        super().do_GET()

    def log_message(self, *args):
        pass


class Authorizer(DummyAuthorizer):
    """Also takes "ftp" as an anonymous login, with an e-mail address as password."""

    def validate_authentication(self, username, password, handler):
        if username == "ftp":
            if "@" not in password:
                raise AuthenticationFailed("an e-mail address is the password")
            return
        super().validate_authentication(username, password, handler)


class RecordingFtpHandler(FTPHandler):
    auth_failed_timeout = 0.1

    def pre_process_command(self, line, cmd, arg):
        record("ftp.log", "PASS ***" if cmd == "PASS" else line)
        return super().pre_process_command(line, cmd, arg)


def main():
    logging.disable(logging.CRITICAL)
    warnings.simplefilter("ignore")  # write rights for the anonymous login are wanted here
    for d in ("http", "ftp/alice", "ftp/anon"):
        os.makedirs(os.path.join(root, d), exist_ok=True)

    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()

    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(8)
    held = []

    def hold():
        while True:
            conn, _ = silent.accept()
            held.append(conn)

    threading.Thread(target=hold, daemon=True).start()

    full = socket.socket()
    full.bind(("127.0.0.1", 0))
    full.listen(0)
    for _ in range(3):
        filler = socket.socket()
        filler.setblocking(False)
        filler.connect_ex(full.getsockname())
        held.append(filler)

    auth = Authorizer()
    auth.add_user("alice", "s3cret", os.path.join(root, "ftp/alice"), perm="elradfmw")
    auth.add_user("ftp", "", os.path.join(root, "ftp/anon"), perm="elradfmw")
    auth.add_anonymous(os.path.join(root, "ftp/anon"), perm="elradfmw")
    RecordingFtpHandler.authorizer = auth
    RecordingFtpHandler.passive_ports = None
    ftpd = FTPServer(("127.0.0.1", 0), RecordingFtpHandler)

    threading.Timer(300, lambda: os._exit(0)).start()
    print("http=%d ftp=%d silent=%d full=%d" % (httpd.server_address[1], ftpd.address[1],
                                                 silent.getsockname()[1],
                                                 full.getsockname()[1]), flush=True)
    ftpd.serve_forever()


if __name__ == "__main__":
    main()
