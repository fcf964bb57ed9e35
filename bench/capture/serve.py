#!/usr/bin/env python3
"""Serve the benchmark corpus on loopback only, with an optional per-request delay.

  python3 serve.py [--dir corpus] [--port 18865] [--sites N]

With --sites N the corpus is served on 127.0.0.1 to 127.0.0.N, the same port on each: N sites for a
browser (each address is a site of its own), as the links of a real directory are.

Any request may carry ?delay=MS (0..30000): the response is held back that long
before anything is sent, which is how the corpus's "slow" pages load slowly.
GET /__stats returns {"requests": N, "delayed": N, "bytes": N} as JSON.
"""
import argparse
import functools
import http.server
import ipaddress
import json
import os
import sys
import threading
import time
import urllib.parse

MAX_DELAY_MS = 30000
LOOPBACK = ("127.0.0.1", "localhost", "::1")


def parse_delay_ms(path):
    """Return the delay in ms requested by ?delay=MS, clamped to 0..MAX_DELAY_MS."""
    query = urllib.parse.urlsplit(path).query
    values = urllib.parse.parse_qs(query).get("delay")
    if not values:
        return 0
    try:
        return max(0, min(MAX_DELAY_MS, int(values[0])))
    except ValueError:
        return 0


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.requests = self.delayed = self.bytes = 0

    def add(self, delayed, nbytes):
        with self.lock:
            self.requests += 1
            self.delayed += 1 if delayed else 0
            self.bytes += nbytes

    def as_dict(self):
        with self.lock:
            return {"requests": self.requests, "delayed": self.delayed, "bytes": self.bytes}


class DelayHandler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"   # keep-alive, as a real site would offer
    stats = None                    # set by make_server

    def do_GET(self):
        if self.path == "/__stats":
            body = json.dumps(self.stats.as_dict()).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        delay = parse_delay_ms(self.path)
        if delay:
            time.sleep(delay / 1000.0)
        f = self.send_head()
        nbytes = 0
        if f:
            try:
                data = f.read()
                nbytes = len(data)
                self.wfile.write(data)
            finally:
                f.close()
        self.stats.add(delay > 0, nbytes)

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, fmt, *args):  # quiet: logging would cost CPU during the benchmark
        pass


class LoopbackServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128


def is_loopback(host):
    try:
        return host in LOOPBACK or ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def make_server(directory, host="127.0.0.1", port=18865):
    if not is_loopback(host):
        raise ValueError("refusing to listen on non-loopback address %r" % host)
    handler = functools.partial(DelayHandler, directory=os.path.abspath(directory))
    DelayHandler.stats = Stats()
    return LoopbackServer((host, port), handler)


def site_hosts(sites):
    """The loopback addresses that serve as separate sites: 127.0.0.1 to 127.0.0.N."""
    if not 1 <= sites <= 254:
        raise ValueError("--sites must be 1 to 254")
    return ["127.0.0.%d" % n for n in range(1, sites + 1)]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--dir", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=18865)
    ap.add_argument("--sites", type=int, default=0, help="serve on 127.0.0.1 to 127.0.0.N instead of --host")
    args = ap.parse_args(argv)
    hosts = site_hosts(args.sites) if args.sites else [args.host]
    servers = []
    for host in hosts:
        servers.append(make_server(args.dir, host, args.port))
    for server in servers[1:]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print("serving %s on http://%s:%d/ (pid %d)" % (args.dir, ", ".join(hosts), args.port, os.getpid()), flush=True)
    try:
        servers[0].serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        for server in servers:
            server.server_close()


if __name__ == "__main__":
    sys.exit(main())
