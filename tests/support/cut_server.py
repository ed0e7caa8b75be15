"""Plain HTTP on loopback behind the test nginx: answers every GET with one file, in full unless
told otherwise. Each request takes the first line of FILE.answers (when there is one) and answers as
it says:
  cut      the whole length announced, half of the body sent, the connection closed
  reset    the same, then closed with a TCP reset
  stall    the same, then nothing for 45 s before closing
  503      Service Unavailable with Retry-After: 1
  404      Not Found
  damaged  the whole body with its first byte changed
Every request appends its answer's word (ok when none was asked for) as a line to FILE.log.

Usage: cut_server.py FILE PORTFILE. The chosen port is written to PORTFILE once listening.
"""
import http.server
import os
import socket
import struct
import sys
import threading
import time

lock = threading.Lock()


def next_answer(path):
    with lock:
        try:
            with open(path + ".answers") as answers:
                lines = answers.read().split()
        except FileNotFoundError:
            lines = []
        answer = lines[0] if lines else "ok"
        if lines:
            with open(path + ".answers", "w") as answers:
                answers.write("\n".join(lines[1:]))
        with open(path + ".log", "a") as log:
            log.write(answer + "\n")
        return answer


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        answer = next_answer(sys.argv[1])
        if answer in ("503", "404"):
            self.send_response(int(answer))
            if answer == "503":
                self.send_header("Retry-After", "1")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(sys.argv[1], "rb") as source:
            body = source.read()
        if answer == "damaged":
            body = bytes([body[0] ^ 0xFF]) + body[1:]
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if answer in ("cut", "reset", "stall"):
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            if answer == "stall":
                time.sleep(45)
            if answer == "reset":
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(sys.argv[2] + ".new", "w") as port_file:
    port_file.write(str(server.server_address[1]))
os.rename(sys.argv[2] + ".new", sys.argv[2])
server.serve_forever()
