#!/usr/bin/env python3
"""Serve a generated web (gen_web.py) from one process: every site and third party on an address of its own.

  python3 serve_web.py --web DIR [--port 80] [--dns 127.0.0.53:53]

Meant to run inside the benchmark's network namespace (run_webshape.py), where port 80 and the resolver's
address are free. Each host is told apart by the local address a connection arrived on, as a real
server's IP would be. Pages answer after their site's first-byte time, static files after the site's
static latency, third parties after their own latency; scripts burn the processor time the manifest
gives them. The odd hosts: `refused` has nothing listening, `no-answer` has a listener whose accept queue
is full (the kernel drops every further SYN), `silent` accepts and never answers.

Prints one JSON line when every listener is up ({"ready": ...}), and one with request counts on SIGTERM.
Refuses to listen on, or hand out, any address outside 127.0.0.0/8.
"""
import argparse
import asyncio
import json
import os
import random
import resource
import signal
import socket
import sys
from urllib.parse import urlsplit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dns_web  # noqa: E402
import gen_web  # noqa: E402

GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00"
       b",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")
PAD = b"x" * (4 * 1024 * 1024)
ENDLESS_EVERY_S = 1.0
REASONS = {200: "OK", 301: "Moved Permanently", 302: "Found", 403: "Forbidden", 404: "Not Found",
           410: "Gone", 500: "Internal Server Error", 502: "Bad Gateway", 503: "Service Unavailable"}


def padding(length):
    """length bytes of filler, from one shared buffer."""
    chunks = []
    while length > 0:
        take = min(length, len(PAD))
        chunks.append(memoryview(PAD)[:take])
        length -= take
    return chunks


def burn_code(ms):
    return ("(function(){var e=performance.now()+%d;while(performance.now()<e){}})();\n" % ms).encode()


def body_of(resource_entry):
    """(content type, [byte chunks]) of a subresource."""
    size = resource_entry["bytes"]
    kind = resource_entry["kind"]
    if kind == "img":
        # A valid 1x1 GIF; the weight follows its trailer, where decoders stop reading.
        return "image/gif", [GIF] + padding(max(0, size - len(GIF)))
    tail = burn_code(resource_entry["burn_ms"]) if resource_entry.get("burn_ms") else b""
    if kind == "css":
        tail = b"\n.foot{color:#333}\n"
    filler = max(0, size - len(tail) - 5)
    return ("text/javascript" if kind == "js" else "text/css"), [b"/*"] + padding(filler) + [b"*/\n", tail]


def page_html(link, web, endless=False):
    """A page that paints its own colour at the top left, with its subresources and, for its kind, a
    dialog or a body that never ends."""
    colour = gen_web.hex_colour(link["colour"])
    title = link["name"]
    heads, media, tails = [], [], []
    for r in link.get("resources", []):
        url = r["url"]
        if r["kind"] == "css":
            heads.append('<link rel="stylesheet" href="%s">' % url)
        elif r["kind"] == "img":
            media.append('<img src="%s" width="24" height="18" alt="">' % url)
        elif r["host"] == link["name"]:
            tails.append('<script src="%s" defer></script>' % url)
        else:
            heads.append('<script src="%s" async></script>' % url)
    if link["kind"] == "dialog":
        tails.append('<script>addEventListener("load",function(){alert("Welcome to %s")})</script>' % title)
    if link["kind"] == "parked":
        text = ("<h1>%s</h1><p>This domain may be for sale. Related searches: hosting, web design, domains,"
                " insurance.</p>" % title)
        lower = ""
    else:
        text, lower = layout(link, web)
    # The block is the left column, at least the viewport's height and as tall as the page: wherever a
    # capture ends and however it is scaled, the left half of the picture is the page's colour.
    head = ('<!doctype html><html><head><meta charset="utf-8"><title>%s</title><style>'
            "html,body{margin:0;background:#fff;color:#222;font:15px/1.4 serif}"
            "body{display:flex;align-items:stretch;min-height:%dpx}"
            "#mark{flex:0 0 %dpx;min-height:%dpx;background:%s}#text{flex:0 0 auto;width:%dpx;padding:8px 16px}"
            "</style>%s</head><body><div id=\"mark\"></div><div id=\"text\">%s%s"
            % (title, gen_web.VIEW_H, gen_web.MARK_W, gen_web.MARK_H, colour, gen_web.VIEW_W - gen_web.MARK_W - 48,
               "".join(heads), text, lower))
    body = '<div id="media">%s</div></div>%s' % ("".join(media), "".join(tails))
    if endless:
        return (head + body).encode()
    html = (head + body).encode()
    pad = max(0, link.get("html_bytes", 0) - len(html) - 30)
    return html + b"<!--" + b"x" * pad + b"-->" + b"</body></html>\n"


