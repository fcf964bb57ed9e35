"""A resolver for the benchmark's namespace: A records for the web's names, NXDOMAIN for every other name.

It answers over UDP only, as the C library and the browser ask first. Every name it does not know gets
NXDOMAIN at once, `.invalid` included, so a lookup never has anywhere else to go. It never hands out an
address outside 127.0.0.0/8.
"""
import asyncio
import ipaddress
import socket
import struct

TYPE_A = 1
CLASS_IN = 1
RCODE_FORMERR = 1
RCODE_NXDOMAIN = 3
RCODE_NOTIMP = 4
TTL = 300


def parse_question(packet):
    """(id, flags, qname, qtype, qclass, end of the question) or None for a packet that is not a query."""
    if len(packet) < 12:
        return None
    ident, flags, qdcount = struct.unpack(">HHH", packet[:6])
    if flags & 0x8000 or qdcount != 1:
        return None
    labels, offset = [], 12
    while True:
        if offset >= len(packet):
            return None
        length = packet[offset]
        offset += 1
        if length == 0:
            break
        if length > 63 or offset + length > len(packet):
            return None
        labels.append(packet[offset:offset + length].decode("ascii", "replace").lower())
        offset += length
    if offset + 4 > len(packet):
        return None
    qtype, qclass = struct.unpack(">HH", packet[offset:offset + 4])
    return ident, flags, ".".join(labels), qtype, qclass, offset + 4


def answer(packet, table):
    """The reply to one query packet, or None when there is nothing to answer."""
    question = parse_question(packet)
    if question is None:
        if len(packet) >= 4 and not packet[2] & 0x80:
            ident, flags = struct.unpack(">HH", packet[:4])
            return struct.pack(">HHHHHH", ident, 0x8000 | (flags & 0x0100) | RCODE_FORMERR, 0, 0, 0, 0)
        return None
    ident, flags, name, qtype, qclass, end = question
    opcode = (flags >> 11) & 0xF
    # Authoritative for everything, recursion "available" so that no client goes looking elsewhere.
    reply_flags = 0x8000 | 0x0400 | (flags & 0x0100) | 0x0080
    address = table.get(name)
    answers = b""
    if opcode != 0:
        reply_flags |= RCODE_NOTIMP
    elif address is None:
        reply_flags |= RCODE_NXDOMAIN
    elif qtype == TYPE_A and qclass == CLASS_IN:
        answers = struct.pack(">HHHIH", 0xC00C, TYPE_A, CLASS_IN, TTL, 4) + socket.inet_aton(address)
    # A known name asked for another type (AAAA): no data, no error.
    header = struct.pack(">HHHHHH", ident, reply_flags, 1, 1 if answers else 0, 0, 0)
    return header + packet[12:end] + answers


def checked_table(table):
    """The table with lower-case names; refuses any address outside 127.0.0.0/8."""
    loopback = ipaddress.ip_network("127.0.0.0/8")
    clean = {}
    for name, address in table.items():
        if ipaddress.ip_address(address) not in loopback:
            raise ValueError("%s would resolve outside loopback: %s" % (name, address))
        clean[name.lower().rstrip(".")] = address
    return clean


class Resolver(asyncio.DatagramProtocol):
    def __init__(self, table):
        self.table = checked_table(table)
        self.queries = 0
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, addr):
        self.queries += 1
        reply = answer(data, self.table)
        if reply is not None:
            self.transport.sendto(reply, addr)


async def start(table, host="127.0.0.53", port=53):
    """Serves the table on host:port (UDP); gives (transport, resolver)."""
    if ipaddress.ip_address(host) not in ipaddress.ip_network("127.0.0.0/8"):
        raise ValueError("the resolver listens on loopback only")
    loop = asyncio.get_running_loop()
    return await loop.create_datagram_endpoint(lambda: Resolver(table), local_addr=(host, port))


def query(name, server, qtype=TYPE_A, timeout=2.0):
    """Asks server (host, port) about name; gives (rcode, [addresses]). For the checks and the tests."""
    packet = struct.pack(">HHHHHH", 0x1234, 0x0100, 1, 0, 0, 0)
    packet += b"".join(bytes([len(p)]) + p.encode() for p in name.split(".") if p) + b"\0"
    packet += struct.pack(">HH", qtype, CLASS_IN)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(timeout)
        s.sendto(packet, server)
        data = s.recv(4096)
    ident, flags, _qd, ancount = struct.unpack(">HHHH", data[:8])
    if ident != 0x1234:
        raise ValueError("reply to another query")
    question = parse_question(packet)
    offset = question[5]
    addresses = []
    for _ in range(ancount):
        rtype, _cls, _ttl, length = struct.unpack(">HHIH", data[offset + 2:offset + 12])
        if rtype == TYPE_A:
            addresses.append(socket.inet_ntoa(data[offset + 12:offset + 12 + length]))
        offset += 12 + length
    return flags & 0xF, addresses
