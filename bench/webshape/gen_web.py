#!/usr/bin/env python3
"""Generate a local web with the real web's shape, deterministic from a seed.

  python3 gen_web.py [--count 400] [--seed 20261210] [--out /tmp/pictavo-bench/webshape/web] [--port 80]

Writes <out>/manifest.json (everything the server and the checker need) and <out>/links.txt (ID|URL,
the order of an old directory: shuffled). Every host is a name of its own with an address of its own in
127.0.0.0/8; unresolvable names are under .invalid. The figures behind the shape, and where they come
from, are in README.md; the numbers below are the model's knobs.
"""
import argparse
import ipaddress
import json
import math
import os
import random
import sys

VIEW_W, VIEW_H = 1024, 768
# The block every page paints: the left half of the viewport, and further down as far as the page goes;
# 60 pixels of a 120 pixel wide thumbnail, far more than JPEG's blocks can smear.
MARK_W, MARK_H = VIEW_W // 2, VIEW_H

# Shares of an old directory's links. Pew Research (2024): a quarter of the pages of 2013-2023 are gone,
# 16 points on sites that still exist (the page answers an error) and 9 points with the whole site gone
# (name, server or host gone). Zirngibl et al. (TMA 2022): 23 % of the registered names they examined are
# parked, 15 % of the links here (a fifth of the names that are still there). The odd but live pages
# (dialogs, endless) are a guess of ours, 1 % each.
SHARES = [
    ("unresolved", 0.050),     # the name is gone (NXDOMAIN, under .invalid)
    ("refused", 0.020),        # the name resolves, nothing listens at its address
    ("no-answer", 0.0125),     # the address drops every SYN
    ("silent", 0.0075),        # accepts, reads the request, never answers
    ("http-error", 0.145),     # 404 mostly, some 403, 410, 5xx
    ("redirect-loop", 0.015),  # the page redirects to itself for ever
    ("parked", 0.150),         # one of a few parking templates
    ("dialog", 0.010),         # alert() once loaded
    ("endless", 0.010),        # the page never finishes arriving
    ("page", None),            # the rest: a live page
]
# Kinds whose page paints a block the checker can verify.
COLOURED = ("page", "parked", "dialog", "endless")
# Live pages that should come out right: the false time-out count is taken over these.
LIVE = ("page", "parked")

# A site's first byte (Chrome UX Report via Web Almanac 2024 Performance): under 0.8 s for 42 % of sites,
# 0.8 to 1.8 s for 40 %, over 1.8 s for the rest. The slow bucket's spread is ours: most up to 6 s, a
# fifth of it 6 to 20 s (the tail that waits longer than half a 30 s time-out with the rest of the page).
# (share, low ms, high ms, spread evenly on a log scale)
TTFB_BUCKETS = [(0.42, 100, 800, True), (0.40, 800, 1800, False), (0.144, 1800, 6000, True),
                (0.036, 6000, 20000, True)]
# Requests a page (Web Almanac 2024 Page Weight): p10..p90 are the published figures, the ends ours.
REQUESTS_PCTL = [(0.0, 6), (0.10, 24), (0.25, 42), (0.50, 71), (0.75, 115), (0.90, 176), (1.0, 320)]
# Third parties a page: a median of 22 (Web Almanac 2024 Third Parties); 8 % of pages have none.
THIRD_PARTY_MEDIAN = 22
THIRD_PARTY_NONE = 0.08
THIRD_PARTY_POOL = 80
SLOW_THIRD_PARTY_SHARE = 0.12
# Page weight (Web Almanac 2024 Page Weight): median 2,311 KB on mobile, 2,652 KB on desktop.
WEIGHT_MEDIAN_KB = 2400
WEIGHT_SIGMA = 0.9
WEIGHT_MAX_KB = 16000
# Script time on load: lognormal, median 200 ms, capped at 4 s (Web Almanac 2024: mobile Total Blocking
# Time reaches 5.8 s at p90 on a phone; this machine is faster than a phone).
BURN_MEDIAN_MS = 200
BURN_SIGMA = 1.0
BURN_MAX_MS = 4000
PARKING_TEMPLATES = 4
# Chromium opens at most 6 connections per host over HTTP/1.1.
CONNECTIONS_PER_HOST = 6
HTTP_ERRORS = [(404, 0.70), (403, 0.08), (410, 0.05), (500, 0.07), (502, 0.05), (503, 0.05)]

