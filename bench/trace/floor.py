#!/usr/bin/env python3
"""The least a capture can cost: thumbnails with the fewest protocol calls this browser allows.

  python3 bench/trace/floor.py --links FILE --out DIR [--concurrency 4] [--delay 0] [--vt 1] [--js 1]

Same arguments and output as bench/capture/peer_capture.js (an <ID>.jpg of 120 x 90 a link, one
summary JSON line), so bench/batch/side_by_side.py runs it as side F. For each link: a browser context,
a page in it, Page.enable (and scripts off when asked), Page.navigate, the load event, with a delay the
page's virtual time run ahead (or a real wait with --vt 0), one Page.captureScreenshot scaled by the
browser, and the context disposed. No status, no title, no lifecycle events, no checks: what is left is
what every side pays for a page in a renderer process of its own, the floor under any program's
processor time a page. The browser gets the batch's own flags (src/capture/browserhost.cpp) and its
window the viewport's size, so no call sets the viewport either.
"""
import argparse
import asyncio
import base64
import fcntl
import json
import os
import shutil
import subprocess
import tempfile
import time

VIEW_W, VIEW_H, THUMB_W = 1024, 768, 120
BROWSER = "/usr/lib/chromium/chromium-headless-shell"
FLAGS = ["--no-first-run", "--no-default-browser-check", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--disable-default-apps", "--disable-extensions",
         "--disable-quic", "--disable-breakpad", "--disable-domain-reliability", "--metrics-recording-only",
         "--password-store=basic", "--mute-audio", "--hide-scrollbars", "--in-process-gpu",
         "--disable-gpu-shader-disk-cache", "--enable-features=NetworkServiceInProcess2",
         "--disable-checker-imaging", "--window-size=%d,%d" % (VIEW_W, VIEW_H)]


class Browser:
    """One browser over --remote-debugging-pipe: NUL-framed JSON both ways."""

    def __init__(self, extra):
        self.profile = tempfile.mkdtemp(prefix="floor-")
        child_in, self.write_fd = os.pipe()
        self.read_fd, child_out = os.pipe()
        command = [BROWSER, "--no-sandbox", *FLAGS, *extra, "--user-data-dir=" + self.profile,
                   "--remote-debugging-pipe", "about:blank"]

        def pipes():
            # Above 3 and 4 first, so that neither end is overwritten by the other's dup2.
            ends = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (child_in, child_out)]
            os.dup2(ends[0], 3)
            os.dup2(ends[1], 4)

        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        close_fds=False, preexec_fn=pipes)
        os.close(child_in)
        os.close(child_out)
        self.next_id = 0
        self.replies = {}
        self.waiters = {}  # (session, method) -> [futures]
        self.buffer = b""

    async def start(self):
        loop = asyncio.get_running_loop()
        self.reader = asyncio.StreamReader()
        await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(self.reader), os.fdopen(self.read_fd, "rb"))
        self.writer_file = os.fdopen(self.write_fd, "wb", buffering=0)
        self.pump = asyncio.create_task(self.read_loop())

    async def read_loop(self):
        while True:
            chunk = await self.reader.read(1 << 20)
            if not chunk:
                for future in self.replies.values():
                    if not future.done():
                        future.set_exception(ConnectionError("the browser is gone"))
                return
            self.buffer += chunk
            while b"\0" in self.buffer:
                frame, self.buffer = self.buffer.split(b"\0", 1)
                message = json.loads(frame)
                if "id" in message:
                    future = self.replies.pop(message["id"], None)
                    if future and not future.done():
                        if "error" in message:
                            future.set_exception(RuntimeError(message["error"].get("message")))
                        else:
                            future.set_result(message.get("result", {}))
                else:
                    key = (message.get("sessionId"), message.get("method"))
                    for future in self.waiters.pop(key, []):
                        if not future.done():
                            future.set_result(message.get("params", {}))

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        future = asyncio.get_running_loop().create_future()
        self.replies[self.next_id] = future
        self.writer_file.write(json.dumps(message).encode() + b"\0")
        return future

    def event(self, session, method):
        future = asyncio.get_running_loop().create_future()
        self.waiters.setdefault((session, method), []).append(future)
        return future

    def close(self):
        try:
            self.writer_file.close()
        except OSError:
            pass
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


async def capture(browser, link, o):
    context = (await browser.send("Target.createBrowserContext", {"disposeOnDetach": True}))["browserContextId"]
    try:
        target = (await browser.send("Target.createTarget", {"url": "about:blank", "browserContextId": context}))["targetId"]
        session = (await browser.send("Target.attachToTarget", {"targetId": target, "flatten": True}))["sessionId"]
        loaded = browser.event(session, "Page.loadEventFired")
        # Page.enable is answered by the renderer once about:blank stands there: a navigation sent
        # before that is cancelled by about:blank's own commit.
        calls = [browser.send("Page.enable", session=session)]
        if not o.js:
            calls.append(browser.send("Emulation.setScriptExecutionDisabled", {"value": True}, session=session))
        await asyncio.gather(*calls)
        await browser.send("Page.navigate", {"url": link[1]}, session=session)
        await loaded
        if o.delay > 0 and o.vt:
            expired = browser.event(session, "Emulation.virtualTimeBudgetExpired")
            browser.send("Emulation.setVirtualTimePolicy",
                         {"policy": "pauseIfNetworkFetchesPending", "budget": o.delay}, session=session)
            await asyncio.wait([expired], timeout=o.delay / 1000)
        elif o.delay > 0:
            await asyncio.sleep(o.delay / 1000)
        clip = {"x": 0, "y": 0, "width": VIEW_W, "height": VIEW_H, "scale": THUMB_W / VIEW_W}
        shot = await browser.send("Page.captureScreenshot", {"format": "jpeg", "quality": o.quality, "clip": clip,
                                                             "captureBeyondViewport": False}, session=session)
        with open(os.path.join(o.out, link[0] + ".jpg"), "wb") as f:
            f.write(base64.b64decode(shot["data"]))
    finally:
        browser.send("Target.disposeBrowserContext", {"browserContextId": context})


async def run(o):
    links = []
    with open(o.links) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#") and "|" in line:
                links.append(tuple(line.split("|", 1)))
    os.makedirs(o.out, exist_ok=True)
    started = time.monotonic()
    browser = Browser(o.args.split() if o.args else [])
    await browser.start()
    queue = list(reversed(links))
    failures = []

    async def worker():
        while queue:
            link = queue.pop()
            try:
                await asyncio.wait_for(capture(browser, link, o), o.timeout / 1000)
            except Exception as error:  # noqa: BLE001 - a failed page is counted, the run goes on
                failures.append({"id": link[0], "error": str(error) or type(error).__name__})

    await asyncio.gather(*(worker() for _ in range(o.concurrency)))
    seconds = time.monotonic() - started
    browser.close()
    print(json.dumps({"pages": len(links), "failed": len(failures), "seconds": round(seconds, 3),
                      "pages_per_s": round(len(links) / seconds, 3), "failures": failures[:10]}))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--links", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--concurrency", type=int, default=4)
    ap.add_argument("--delay", type=int, default=0)
    ap.add_argument("--vt", type=int, default=1)
    ap.add_argument("--js", type=int, default=1)
    ap.add_argument("--quality", type=int, default=80)
    ap.add_argument("--timeout", type=int, default=40000)
    ap.add_argument("--args", default="", help="more browser flags (one string)")
    asyncio.run(run(ap.parse_args()))


if __name__ == "__main__":
    main()
