#!/usr/bin/python3
"""A stand-in for the appliance's role web service, for the tests.

Usage: role_server.py DIR [CERT KEY]

Listens on 127.0.0.1 on a free port, over HTTPS when a certificate and its
key are given, and writes the port to DIR/port once it listens. Every request
(method, path, every header) is appended to DIR/requests as one JSON line
before it is answered; header values are recorded as hex of their bytes.

Each answer is made from what DIR holds at that moment:
  DIR/body        the reply body, bytes as they are (missing: empty)
  DIR/reply.json  {"status": 200, "piece": 0, "close": false, "drop": false,
                   "stall": false, "headers": {}, "length": null}
                  status: the HTTP status; piece > 0: the body is sent in
                  chunks of that many bytes; close: the request is read and
                  recorded, then the connection is closed without any answer;
                  drop: the connection is closed as soon as it is accepted,
                  before the request is read (nothing is recorded); stall:
                  the request is read and recorded, and never answered; headers:
                  added to the answer; length: the Content-Length announced
                  instead of the body's own (more than is sent: a truncated
                  body).
With ROLE_WORKER_UID=N in the environment, the process that binds the port
(root, as a web server's master process) forks a worker that takes the uid
and gid N and accepts and answers every connection, while the master only
waits.

Runs until it is killed.
"""
import http.server
import json
import ctypes
import os
import signal
import ssl
import sys
import threading
import time

DIR = sys.argv[1]
LOCK = threading.Lock()


def read(name, default):
    try:
        with open(os.path.join(DIR, name), "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def record(self):
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v.encode("latin-1").hex()] for k, v in self.headers.items()],
        }
        with LOCK, open(os.path.join(DIR, "requests"), "a") as f:
            f.write(json.dumps(entry) + "\n")

    @staticmethod
    def control():
        control = {"status": 200, "piece": 0, "close": False, "drop": False,
                   "stall": False, "headers": {}, "length": None}
        control.update(json.loads(read("reply.json", b"{}")))
        return control

    def handle(self):
        if not self.control()["drop"]:
            super().handle()

    def answer(self):
        self.record()
        control = self.control()
        self.close_connection = True
        if control["close"]:
            return
        while control["stall"]:
            time.sleep(3600)
        body = read("body", b"")
        self.send_response(control["status"])
        self.send_header("Content-Type", "application/json")
        self.send_header("Connection", "close")
        for name, value in control["headers"].items():
            self.send_header(name, value)
        piece = control["piece"]
        if piece > 0:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(0, len(body), piece):
                chunk = body[i : i + piece]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                self.wfile.flush()
            self.wfile.write(b"0\r\n\r\n")
        else:
            length = control["length"]
            self.send_header("Content-Length", str(len(body) if length is None else length))
            self.end_headers()
            self.wfile.write(body)

    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = do_CONNECT = answer

    def log_message(self, format, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # Many gates may ask at once (the load test); the default backlog of 5
    # would make the kernel drop their connection attempts for a while.
    request_queue_size = 256


def main():
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    port_file = os.path.join(DIR, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    worker = os.environ.get("ROLE_WORKER_UID")
    if worker is not None:
        if os.fork() != 0:
            os.wait()
            return
        os.setgroups([])
        os.setgid(int(worker))
        os.setuid(int(worker))
        # PR_SET_PDEATHSIG, after the change of identity, which clears it:
        # the worker dies with the master.
        ctypes.CDLL(None).prctl(1, signal.SIGKILL)
        if os.getppid() == 1:
            return
    server.serve_forever()


if __name__ == "__main__":
    main()