WORDS = ("amber bakery cedar delta ember fjord garnet harbor indigo juniper kestrel lumen meadow nectar "
         "orchid pepper quartz raven saffron timber umber violet willow xenon yarrow zephyr atlas brook "
         "copper dune falcon glacier hazel iris jasper koala lotus maple nimbus olive pine").split()


def loopback(address):
    """The address when it is in 127.0.0.0/8; anything else is refused outright."""
    if ipaddress.ip_address(address) not in ipaddress.ip_network("127.0.0.0/8"):
        raise ValueError("not a loopback address: %s" % address)
    return address


def site_address(index):
    """Sites from 127.1.0.1 upwards, 250 to a /24."""
    return loopback("127.%d.%d.%d" % (1 + index // 64000, (index // 250) % 256, index % 250 + 1))


def third_party_address(index):
    return loopback("127.200.%d.%d" % (index // 250, index % 250 + 1))


def colour_palette():
    """Colours on a grid 24 apart per channel, no near-white or near-grey ones (a blank page and an error
    page are those), so that a thumbnail's colour names one page only."""
    levels = list(range(8, 256, 24))
    palette = []
    for r in levels:
        for g in levels:
            for b in levels:
                if min(r, g, b) >= 200 or max(r, g, b) - min(r, g, b) < 48:
                    continue
                palette.append((r, g, b))
    return palette


def hex_colour(rgb):
    return "#%02x%02x%02x" % tuple(rgb)


def loguniform(rng, low, high):
    return math.exp(rng.uniform(math.log(low), math.log(high)))


def sample_ttfb_ms(rng):
    u = rng.random()
    for share, low, high, logarithmic in TTFB_BUCKETS:
        if u < share:
            return round(loguniform(rng, low, high) if logarithmic else rng.uniform(low, high))
        u -= share
    return TTFB_BUCKETS[-1][2]


def sample_requests(rng):
    """Inverse of the published percentiles, log-linear between them."""
    u = rng.random()
    for (p0, v0), (p1, v1) in zip(REQUESTS_PCTL, REQUESTS_PCTL[1:]):
        if u <= p1:
            f = (u - p0) / (p1 - p0)
            return max(2, round(math.exp(math.log(v0) + f * (math.log(v1) - math.log(v0)))))
    return REQUESTS_PCTL[-1][1]


def shares_to_counts(count):
    """Whole numbers of links per kind that add up to count (largest remainder)."""
    fixed = [(kind, share) for kind, share in SHARES if share is not None]
    exact = {kind: share * count for kind, share in fixed}
    counts = {kind: int(value) for kind, value in exact.items()}
    rest = count - sum(counts.values()) - round(count * (1 - sum(s for _, s in fixed)))
    for kind in sorted(exact, key=lambda k: exact[k] - counts[k], reverse=True)[:max(0, rest)]:
        counts[kind] += 1
    counts["page"] = count - sum(counts.values())
    return counts


def make_third_parties(rng):
    """A shared pool, ranked: popularity falls as 1/rank, so the first few are on most pages."""
    hosts = []
    for index in range(THIRD_PARTY_POOL):
        slow = index >= 3 and rng.random() < SLOW_THIRD_PARTY_SHARE
        hosts.append({
            "name": "%s-%s.cdn%d.test" % (rng.choice(WORDS), ("tag", "stats", "fonts", "ads", "px", "chat")[index % 6],
                                          index),
            "address": third_party_address(index),
            "latency_ms": round(loguniform(rng, 600, 5000) if slow else loguniform(rng, 15, 150)),
            "burn_ms": rng.choice((0, 0, 0, 0, 10, 30)),
            "weight": 1.0 / (index + 1) ** 0.9,
        })
    return hosts


def pick_third_parties(rng, pool, wanted):
    """wanted hosts without repeats, by popularity."""
    chosen = []
    candidates = list(range(len(pool)))
    while len(chosen) < wanted and candidates:
        pick = rng.choices(candidates, [pool[i]["weight"] for i in candidates])[0]
        candidates.remove(pick)
        chosen.append(pick)
    return chosen


def base_url(name, port):
    return "http://%s%s" % (name, "" if port == 80 else ":%d" % port)


def make_page(rng, link, pool, port, mark_rgb, first_party_latency_ms):
    """The subresources of a live page and the seconds it should take to load on an idle machine."""
    requests = sample_requests(rng)
    subresources = requests - 1
    if rng.random() < THIRD_PARTY_NONE:
        parties = 0
    else:
        parties = max(1, round(THIRD_PARTY_MEDIAN * math.exp(rng.gauss(0, 0.6))))
    # Third parties make about half a page's requests; the page's own host at least 3.
    third_budget = max(0, min(subresources - 3, round(subresources * rng.uniform(0.45, 0.7))))
    parties = min(parties, third_budget)
    weight = min(WEIGHT_MAX_KB, WEIGHT_MEDIAN_KB * math.exp(rng.gauss(0, WEIGHT_SIGMA))) * 1024
    burn = min(BURN_MAX_MS, round(BURN_MEDIAN_MS * math.exp(rng.gauss(0, BURN_SIGMA))))
    own = base_url(link["name"], port)
    resources = []
    per_host = {}
    hosts = pick_third_parties(rng, pool, parties)
    # One request to each third party, the rest of the budget spread over them.
    spread = hosts + [rng.choice(hosts) for _ in range(third_budget - len(hosts))] if hosts else []
    for index in spread:
        host = pool[index]
        k = per_host.get(host["name"], 0)
        kind = rng.choice(("js", "js", "img"))
        resources.append({"url": "%s/x/%s/%d.%s" % (base_url(host["name"], port), link["id"], k, kind),
                          "kind": kind, "host": host["name"]})
        per_host[host["name"]] = k + 1
    first = max(3, subresources - len(spread))
    for k in range(first):
        kind = "css" if k < max(1, first // 10) else ("js" if k < first * 0.4 else "img")
        resources.append({"url": "%s/r/%d.%s" % (own, k, kind), "kind": kind, "host": link["name"]})
    per_host[link["name"]] = first
    # Bytes: the HTML a small share, scripts a quarter, images the rest.
    html_bytes = int(min(200_000, 18_000 * math.exp(rng.gauss(0, 0.6))))
    counts = {kind: sum(1 for r in resources if r["kind"] == kind) for kind in ("js", "css", "img")}
    budget = {"js": 0.25, "css": 0.05, "img": 0.70}
    for r in resources:
        r["bytes"] = max(200, int(weight * budget[r["kind"]] / max(1, counts[r["kind"]])))
    # The page's own script burns its processor time; a third party's scripts burn their host's.
    first_script = next((r for r in resources if r["kind"] == "js" and r["host"] == link["name"]), None)
    if first_script is None:
        first_script = {"url": "%s/r/app.js" % own, "kind": "js", "host": link["name"], "bytes": 20000}
        resources.append(first_script)
        per_host[link["name"]] += 1
    first_script["burn_ms"] = burn
    third_burn = 0
    for r in resources:
        if r["host"] != link["name"] and r["kind"] == "js":
            host = next(h for h in pool if h["name"] == r["host"])
            if host["burn_ms"]:
                r["burn_ms"] = host["burn_ms"]
                third_burn += host["burn_ms"]
    latency = {h["name"]: h["latency_ms"] for h in pool}
    latency[link["name"]] = first_party_latency_ms
    # A lower bound of the load on an idle machine: the first byte, then the slowest host's requests in
    # waves of 6 connections, then the scripts' processor time (one renderer thread runs them all).
    waits = [math.ceil(n / CONNECTIONS_PER_HOST) * latency[h] for h, n in per_host.items()]
    idle_ms = link["ttfb_ms"] + max(waits) + burn + third_burn + 200
    link.update({"requests": 1 + len(resources), "third_parties": len(hosts), "bytes": int(weight) + html_bytes,
                 "html_bytes": html_bytes, "burn_ms": burn + third_burn, "resources": resources,
                 "colour": list(mark_rgb), "idle_load_s": round(idle_ms / 1000, 2),
                 "static_latency_ms": first_party_latency_ms})


def generate(count=400, seed=20261210, port=80):
    if count < 1:
        raise ValueError("count must be at least 1")
    rng = random.Random(seed)
    palette = colour_palette()
    rng.shuffle(palette)
    templates = [{"name": "parking%d.park-service.test" % k, "address": third_party_address(THIRD_PARTY_POOL + k),
                  "latency_ms": round(loguniform(rng, 40, 200)), "burn_ms": 0, "weight": 1.0,
                  "colour": list(palette[k])} for k in range(PARKING_TEMPLATES)]
    palette = palette[PARKING_TEMPLATES:]
    pool = make_third_parties(rng)
    counts = shares_to_counts(count)
    kinds = [kind for kind, _ in SHARES for _ in range(counts[kind])]
    rng.shuffle(kinds)
    links = []
    for number, kind in enumerate(kinds, 1):
        word = WORDS[(number * 7 + seed) % len(WORDS)]
        link = {"id": str(number), "kind": kind}
        if kind == "unresolved":
            link["name"] = "www.%s%d.invalid" % (word, number)
        else:
            link["name"] = "www.%s%d.test" % (word, number)
            link["address"] = site_address(number - 1)
        link["ttfb_ms"] = sample_ttfb_ms(rng)
        # Static files come from a faster tier than the page itself.
        static_ms = round(loguniform(rng, 10, 120))
        path = "/"
        if kind in ("page", "dialog", "endless"):
            make_page(rng, link, pool, port, palette[(number - 1) % len(palette)], static_ms)
            # A fifth of old links first meet a permanent redirect to the page's new address.
            if rng.random() < 0.2:
                link["moved_to"] = "/home.html"
        elif kind == "parked":
            template = templates[rng.randrange(PARKING_TEMPLATES)]
            link["ttfb_ms"] = round(loguniform(rng, 80, 400))
            link["template"] = templates.index(template)
            own = base_url(link["name"], port)
            tpl = base_url(template["name"], port)
            link["resources"] = ([{"url": "%s/x/%s/%d.js" % (tpl, link["id"], k), "kind": "js",
                                   "host": template["name"], "bytes": 30000} for k in range(3)]
                                 + [{"url": "%s/r/%d.img" % (own, k), "kind": "img", "host": link["name"],
                                     "bytes": 8000} for k in range(2)])
            link["colour"] = template["colour"]
            link["static_latency_ms"] = static_ms
            link["idle_load_s"] = round((link["ttfb_ms"] + template["latency_ms"] + static_ms + 200) / 1000, 2)
        elif kind == "http-error":
            link["status"] = rng.choices([s for s, _ in HTTP_ERRORS], [w for _, w in HTTP_ERRORS])[0]
            path = "/%s/old-page-%d.html" % (word, number)
        elif kind == "redirect-loop":
            link["ttfb_ms"] = round(loguniform(rng, 30, 300))
        link["url"] = base_url(link["name"], port) + path
        links.append(link)
    return {"seed": seed, "count": count, "port": port, "counts": counts, "links": links,
            "third_parties": pool, "parking": templates, "dns": dns_table(links, pool, templates)}


def dns_table(links, pool, templates):
    """Every name that resolves and its address. Unresolvable names are simply not in it."""
    table = {}
    for entry in list(links) + list(pool) + list(templates):
        if "address" in entry and not entry["name"].endswith(".invalid"):
            table[entry["name"]] = loopback(entry["address"])
    return table


def write(web, out):
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(web, f, separators=(",", ":"))
    with open(os.path.join(out, "links.txt"), "w") as f:
        for link in web["links"]:
            f.write("%s|%s\n" % (link["id"], link["url"]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--count", type=int, default=400)
    ap.add_argument("--seed", type=int, default=20261210)
    ap.add_argument("--port", type=int, default=80)
    ap.add_argument("--out", default="/tmp/pictavo-bench/webshape/web")
    args = ap.parse_args()
    web = generate(args.count, args.seed, args.port)
    write(web, args.out)
    live = [l for l in web["links"] if l["kind"] in LIVE]
    print(json.dumps({"links": args.count, "counts": web["counts"], "names": len(web["dns"]),
                      "live_within_15s": sum(1 for l in live if l["idle_load_s"] <= 15),
                      "requests": sum(l.get("requests", 0) for l in web["links"]),
                      "mbytes": round(sum(l.get("bytes", 0) for l in web["links"]) / 2**20, 1)}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
