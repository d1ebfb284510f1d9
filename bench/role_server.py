#!/usr/bin/python3
"""The benchmark's stand-in for the appliance's role web service.

Usage: role_server.py PORT_FILE HITS_FILE [CERT KEY]

Listens on 127.0.0.1 on a free port, over HTTPS when a certificate and its key
are given, and writes the port to PORT_FILE once it listens. Every request is
answered with the account role information of the internal administrator and
counted by one line appended to HITS_FILE. Runs until it is killed.
"""
import http.server
import os
import ssl
import sys

BODY = b'{"user": "admin", "group_value": {"1": 5, "2": 5, "3": 5, "4": 5, "5": 5}}'


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[2], "a") as hits:
            hits.write(self.path + "\n")
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(BODY)))
        self.end_headers()
        self.wfile.write(BODY)

    def log_message(self, format, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
if len(sys.argv) == 5:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[3], sys.argv[4])
    server.socket = context.wrap_socket(server.socket, server_side=True)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
