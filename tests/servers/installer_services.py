#!/usr/bin/env python3
"""A local installer configuration service and setup server, for the demo and the tests.

  installer_services.py --setup FILE [--config TEXT] [--error TEXT] [--prompt TEXT]
                        [--tls-dir DIR]

Serves on 127.0.0.1 at a free port, printed as the first line on standard output; with
--tls-dir, over HTTPS with a CA and server certificate made for the run in DIR (the CA is
DIR/ca.pem). Routes:
  GET /config                               the configuration answer (Success, or Error with
                                            --error)
  GET /kov-latest-setup.exe                 the bytes of FILE, with a Content-Length
  GET /chunked/kov-latest-setup.exe         the same, chunked, without a length
  GET /status/N/kov-latest-setup.exe        the same with status N
  GET /trickle/kov-latest-setup.exe         the same, 1,024 bytes every 50 ms
  GET /log                                  the paths asked for so far, one a line (not /log)
Every request is logged on standard error as one line: method, path and headers.
"""

import argparse
import json
import re
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

import tls_server


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--setup", required=True)
    parser.add_argument("--config", default='{"channel":"stable"}')
    parser.add_argument("--error")
    parser.add_argument("--prompt")
    parser.add_argument("--tls-dir", type=Path)
    args = parser.parse_args()

    if args.error is not None:
        answer = {"error": args.error}
    else:
        answer = {"config": args.config}
        if args.prompt is not None:
            answer["prompt"] = args.prompt
    answer_bytes = json.dumps(answer).encode("utf-8")
    with open(args.setup, "rb") as setup:
        setup_bytes = setup.read()

    asked = []
    asked_lock = threading.Lock()

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            print(json.dumps({"method": "GET", "path": self.path,
                              "headers": list(self.headers.items())}),
                  file=sys.stderr, flush=True)
            if self.path == "/log":
                with asked_lock:
                    self.reply(200, "text/plain", "".join(p + "\n" for p in asked).encode())
                return
            with asked_lock:
                asked.append(self.path)
            status = re.fullmatch(r"/status/(\d+)/kov-latest-setup\.exe", self.path)
            if self.path.split("?")[0] == "/config":
                self.reply(200, "application/json", answer_bytes)
            elif self.path == "/kov-latest-setup.exe":
                self.reply(200, "application/octet-stream", setup_bytes)
            elif status:
                self.reply(int(status.group(1)), "application/octet-stream", setup_bytes)
            elif self.path == "/chunked/kov-latest-setup.exe":
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                for at in range(0, len(setup_bytes), 65536):
                    piece = setup_bytes[at:at + 65536]
                    self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                self.wfile.write(b"0\r\n\r\n")
            elif self.path == "/trickle/kov-latest-setup.exe":
                self.send_response(200)
                self.send_header("Content-Length", str(len(setup_bytes)))
                self.end_headers()
                try:
                    for at in range(0, len(setup_bytes), 1024):
                        self.wfile.write(setup_bytes[at:at + 1024])
                        self.wfile.flush()
                        time.sleep(0.05)
                except OSError:
                    pass  # the client gave up, as a cancelled download does
            else:
                self.reply(404, "text/plain", b"not found")

        def reply(self, status, content_type, body):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    if args.tls_dir is None:
        server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    else:
        certs = tls_server.make_certs(args.tls_dir.resolve())
        server = tls_server.TlsServer(tls_server.server_context(certs.server), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
