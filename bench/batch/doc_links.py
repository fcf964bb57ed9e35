#!/usr/bin/env python3
"""Build a links file over real HTML pages: the documentation Debian packages ship.

  python3 doc_links.py [--root /usr/share/doc] [--port 18866] [--limit 300] [--out doc-links.txt] [--serve]

Every .html or .htm file under the root becomes one "ID|URL" line, the URL pointing at a loopback
server over that root (bench/capture/serve.py). With --serve the script serves the root itself
afterwards, so one command sets the corpus up. Files are taken in sorted order, so the same machine
gives the same file.
"""
import argparse
import os
import subprocess
import sys
import urllib.parse


def doc_pages(root, limit):
    pages = []
    for folder, dirs, files in os.walk(root, followlinks=False):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith((".html", ".htm")):
                pages.append(os.path.relpath(os.path.join(folder, name), root))
    return pages[:limit] if limit > 0 else pages


def links_lines(pages, port):
    return ["%d|http://127.0.0.1:%d/%s" % (i + 1, port, urllib.parse.quote(page)) for i, page in enumerate(pages)]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--root", default="/usr/share/doc")
    ap.add_argument("--port", type=int, default=18866)
    ap.add_argument("--limit", type=int, default=300)
    ap.add_argument("--out", default="doc-links.txt")
    ap.add_argument("--serve", action="store_true")
    args = ap.parse_args()
    pages = doc_pages(args.root, args.limit)
    if not pages:
        sys.exit("no HTML pages under %s" % args.root)
    with open(args.out, "w", newline="") as out:
        out.write("".join(line + "\r\n" for line in links_lines(pages, args.port)))
    print("%d pages from %s in %s" % (len(pages), args.root, args.out))
    if args.serve:
        serve = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "capture", "serve.py")
        sys.exit(subprocess.call([sys.executable, serve, "--dir", args.root, "--port", str(args.port)]))


if __name__ == "__main__":
    main()
