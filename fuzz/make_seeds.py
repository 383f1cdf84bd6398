#!/usr/bin/env python3
"""Writes the seed corpus of the packet harness: small replies as the instrument sends them.

Each seed is the harness's input layout: one byte for the reply buffer size, four receive
chunk sizes, then the byte stream. Run from anywhere; writes next to this script.
"""
import os

START, END, ESC = 0x7F, 0x7E, 0x7D


def frame(code, total, index, payload, command=0x41):
    body = bytes([command, code, total, index]) + bytes(payload)
    body += bytes([sum(body) & 0xFF])
    out = bytearray([START])
    for b in body:
        if b in (ESC, END, START):
            out += bytes([ESC, b ^ 0x20])
        else:
            out.append(b)
    out.append(END)
    return bytes(out)


def reply(code, payload, per):
    parts = [payload[i:i + per] for i in range(0, len(payload), per)] or [b""]
    return b"".join(frame(code, len(parts), i, p) for i, p in enumerate(parts))


def seed(stream, capacity=0xFF, chunks=(255, 255, 255, 255)):
    return bytes([capacity]) + bytes(chunks) + stream


def main():
    ident = b"Quorvex,LK1240,SN000123,V2.10\x00\x00"
    jpeg = bytes([0xFF, 0xD8, 0xFF, 0xE0]) + bytes(range(256)) + bytes([0x7D, 0x7E, 0x7F] * 8) + \
        bytes([0xFF, 0xD9])
    # One payload byte that drives the checksum to 0x7E, so the checksum itself is escaped.
    escaped_sum = frame(0x60, 1, 0, bytes([(0x7E - (0x41 + 0x60 + 1)) & 0xFF]))
    seeds = {
        "ident_reply": seed(reply(0x50, ident, 1024)),
        "screen_reply_3_packets": seed(reply(0x60, jpeg, 100), chunks=(6, 40, 1, 200)),
        "screen_reply_split_chunks": seed(reply(0x60, jpeg, 64), chunks=(0, 2, 9, 30)),
        "checksum_escaped": seed(escaped_sum + frame(0x60, 2, 1, b"tail")),
        "total_zero": seed(frame(0x50, 0, 0, b"ID")),
        "small_reply_buffer": seed(reply(0x60, jpeg, 50), capacity=2),
        "out_of_sequence": seed(frame(0x60, 3, 0, b"a") + frame(0x60, 3, 2, b"c")),
        "restart_and_noise": seed(bytes([START, 0x41, 0x60]) + frame(0x60, 1, 0, b"x") +
                                  b"\x00noise" + frame(0x50, 1, 0, b"y")),
        "request_frames": seed(frame(0x50, 1, 0, b"") +
                               frame(0x61, 1, 0, b"KEYP:MODE\n".ljust(128, b"\x00"))),
    }
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "packet")
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
