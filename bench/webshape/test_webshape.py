#!/usr/bin/env python3
"""The generator's shape and determinism, the resolver's answers and the picture check.

  cd bench/webshape && python3 -m unittest -v test_webshape
"""
import asyncio
import ipaddress
import json
import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dns_web  # noqa: E402
import gen_web  # noqa: E402
import run_webshape  # noqa: E402

LOOPBACK = ipaddress.ip_network("127.0.0.0/8")


class Generator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = gen_web.generate(400, 7)
        cls.big = gen_web.generate(3000, 11)

    def test_same_seed_same_web_other_seed_other_web(self):
        again = gen_web.generate(400, 7)
        self.assertEqual(json.dumps(self.web, sort_keys=True), json.dumps(again, sort_keys=True))
        self.assertNotEqual(json.dumps(self.web["links"]), json.dumps(gen_web.generate(400, 8)["links"]))

    def test_shares_of_an_old_directory(self):
        for web in (self.web, self.big):
            kinds = [link["kind"] for link in web["links"]]
            count = len(kinds)
            gone = sum(kinds.count(k) for k in ("unresolved", "refused", "no-answer", "silent", "http-error",
                                                "redirect-loop"))
            # A quarter gone, 16 points of it answering errors, 9 with the site gone; 15 % parked.
            self.assertAlmostEqual(gone / count, 0.25, delta=1.5 / count)
            self.assertAlmostEqual((kinds.count("http-error") + kinds.count("redirect-loop")) / count, 0.16,
                                   delta=1.5 / count)
            self.assertAlmostEqual(kinds.count("parked") / count, 0.15, delta=1.5 / count)
            self.assertEqual(count, len(web["links"]))

    def test_first_bytes_and_requests_follow_the_published_figures(self):
        sites = [link for link in self.big["links"] if link["kind"] in ("page", "dialog", "endless")]
        fast = sum(1 for link in sites if link["ttfb_ms"] < 800) / len(sites)
        middle = sum(1 for link in sites if 800 <= link["ttfb_ms"] <= 1800) / len(sites)
        self.assertAlmostEqual(fast, 0.42, delta=0.03)
        self.assertAlmostEqual(middle, 0.40, delta=0.03)
        requests = sorted(link["requests"] for link in sites)
        for share, figure in ((0.25, 42), (0.50, 71), (0.75, 115)):
            self.assertAlmostEqual(requests[int(share * len(requests))] / figure, 1.0, delta=0.15)
        # A few third parties are on most pages.
        top = self.big["third_parties"][0]["name"]
        with_top = sum(1 for link in sites if any(r["host"] == top for r in link["resources"]))
        self.assertGreater(with_top / len(sites), 0.5)

    def test_every_address_is_loopback_and_every_colour_one_page(self):
        for name, address in self.web["dns"].items():
            self.assertIn(ipaddress.ip_address(address), LOOPBACK, name)
            self.assertFalse(name.endswith(".invalid"))
        addresses = [link["address"] for link in self.web["links"] if "address" in link]
        self.assertEqual(len(addresses), len(set(addresses)))
        unresolved = [link for link in self.web["links"] if link["kind"] == "unresolved"]
        self.assertTrue(unresolved and all(link["name"].endswith(".invalid") for link in unresolved))
        colours = [tuple(link["colour"]) for link in self.web["links"] if link["kind"] in ("page", "dialog")]
        self.assertEqual(len(colours), len(set(colours)))
        for address in ("10.0.0.1", "192.0.2.1", "128.0.0.1"):
            with self.assertRaises(ValueError):
                gen_web.loopback(address)
        with self.assertRaises(ValueError):
            dns_web.checked_table({"www.a.test": "10.1.2.3"})


class Resolver(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.loop = asyncio.new_event_loop()
        table = {"www.bakery1.test": "127.1.0.1", "cdn.test": "127.200.0.1"}
        cls.transport, _ = cls.loop.run_until_complete(dns_web.start(table, "127.0.0.1", 0))
        cls.server = cls.transport.get_extra_info("sockname")
        cls.thread = threading.Thread(target=cls.loop.run_forever, daemon=True)
        cls.thread.start()

    @classmethod
    def tearDownClass(cls):
        cls.loop.call_soon_threadsafe(cls.loop.stop)
        cls.thread.join()
        cls.transport.close()
        cls.loop.close()

    def test_answers(self):
        rows = [
            ("www.bakery1.test", dns_web.TYPE_A, 0, ["127.1.0.1"]),
            ("WWW.Bakery1.TEST", dns_web.TYPE_A, 0, ["127.1.0.1"]),
            ("www.bakery1.test", 28, 0, []),                # AAAA: the name is there, no such record
            ("www.bakery1.invalid", dns_web.TYPE_A, dns_web.RCODE_NXDOMAIN, []),
            ("example.com", dns_web.TYPE_A, dns_web.RCODE_NXDOMAIN, []),
            ("bakery1.test", dns_web.TYPE_A, dns_web.RCODE_NXDOMAIN, []),
        ]
        for name, qtype, rcode, addresses in rows:
            with self.subTest(name=name, qtype=qtype):
                self.assertEqual(dns_web.query(name, self.server, qtype), (rcode, addresses))

    def test_garbage_gets_no_answer_or_an_error(self):
        self.assertIsNone(dns_web.answer(b"\x00\x01", {}))
        reply = dns_web.answer(b"\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x40", {})
        self.assertEqual(reply[3] & 0xF, dns_web.RCODE_FORMERR)


class Pictures(unittest.TestCase):
    def test_verdicts(self):
        own, other = (200, 80, 152), (32, 248, 176)
        by_colour = {own: ["1"], other: ["2"]}
        flat, busy = 0.01, 0.2
        rows = [
            ("exact", (own, 0.0, busy), ("right", None)),
            ("within JPEG's error", ((209, 71, 160), flat, busy), ("right", None)),
            ("one palette step off", ((224, 80, 152), flat, busy), ("wrong", None)),
            ("another page's colour", (other, flat, busy), ("wrong", "2")),
            ("white page", ((255, 255, 255), 0.0, 0.0), ("blank", None)),
            ("own colour but not flat", (own, busy, busy), ("wrong", None)),
            ("no thumbnail", None, ("missing", None)),
        ]
        for what, stat, expected in rows:
            with self.subTest(what):
                self.assertEqual(run_webshape.verdict(own, stat, by_colour), expected)


if __name__ == "__main__":
    unittest.main()
