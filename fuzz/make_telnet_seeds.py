#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/telnet/ (run from anywhere; existing seeds of the
same name are overwritten). Each seed is a stream as a Telnet/RFC 2217 server sends it."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "telnet")

IAC, SE, NOP, DM, GA, SB, WILL, WONT, DO, DONT = 255, 240, 241, 242, 249, 250, 251, 252, 253, 254
BINARY, ECHO, SGA, COMPORT = 0, 1, 3, 44


def neg(verb, option):
    return bytes([IAC, verb, option])


def sub(*body):
    escaped = b"".join(b"\xff\xff" if b == IAC else bytes([b]) for b in body)
    return bytes([IAC, SB, COMPORT]) + escaped + bytes([IAC, SE])


def data(raw):
    return raw.replace(b"\xff", b"\xff\xff")


opening = (neg(WILL, SGA) + neg(DO, SGA) + neg(WILL, ECHO) + neg(DONT, ECHO) + neg(DO, BINARY)
           + neg(WILL, BINARY) + neg(DO, COMPORT) + sub(107, 0))
answers = (sub(101, 0, 1, 0xC2, 0) + sub(102, 8) + sub(103, 1) + sub(104, 1) + sub(105, 3)
           + sub(105, 8) + sub(105, 11))

SEEDS = {
    "server_opening": opening,
    "answers": opening + answers,
    "answers_with_iac_baud": opening + sub(101, 0, 1, 0xFF, 0) + sub(102, 7) + sub(103, 3),
    "all_bytes_binary": opening + data(bytes(range(256)) * 2),
    "all_bytes_nvt": neg(WONT, BINARY) + bytes(range(256)).replace(b"\xff", b"\xff\xff")
    .replace(b"\r", b"\r\x00") + b"\r\n\r\x00\r",
    "notifications": opening + sub(107, 0x11) + sub(107, 0x10) + sub(107, 0xCC) + sub(106, 0x1E)
    + sub(106, 0x61) + b"text" + sub(108) + sub(109),
    "signature": opening + sub(100) + sub(100, *b"ser2net") + sub(112, 3) + sub(110, 0),
    "commands_in_data": opening + b"a" + bytes([IAC, NOP]) + b"b" + bytes([IAC, GA, IAC, DM]) + b"c"
    + bytes([IAC, SE]),
    "broken_subnegotiation": opening + bytes([IAC, SB, COMPORT, 101, 0, IAC, WILL, ECHO]) + b"after",
    "long_subnegotiation": opening + bytes([IAC, SB, COMPORT, 100]) + b"x" * 600 + bytes([IAC, SE])
    + b"after",
    "refusals": neg(WONT, BINARY) + neg(DONT, BINARY) + neg(DONT, COMPORT) + neg(DO, 24)
    + neg(WILL, 31) + neg(WILL, BINARY) + neg(WONT, BINARY) + b"\r\x00x",
    "truncated_tail": opening + answers[:-1],
    # More requests than the answers' room (chosen by the first byte) holds.
    "request_flood": opening + neg(DO, 24) * 400 + sub(100) * 60 + neg(WILL, SGA) + neg(WONT, SGA) * 2,
    "absurd_answers": opening + sub(101, 0xFF, 0xFF, 0xFF, 0xFF) + sub(101, 0, 0, 0, 0)
    + sub(101, 1, 0x31, 0x2D, 1) + sub(102, 9) + sub(103, 6) + sub(104, 0) + sub(105, 3),
}

os.makedirs(OUT, exist_ok=True)
for name, content in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(content)
