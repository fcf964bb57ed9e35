#!/usr/bin/env python3
"""Generate a deterministic corpus of HTML test pages for the thumbnail benchmark.

Output (under --out, default ./corpus):
  p/NNNN.html      one page per link (N pages, default 200)
  img/iNN.png|jpg  a shared pool of small images (PNG written here in pure Python,
                   JPEG converted from PNG with ImageMagick's convert when present)
  links.txt        "ID|URL" per line, IDs 1..N, URLs on http://HOST:PORT/
  manifest.tsv     ID, kind, expected height, server delay (for checks and reports)

Page kinds follow a fixed 20-slot pattern, so the mix is exactly
40% text, 30% images, 15% long (5,000-20,000 px), 10% JS-after-load, 5% slow.
Slow pages are requested with ?delay=MS, which serve.py honours.
The same arguments always give byte-identical files.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

PATTERN = ["text", "img", "text", "long", "img", "text", "js", "img", "text", "slow",
           "text", "img", "long", "text", "img", "js", "text", "img", "long", "text"]
# Colour that JS pages paint the whole body with after the load event; check_thumbs.py
# looks for it to tell whether a capture waited for the post-load DOM change.
JS_DONE_RGB = (0, 160, 0)
WORDS = ("alpha beta gamma delta epsilon zeta theta kappa lambda sigma omega river "
         "stone garden market station harbour window bridge letter paper lantern "
         "orchard meadow winter summer autumn spring copper silver marble cedar "
         "directory listing category resource website thumbnail preview archive").split()
IMG_POOL = 40


def kind_of(page_id):
    return PATTERN[(page_id - 1) % len(PATTERN)]


def png_bytes(width, height, pixel_rows):
    """Encode 8-bit RGB rows (bytes of length 3*width) as a PNG file."""
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + row for row in pixel_rows)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def make_image(rng, width, height):
    """A gradient with a few solid rectangles: cheap to make, not trivially compressible."""
    c0 = [rng.randrange(256) for _ in range(3)]
    c1 = [rng.randrange(256) for _ in range(3)]
    rects = [(rng.randrange(width), rng.randrange(height), rng.randrange(10, width // 2),
              rng.randrange(10, height // 2), bytes(rng.randrange(256) for _ in range(3)))
             for _ in range(4)]
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            t = (x + y) / (width + height)
            row += bytes(int(a + (b - a) * t) for a, b in zip(c0, c1))
        for rx, ry, rw, rh, col in rects:
            if ry <= y < ry + rh:
                x0, x1 = rx, min(width, rx + rw)
                row[3 * x0:3 * x1] = col * (x1 - x0)
        rows.append(bytes(row))
    return png_bytes(width, height, rows)


def make_images(out_dir, rng):
    """Write the shared image pool; return the list of relative image paths."""
    img_dir = os.path.join(out_dir, "img")
    os.makedirs(img_dir, exist_ok=True)
    convert = shutil.which("convert")
    real_convert = convert and os.path.exists("/usr/bin/convert")
    names = []
    for i in range(IMG_POOL):
        w, h = rng.choice([(160, 120), (200, 150), (240, 180), (320, 240), (400, 300)])
        data = make_image(rng, w, h)
        png_path = os.path.join(img_dir, "i%02d.png" % i)
        with open(png_path, "wb") as f:
            f.write(data)
        if i % 2 == 1 and real_convert:
            jpg_path = os.path.join(img_dir, "i%02d.jpg" % i)
            subprocess.run(["/usr/bin/convert", png_path, "-strip", "-quality", "85", jpg_path],
                           check=True)
            os.remove(png_path)
            names.append("img/i%02d.jpg" % i)
        else:
            names.append("img/i%02d.png" % i)
    return names, bool(real_convert)


def sentence(rng, n_min=6, n_max=16):
    words = [rng.choice(WORDS) for _ in range(rng.randint(n_min, n_max))]
    return " ".join(words).capitalize() + "."


def paragraph(rng, n=None):
    return "<p>" + " ".join(sentence(rng) for _ in range(n or rng.randint(2, 6))) + "</p>"


def page_head(title, bg):
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>%s</title><style>body{font-family:sans-serif;margin:24px;background:%s}"
            "h1{color:#234}p{line-height:1.5}.grid img{margin:4px;border:1px solid #888}"
            ".sec{overflow:hidden;border-bottom:2px solid #999}</style></head>\n" % (title, bg))


def build_page(page_id, kind, rng, images):
    """Return (html, expected_height_or_0, delay_ms)."""
    title = "Page %d (%s) %s" % (page_id, kind, rng.choice(WORDS))
    bg = "#%02x%02x%02x" % tuple(rng.randrange(200, 256) for _ in range(3))
    head = page_head(title, bg)
    body = ["<body><h1>%s</h1>" % title]
    height, delay = 0, 0
    if kind == "text":
        body += [paragraph(rng) for _ in range(rng.randint(1, 4))]
    elif kind == "img":
        body.append(paragraph(rng, 2))
        body.append('<div class="grid">')
        for src in rng.sample(images, rng.randint(3, 8)):
            body.append('<img src="../%s" alt="">' % src)
        body.append("</div>")
        body.append(paragraph(rng))
    elif kind == "long":
        height = rng.randrange(5000, 20001, 250)
        n_sec = height // 250
        # The body gets an exact height; sections fill it, so scrollHeight is predictable.
        body[0] = '<body style="margin:0;height:%dpx"><h1 style="margin:0;height:60px">%s</h1>' % (
            height, title)
        for s in range(n_sec):
            sec_h = 250 - (60 if s == 0 else 0)
            extra = ('<img src="../%s" alt="" height="120">' % rng.choice(images)) if s % 8 == 3 else ""
            body.append('<div class="sec" style="height:%dpx"><h2>Section %d</h2>%s%s</div>'
                        % (sec_h, s + 1, extra, paragraph(rng, 2)))
    elif kind == "js":
        wait = rng.randrange(100, 700, 50)
        items = [sentence(rng, 3, 6) for _ in range(rng.randint(5, 15))]
        body.append('<div id="app">static placeholder</div>')
        body.append(paragraph(rng, 2))
        body.append(
            "<script>\n"
            "document.addEventListener('DOMContentLoaded', function () {\n"
            "  document.getElementById('app').textContent = 'rendered by script before load';\n"
            "});\n"
            "window.addEventListener('load', function () {\n"
            "  setTimeout(function () {\n"
            "    var ul = document.createElement('ul');\n"
            "    %s.forEach(function (t) { var li = document.createElement('li');"
            " li.textContent = t; ul.appendChild(li); });\n"
            "    document.body.appendChild(ul);\n"
            "    document.body.style.background = 'rgb(%d,%d,%d)';\n"
            "    document.title = 'JSDONE ' + document.title;\n"
            "  }, %d);\n"
            "});\n"
            "</script>" % (repr(items).replace("'", '"'), *JS_DONE_RGB, wait))
    elif kind == "slow":
        delay = rng.randrange(1000, 3001, 250)
        img_delay = rng.randrange(250, 1001, 250)
        body.append(paragraph(rng, 3))
        body.append('<img src="../%s?delay=%d" alt="">' % (rng.choice(images), img_delay))
        body.append(paragraph(rng))
    else:
        raise ValueError(kind)
    body.append("</body></html>\n")
    return head + "\n".join(body), height, delay


def generate(out_dir, count, host, port, seed):
    if host not in ("127.0.0.1", "localhost"):
        raise SystemExit("refusing non-loopback host %r" % host)
    os.makedirs(os.path.join(out_dir, "p"), exist_ok=True)
    images, has_jpeg = make_images(out_dir, random.Random(seed))
    links, manifest = [], ["id\tkind\theight\tdelay_ms"]
    for page_id in range(1, count + 1):
        kind = kind_of(page_id)
        rng = random.Random("%d-%d" % (seed, page_id))
        html, height, delay = build_page(page_id, kind, rng, images)
        name = "%04d.html" % page_id
        with open(os.path.join(out_dir, "p", name), "w", encoding="utf-8") as f:
            f.write(html)
        url = "http://%s:%d/p/%s" % (host, port, name)
        if delay:
            url += "?delay=%d" % delay
        links.append("%d|%s" % (page_id, url))
        manifest.append("%d\t%s\t%d\t%d" % (page_id, kind, height, delay))
    with open(os.path.join(out_dir, "links.txt"), "w") as f:
        f.write("\n".join(links) + "\n")
    with open(os.path.join(out_dir, "manifest.tsv"), "w") as f:
        f.write("\n".join(manifest) + "\n")
    return has_jpeg


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=18865)
    ap.add_argument("--seed", type=int, default=20261207)
    args = ap.parse_args(argv)
    has_jpeg = generate(args.out, args.count, args.host, args.port, args.seed)
    print("wrote %d pages to %s (JPEG images: %s)" % (args.count, args.out,
                                                       "yes" if has_jpeg else "no, PNG only"))


if __name__ == "__main__":
    sys.exit(main())
