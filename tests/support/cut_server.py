"""Plain HTTP on loopback behind the test nginx: answers every GET with one file, but the first
CUTS answers announce the whole length and stop after half of the body, closing the connection.

Usage: cut_server.py FILE CUTS PORTFILE. The chosen port is written to PORTFILE once listening.
"""
import http.server
import os
import socket
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    cuts_left = int(sys.argv[2])

    def do_GET(self):
        with open(sys.argv[1], "rb") as source:
            body = source.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if Handler.cuts_left > 0:
            Handler.cuts_left -= 1
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[3] + ".new", "w") as port_file:
    port_file.write(str(server.server_address[1]))
os.rename(sys.argv[3] + ".new", sys.argv[3])
server.serve_forever()
