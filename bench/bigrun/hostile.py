#!/usr/bin/env python3
"""Serve hostile pages on loopback only, for long runs that must survive them.

  python3 hostile.py [--port 18881]

Every path below answers on 127.0.0.1; any query string is ignored, so each link of a run can carry
its own (?n=LINE) and still reach the same page:

  /endless       a script that never yields while the page is parsed
  /loop          a script that never yields, started after the load event
  /dialogs       alert, confirm and prompt, and a page that refuses to be left
  /greedy        fills the renderer's memory after the load until it dies
  /trickle       a body sent one byte every 30 ms
  /tall          a page 100,000 pixels tall
  /away          leaves for /plain when loaded
  /refresh       reloads itself at once, forever
  /hang          accepts the request and never answers
  /stalled       a page whose image never arrives, so its load never ends
  /popup         opens a window that keeps sending its opener elsewhere
  /redirectloop  a redirect to itself
  /gone          404
  /plain         an ordinary page (where /away goes)

GET /__stats gives {"requests": N, "hanging": N} as JSON.
"""
import argparse
import http.server
import json
import threading
import urllib.parse

PAGES = {
    "/endless": "<body>x<script>for(;;){}</script><p>never parsed</p></body>",
    "/loop": "<body style='background:blue'><script>onload=function(){setTimeout(function(){for(;;){}},0)}"
             "</script></body>",
    "/dialogs": "<body style='margin:0'><script>alert('hi');confirm('sure?');prompt('name?');"
                "onbeforeunload=function(e){e.preventDefault();return 'stay';};"
                "document.body.style.background='rgb(0,255,0)';</script></body>",
    "/greedy": "<body>x<script>onload=()=>{const a=[];for(;;)a.push(new Array(1e7).fill(7))}</script></body>",
    "/tall": "<body style='margin:0'><div style='height:100000px;background:linear-gradient(red,blue)'></div>",
    "/away": "<body style='background:red'><script>onload=()=>location='/plain'</script></body>",
    "/refresh": "<meta http-equiv='refresh' content='0'><body style='background:red'>",
    "/stalled": "<body style='background:blue'><img src='/hang'></body>",
    "/popup": "<body style='background:#ff80ff'><script>window.open('/popupchild')</script></body>",
    "/popupchild": "<body><script>setTimeout(function(){setInterval(function(){opener.location='/plain'},200)},"
                   "2500)</script></body>",
    "/plain": "<body style='font-family:sans-serif'><h1>Plain page</h1><p>Where pages that move on go.</p></body>",
}
TRICKLE_BODY = b"<body style='background:blue'>" + b" " * 400 + b"</body>"
HANG_LIMIT_S = 600  # a hung request is let go at last, so the server's threads do not pile up forever


class Hostile(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    lock = threading.Lock()
    requests = 0
    hanging = 0
    stopping = threading.Event()

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        with Hostile.lock:
            Hostile.requests += 1
        if path == "/__stats":
            with Hostile.lock:
                self.reply(200, json.dumps({"requests": Hostile.requests, "hanging": Hostile.hanging}).encode(),
                           "application/json")
            return
        if path == "/hang":
            with Hostile.lock:
                Hostile.hanging += 1
            Hostile.stopping.wait(HANG_LIMIT_S)
            with Hostile.lock:
                Hostile.hanging -= 1
            self.close_connection = True
            return
        if path == "/redirectloop":
            self.send_response(302)
            self.send_header("Location", self.path)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path == "/gone":
            self.reply(404, b"<body><h1>Not here</h1></body>")
            return
        if path == "/trickle":
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(TRICKLE_BODY)))
            self.end_headers()
            try:
                for i in range(len(TRICKLE_BODY)):
                    self.wfile.write(TRICKLE_BODY[i:i + 1])
                    self.wfile.flush()
                    if Hostile.stopping.wait(0.03):
                        return
            except OSError:
                pass  # the browser gave up on it
            return
        page = PAGES.get(path)
        if page is None:
            self.reply(404, b"")
            return
        self.reply(200, page.encode())

    def reply(self, status, body, content_type="text/html; charset=utf-8"):
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)
        except OSError:
            pass

    def log_message(self, fmt, *args):
        pass


class LoopbackServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128


# The routes a run mixes in, in the order it takes them.
ROUTES = ["/endless", "/loop", "/dialogs", "/greedy", "/trickle", "/tall", "/away", "/refresh", "/hang",
          "/stalled", "/popup", "/redirectloop", "/gone"]


def make_server(port):
    return LoopbackServer(("127.0.0.1", port), Hostile)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--port", type=int, default=18881)
    args = ap.parse_args(argv)
    server = make_server(args.port)
    print("hostile pages on http://127.0.0.1:%d/" % args.port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        Hostile.stopping.set()


if __name__ == "__main__":
    main()
