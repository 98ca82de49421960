#!/usr/bin/env python3
"""Writes the seeds of fuzz/corpus/xymodem/ (run from anywhere; existing seeds of the same name are
overwritten). A seed is a side byte (protocol | 4 for a sender) and then pieces: a header byte (low
7 bits the length, top bit: a clock step byte follows) and what the peer sends."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "xymodem")
XMODEM, XMODEM_CRC, XMODEM_1K, YMODEM = 0, 1, 2, 3
SOH, STX, EOT, ACK, NAK, CAN = 1, 2, 4, 6, 0x15, 0x18


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def block(number, data, crc=True, pad=0x1A, corrupt=False):
    size = 1024 if len(data) > 128 else 128
    data = data + bytes([pad]) * (size - len(data))
    check = crc16(data).to_bytes(2, "big") if crc else bytes([sum(data) & 0xFF])
    if corrupt:
        check = bytes([check[0] ^ 1]) + check[1:]
    return bytes([STX if size == 1024 else SOH, number & 0xFF, ~number & 0xFF]) + data + check


def pieces(stream, step=127, wait=0):
    """The stream cut into pieces; wait (100 ms steps) goes before the first."""
    out = b""
    for i in range(0, len(stream), step):
        part = stream[i:i + step]
        if wait and i == 0:
            out += bytes([0x80 | len(part), wait]) + part
        else:
            out += bytes([len(part)]) + part
    return out


def header(text):
    return block(0, text, pad=0)


def tick(steps):
    return bytes([0x80, steps])


SEEDS = {
    "x_sum_one_block": bytes([XMODEM]) + pieces(block(1, b"hello", crc=False) + bytes([EOT])),
    "x_crc_two_blocks": bytes([XMODEM_CRC]) + pieces(block(1, b"a" * 128) + block(2, b"b") + bytes([EOT])),
    "x_crc_duplicate": bytes([XMODEM_CRC]) + pieces(block(1, b"a") + block(1, b"a") + block(2, b"b") + bytes([EOT])),
    "x_crc_bad_then_good": bytes([XMODEM_CRC]) + pieces(block(1, b"a", corrupt=True)) + tick(6)
    + pieces(block(1, b"a") + bytes([EOT])),
    "x_crc_wrong_number": bytes([XMODEM_CRC]) + pieces(block(5, b"a")) + tick(6) + pieces(block(1, b"a")),
    "x_1k_long_block": bytes([XMODEM_1K]) + pieces(block(1, b"z" * 1000) + block(2, b"y") + bytes([EOT])),
    "x_1k_cancel": bytes([XMODEM_1K]) + pieces(block(1, b"z" * 1000) + bytes([CAN, CAN])),
    "x_crc_silence": bytes([XMODEM_CRC]) + tick(30) + tick(30) + tick(255) + tick(255) + tick(255),
    "x_crc_half_block": bytes([XMODEM_CRC]) + pieces(block(1, b"a")[:60]) + tick(20) + pieces(block(1, b"a")),
    "x_eot_first": bytes([XMODEM]) + pieces(bytes([EOT])),
    "x_garbage": bytes([XMODEM]) + pieces(bytes(range(256))),
    "y_one_file": bytes([YMODEM]) + pieces(header(b"a.txt\x003 0 644") + block(1, b"abcdef") + bytes([EOT, EOT])
                                           + header(b"")),
    "y_two_files": bytes([YMODEM]) + pieces(header(b"a\x001") + block(1, b"1") + bytes([EOT, EOT])
                                            + header(b"b\x00" + b"2000") + block(1, b"2" * 1024) + block(2, b"3" * 976)
                                            + bytes([EOT, EOT]) + header(b"")),
    "y_zero_file": bytes([YMODEM]) + pieces(header(b"empty\x000") + bytes([EOT, EOT]) + header(b"")),
    "y_traversal": bytes([YMODEM]) + pieces(header(b"../../etc/passwd\x0010") + block(1, b"x")),
    "y_huge_size": bytes([YMODEM]) + pieces(header(b"big\x004294967296000 0") + block(1, b"x" * 1024) + bytes([EOT, EOT])),
    "y_negative": bytes([YMODEM]) + pieces(header(b"neg\x00-5") + block(1, b"x") + bytes([EOT, EOT])),
    "y_garbage_size": bytes([YMODEM]) + pieces(header(b"g\x0012ab 77x 9") + block(1, b"x") + bytes([EOT, EOT])),
    "y_no_nul": bytes([YMODEM]) + pieces(block(0, b"n" * 128, pad=ord("n"))),
    "y_long_header": bytes([YMODEM]) + pieces(block(0, b"L" * 300 + b"\x00" + b"5", pad=0) + block(1, b"x")),
    "y_padding_header": bytes([YMODEM]) + pieces(block(0, b"", pad=0x1A)),
    "y_cancel_mid": bytes([YMODEM]) + pieces(header(b"c\x00" + b"5000") + block(1, b"x" * 1024) + bytes([CAN, CAN])),
    "y_dup_header": bytes([YMODEM]) + pieces(header(b"d\x003") + header(b"d\x003") + block(1, b"abc") + bytes([EOT, EOT])),
    "y_wrap_256": bytes([YMODEM]) + pieces(header(b"w\x00" + str(300 * 128).encode())
                                           + b"".join(block(i, bytes([i & 0xFF]) * 128) for i in range(1, 301))
                                           + bytes([EOT, EOT]) + header(b"")),
    # Senders: what a receiver answers.
    "s_x_sum": bytes([XMODEM | 4]) + pieces(bytes([NAK]) + bytes([ACK]) * 30),
    "s_x_crc": bytes([XMODEM_CRC | 4]) + pieces(b"C" + bytes([ACK]) * 30),
    "s_x_1k_naks": bytes([XMODEM_1K | 4]) + pieces(b"C" + bytes([NAK, ACK, NAK, NAK, ACK, ACK, ACK, ACK, ACK])),
    "s_y_batch": bytes([YMODEM | 4]) + pieces(b"C" + bytes([ACK]) + b"C" + bytes([ACK]) * 3 + bytes([NAK, ACK]) + b"C"
                                              + bytes([ACK])),
    "s_y_lost_acks": bytes([YMODEM | 4]) + pieces(b"C") + tick(101) + pieces(bytes([ACK])) + tick(101) + pieces(b"C"),
    "s_y_cancel": bytes([YMODEM | 4]) + pieces(b"C" + bytes([ACK, CAN, CAN])),
    "s_never": bytes([XMODEM | 4]) + tick(255) + tick(255) + tick(255),
}

os.makedirs(OUT, exist_ok=True)
for name, seed in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(seed)
print(f"{len(SEEDS)} seeds in {OUT}")
