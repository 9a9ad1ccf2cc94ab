#!/usr/bin/env python3
"""Drives the client's pages through the web engine's remote-debugging port (standard
library only).

  devtools.py PORT list                   one line per page: its address
  devtools.py PORT eval ADDRESS_PART JS   evaluates JS (awaiting a promise) in the first page
                                          whose address contains ADDRESS_PART; prints the
                                          value as JSON; exit 1 when no page matches
"""
import base64
import json
import os
import socket
import struct
import sys
import urllib.parse
import urllib.request


def pages(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json", timeout=5) as answer:
        return [p for p in json.load(answer) if p.get("type") == "page"]


class Socket:
    def __init__(self, url):
        parts = urllib.parse.urlparse(url)
        self.sock = socket.create_connection((parts.hostname, parts.port), timeout=20)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(
            (f"GET {parts.path} HTTP/1.1\r\nHost: {parts.hostname}:{parts.port}\r\n"
             "Upgrade: websocket\r\nConnection: Upgrade\r\n"
             f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                raise OSError("closed during the handshake")
            head += chunk
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise OSError(head.decode(errors="replace"))

    def send(self, text):
        data = text.encode()
        mask = os.urandom(4)
        header = bytes([0x81])
        if len(data) < 126:
            header += bytes([0x80 | len(data)])
        elif len(data) < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", len(data))
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", len(data))
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise OSError("closed")
            data += chunk
        return data

    def receive(self):
        message = b""
        while True:
            first, second = self.exact(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", self.exact(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", self.exact(8))[0]
            payload = self.exact(size)
            opcode = first & 0x0F
            if opcode in (0x1, 0x0):
                message += payload
                if first & 0x80:
                    return message.decode()
            elif opcode == 0x8:
                raise OSError("closed by the page")


def evaluate(port, address_part, expression):
    for page in pages(port):
        if address_part in page.get("url", ""):
            ws = Socket(page["webSocketDebuggerUrl"])
            ws.send(json.dumps({"id": 1, "method": "Runtime.evaluate", "params": {
                "expression": expression, "awaitPromise": True, "returnByValue": True,
                "userGesture": True}}))
            while True:
                answer = json.loads(ws.receive())
                if answer.get("id") == 1:
                    result = answer.get("result", {})
                    if "exceptionDetails" in result:
                        print(json.dumps({"exception": result["exceptionDetails"].get("text")}))
                        return 2
                    print(json.dumps(result.get("result", {}).get("value")))
                    return 0
    return 1


def main():
    port, command = sys.argv[1], sys.argv[2]
    try:
        if command == "list":
            for page in pages(port):
                print(page.get("url", ""))
            return 0
        if command == "eval":
            return evaluate(port, sys.argv[3], sys.argv[4])
    except OSError as error:
        print(f"devtools: {error}", file=sys.stderr)
        return 3
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main())
