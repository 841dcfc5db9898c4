#!/usr/bin/env python3
"""An SMS gateway on 127.0.0.1 for the sender's tests.

Records each request as one JSON line in <record>.requests (method, path,
headers, body as latin-1 text, time) and answers by the list of behaviours
given: an HTTP status ("200", "500", "400", ...), "hang" (never answers) or
"lateN" (answers 200 after N seconds), one per request, the last one
repeating. A HEAD request (the sender's check) gets --head (default 405) and
uses up no behaviour. Writes the port it listens on to
<record>.port.
"""
import argparse
import http.server
import json
import threading
import time

p = argparse.ArgumentParser()
p.add_argument("--record", required=True)
p.add_argument("--answers", default="200")
p.add_argument("--head", type=int, default=405)
args = p.parse_args()
answers = args.answers.split(",")
lock = threading.Lock()
count = [0]


class Handler(http.server.BaseHTTPRequestHandler):
    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        with lock:
            n = count[0]
            if self.command != "HEAD":
                count[0] += 1
            with open(args.record + ".requests", "a") as f:
                f.write(json.dumps({"method": self.command, "path": self.path,
                                    "headers": {k.lower(): v for k, v in self.headers.items()},
                                    "body": body.decode("latin-1"), "t": time.time()}) + "\n")
        if self.command == "HEAD":
            self.send_response(args.head)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        what = answers[min(n, len(answers) - 1)]
        if what == "hang":
            time.sleep(3600)
            return
        if what.startswith("late"):
            time.sleep(float(what[4:]))
            what = "200"
        status = int(what)
        reply = b'{"status":"queued"}' if status == 200 else b"Interner Fehler"
        try:
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)
        except (BrokenPipeError, ConnectionResetError):
            pass  # a late answer to a sender that gave up

    do_GET = do_POST = do_PUT = do_HEAD = handle_any

    def log_message(self, *a):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
with open(args.record + ".port.tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(args.record + ".port.tmp", args.record + ".port")
server.serve_forever()
