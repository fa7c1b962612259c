#!/usr/bin/env python3
"""A scripted HTTP server on loopback for what a real server will not do.

Usage: http_fault_server.py  -- listens on 127.0.0.1, a free port, and prints
"PORT <n>" on its first output line. Ends when its standard input closes (the
test that started it went away) or on SIGTERM.

Paths:
  /short      200 with Content-Length 1000, then 500 bytes and a clean close
  /nostatus   reads the request and closes without a byte of answer
  /stall      200 with Content-Length 100 and 10 bytes, then silence
  /silent     reads the request and never answers
  /reset      200 with Content-Length 100000 and 1000 bytes, then a reset
  /chunkcut   200 chunked, one chunk, then a clean close without the last chunk
  /endless    200 chunked, chunks for as long as the client reads
  /huge       200 with Content-Length 1 TB, then bytes for as long as the
              client reads
  /auth       401 asking for Basic credentials; the body says whether the
              request carried an Authorization header ("had credentials" or
              "no credentials"), so a test sees what a host was sent
  http://...  (a request line with an absolute URL: proxy mode) 407 unless the
              Proxy-Authorization header carries Basic proxyuser:proxypass,
              then 200 with the body "via proxy"
"""

import base64
import socket
import socketserver
import struct
import sys
import threading
import time

PROXY_CREDENTIALS = base64.b64encode(b"proxyuser:proxypass").decode()
# Connections hold at most this long, so a killed test leaves nothing behind.
HOLD_SECONDS = 60


def read_request(sock):
    data = b""
    while b"\r\n\r\n" not in data and len(data) < 65536:
        chunk = sock.recv(4096)
        if not chunk:
            return None, {}
        data += chunk
    head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    lines = head.split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers


def hold(sock):
    sock.settimeout(HOLD_SECONDS)
    try:
        while sock.recv(4096):
            pass
    except OSError:
        pass


def stream(sock, block):
    """Sends block after block until the client goes away, at most HOLD_SECONDS."""
    end = time.monotonic() + HOLD_SECONDS
    try:
        while time.monotonic() < end:
            sock.sendall(block)
    except OSError:
        pass


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        request_line, headers = read_request(sock)
        if request_line is None:
            return
        parts = request_line.split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        if target.startswith("http://"):
            self.proxy(sock, headers)
        elif target == "/short":
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n")
            sock.sendall(b"x" * 500)
        elif target == "/nostatus":
            pass
        elif target == "/stall":
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + b"y" * 10)
            hold(sock)
        elif target == "/silent":
            hold(sock)
        elif target == "/reset":
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"z" * 1000)
            time.sleep(0.2)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif target == "/endless":
            sock.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
            stream(sock, b"%x\r\n%s\r\n" % (65536, b"e" * 65536))
        elif target == "/huge":
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\n")
            stream(sock, b"h" * 65536)
        elif target == "/auth":
            seen = b"had credentials" if "authorization" in headers else b"no credentials"
            sock.sendall(b"HTTP/1.1 401 Unauthorized\r\n"
                         b"WWW-Authenticate: Basic realm=\"other host\"\r\n"
                         b"Content-Length: %d\r\n\r\n" % len(seen) + seen)
        elif target == "/chunkcut":
            sock.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n")
        else:
            sock.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")

    def proxy(self, sock, headers):
        auth = headers.get("proxy-authorization", "")
        if auth == "Basic " + PROXY_CREDENTIALS:
            body = b"via proxy"
            sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        else:
            body = b"proxy says no"
            sock.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                         b"Proxy-Authenticate: Basic realm=\"proxy\"\r\n"
                         b"Content-Length: %d\r\n\r\n" % len(body) + body)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()  # until the test closes its end
    server.shutdown()


if __name__ == "__main__":
    main()