def layout(link, web):
    """The page's own look beside its block: headings, paragraphs and boxes of its own sizes and places,
    so that no two sites look alike, as a template shared by many sites (parking) would."""
    rng = random.Random("%s/%s" % (web["seed"], link["id"]))
    words = gen_web.WORDS
    parts = ['<h1 style="font-size:%dpx">%s</h1>' % (rng.randint(20, 40), link["name"])]
    for _ in range(rng.randint(1, 4)):
        parts.append('<p style="font-size:%dpx">%s</p>' % (
            rng.randint(12, 19), " ".join(rng.choice(words) for _ in range(rng.randint(8, 90)))))
    lower = []
    for _ in range(rng.randint(2, 6)):
        shade = rng.randint(150, 235)
        lower.append('<div style="margin:%dpx 0 0 %dpx;width:%dpx;height:%dpx;background:rgb(%d,%d,%d);'
                     'font-size:%dpx;overflow:hidden">%s</div>' % (
                         rng.randint(4, 60), rng.randint(0, 120), rng.randint(60, 320), rng.randint(20, 200),
                         shade, shade, rng.randint(shade - 30, shade), rng.randint(11, 22),
                         " ".join(rng.choice(words) for _ in range(rng.randint(0, 40)))))
    return "".join(parts), "".join(lower)


def error_html(status):
    text = "%d %s" % (status, REASONS.get(status, ""))
    return ('<!doctype html><html><head><title>%s</title></head><body style="background:#eee;font:20px sans-serif">'
            "<h1>%s</h1><p>The page you are looking for is not here.</p></body></html>" % (text, text)).encode()


class Web:
    """Everything the handlers look up: each address's host and each host's files."""

    def __init__(self, manifest):
        self.manifest = manifest
        self.by_address = {}
        self.files = {}
        self.requests = {}
        for link in manifest["links"]:
            if "address" in link:
                self.by_address[gen_web.loopback(link["address"])] = ("site", link)
            for r in link.get("resources", []):
                parts = urlsplit(r["url"])
                self.files[(parts.hostname, parts.path)] = r
        for host in manifest["third_parties"] + manifest["parking"]:
            self.by_address[gen_web.loopback(host["address"])] = ("third", host)

    def count(self, what):
        self.requests[what] = self.requests.get(what, 0) + 1


def response_head(status, content_type, length, extra=""):
    return ("HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nCache-Control: no-store\r\n%s"
            "Connection: keep-alive\r\n\r\n" % (status, REASONS.get(status, "Unknown"), content_type, length,
                                                  extra)).encode()


async def send(writer, status, content_type, chunks, extra=""):
    writer.write(response_head(status, content_type, sum(len(c) for c in chunks), extra))
    for chunk in chunks:
        writer.write(chunk)
    await writer.drain()


async def endless(writer, link, web):
    writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nTransfer-Encoding: chunked\r\n"
                 b"Cache-Control: no-store\r\n\r\n")
    first = page_html(link, web.manifest, endless=True)
    writer.write(b"%x\r\n%s\r\n" % (len(first), first))
    await writer.drain()
    n = 0
    while True:
        await asyncio.sleep(ENDLESS_EVERY_S)
        n += 1
        piece = b"<p>more news, part %d</p>\n" % n
        writer.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        await writer.drain()


