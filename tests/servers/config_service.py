#!/usr/bin/env python3
"""A loopback configuration service for the tests: canned answers, and a log of every request
head exactly as it arrived.

  config_service.py --answers FILE --log FILE [--until-stdin-closes]
                    [--tls-cert FILE --tls-key FILE]

FILE (answers) is a JSON object mapping a path (without the query) to its answer:
  {"/config": {"status": 200, "body": "{\\"config\\":\\"x\\"}"}}
Other paths get 404. Serves on 127.0.0.1 at a free port, printed as the first line on standard
output. Each request head (request line, header lines, blank line) is appended to the log file
byte for byte; every answer closes its connection. With --until-stdin-closes the service ends
when its standard input reaches its end, so it never outlives a test process that died. With
--tls-cert (the server certificate, then what it sends along) and --tls-key it speaks https.
"""

import argparse
import json
import os
import socketserver
import ssl
import sys
import threading


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--answers", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--until-stdin-closes", action="store_true")
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    args = parser.parse_args()

    with open(args.answers, encoding="utf-8") as answers_file:
        answers = json.load(answers_file)
    log = open(args.log, "ab", buffering=0)
    log_lock = threading.Lock()

    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            head = self.rfile.readline(65537)
            if not head:
                return
            while True:
                line = self.rfile.readline(65537)
                head += line
                if line in (b"\r\n", b"\n", b""):
                    break
            with log_lock:
                log.write(head)
            parts = head.split(b" ")
            target = parts[1].decode("latin-1") if len(parts) > 2 else ""
            answer = answers.get(target.split("?")[0].split("#")[0])
            if answer is None:
                status, body = 404, b"not found"
            else:
                status, body = answer["status"], answer["body"].encode("utf-8")
            self.wfile.write(b"HTTP/1.1 %d Answer\r\nContent-Type: application/json\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n" % (status, len(body))
                             + body)

    tls = None
    if args.tls_cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls_cert, args.tls_key)

    class Server(socketserver.ThreadingTCPServer):
        daemon_threads = True
        allow_reuse_address = True

        def finish_request(self, request, client_address):
            # The handshake runs in the connection's own thread; a refused one ends it.
            if tls is not None:
                try:
                    request = tls.wrap_socket(request, server_side=True)
                except (ssl.SSLError, OSError):
                    return
            super().finish_request(request, client_address)

    server = Server(("127.0.0.1", 0), Handler)
    if args.until_stdin_closes:
        def end_with_stdin():
            sys.stdin.buffer.read()
            os._exit(0)
        threading.Thread(target=end_with_stdin, daemon=True).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