async def answer_site(writer, link, path, query, web):
    kind = link["kind"]
    latency = link.get("static_latency_ms", 30) / 1000
    if path.startswith("/r/"):
        entry = web.files.get((link["name"], path))
        await asyncio.sleep(latency)
        if entry is None:
            web.count("not-found")
            await send(writer, 404, "text/html", [error_html(404)])
        else:
            web.count("static")
            content_type, chunks = body_of(entry)
            await send(writer, 200, content_type, chunks)
        return True
    if kind == "http-error":
        await asyncio.sleep(link["ttfb_ms"] / 1000)
        web.count("error-%d" % link["status"])
        await send(writer, link["status"], "text/html", [error_html(link["status"])])
        return True
    if kind == "redirect-loop":
        await asyncio.sleep(link["ttfb_ms"] / 1000)
        web.count("redirect-loop")
        hop = int(query.get("hop", "0")) + 1 if query.get("hop", "0").isdigit() else 1
        await send(writer, 302, "text/html", [b""], "Location: /?hop=%d\r\n" % hop)
        return True
    if link.get("moved_to") and path == "/":
        await asyncio.sleep(latency)
        web.count("moved")
        await send(writer, 301, "text/html", [b""], "Location: %s\r\n" % link["moved_to"])
        return True
    if path in ("/", link.get("moved_to")) and kind in gen_web.COLOURED:
        await asyncio.sleep(link["ttfb_ms"] / 1000)
        web.count("page-" + kind)
        if kind == "endless":
            await endless(writer, link, web)
            return False
        await send(writer, 200, "text/html; charset=utf-8", [page_html(link, web.manifest)])
        return True
    await asyncio.sleep(latency)
    web.count("not-found")
    await send(writer, 404, "text/html", [error_html(404)])
    return True


async def answer_third(writer, host, path, web):
    await asyncio.sleep(host["latency_ms"] / 1000)
    entry = web.files.get((host["name"], path))
    if entry is None:
        web.count("not-found")
        await send(writer, 404, "text/html", [error_html(404)])
    else:
        web.count("third-party")
        content_type, chunks = body_of(entry)
        await send(writer, 200, content_type, chunks)


def http_handler(web, role, entry):
    async def handle(reader, writer):
        try:
            while True:
                head = await reader.readuntil(b"\r\n\r\n")
                request_line = head.split(b"\r\n", 1)[0].decode("latin-1").split()
                if len(request_line) != 3:
                    break
                target = request_line[1]
                path, _, query_text = target.partition("?")
                query = dict(p.partition("=")[::2] for p in query_text.split("&") if p)
                if role == "site":
                    keep = await answer_site(writer, entry, path, query, web)
                else:
                    await answer_third(writer, entry, path, web)
                    keep = True
                if not keep or b"connection: close" in head.lower():
                    break
        except (asyncio.IncompleteReadError, asyncio.LimitOverrunError, ConnectionError, OSError):
            pass
        finally:
            writer.close()
    return handle


async def silent_handler(reader, writer):
    """Reads whatever comes and never answers, until the client gives up."""
    try:
        while await reader.read(65536):
            pass
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


def full_backlog_listener(address, port):
    """A listener whose accept queue is already full: the kernel drops every SYN that comes next, so a
    client's connect waits for ever (until its own time-out), as on a host behind a dropping firewall."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(0)
    filler = socket.create_connection((address, port), timeout=2)
    return [listener, filler]


async def serve(web, port, dns_host, dns_port):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    loop = asyncio.get_running_loop()
    transport, resolver = await dns_web.start(web.manifest["dns"], dns_host, dns_port)
    servers, held = [], []
    counts = {}
    for address, (role, entry) in sorted(web.by_address.items()):
        kind = entry.get("kind", "third")
        counts[kind] = counts.get(kind, 0) + 1
        if kind == "refused":
            continue
        if kind == "no-answer":
            held.extend(full_backlog_listener(address, port))
            continue
        handler = silent_handler if kind == "silent" else http_handler(web, role, entry)
        servers.append(await asyncio.start_server(handler, address, port, backlog=512, limit=65536))
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    print(json.dumps({"ready": True, "listeners": len(servers), "held": len(held) // 2, "hosts": counts,
                      "names": len(web.manifest["dns"])}), flush=True)
    await stop.wait()
    for server in servers:
        server.close()
    transport.close()
    for s in held:
        s.close()
    print(json.dumps({"requests": web.requests, "dns_queries": resolver.queries}), flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--web", required=True, help="folder with manifest.json")
    ap.add_argument("--port", type=int, default=80)
    ap.add_argument("--dns", default="127.0.0.53:53")
    args = ap.parse_args()
    with open(os.path.join(args.web, "manifest.json")) as f:
        manifest = json.load(f)
    if manifest.get("port", 80) != args.port:
        raise SystemExit("the web was generated for port %s" % manifest.get("port"))
    dns_host, _, dns_port = args.dns.rpartition(":")
    asyncio.run(serve(Web(manifest), args.port, dns_host, int(dns_port)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
