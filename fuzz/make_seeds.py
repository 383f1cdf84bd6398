#!/usr/bin/env python3
"""Writes the seed corpora of the harnesses: small replies as the instrument sends them, a few
pictures, address texts and preference files.

Each seed follows its harness's input layout (described at the top of each fuzz_<name>.cpp).
Run from anywhere; writes next to this script. The JPEG seeds need ImageMagick's convert.
"""
import os
import struct
import subprocess
import tempfile

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


def write(name, seeds):
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", name)
    os.makedirs(folder, exist_ok=True)
    for seed_name, data in seeds.items():
        with open(os.path.join(folder, seed_name), "wb") as f:
            f.write(data)


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
        # An escape before an ordinary byte (0x21 becomes 0x01), checksum matching.
        "escape_of_ordinary_byte": seed(bytes([START, 0x41, 0x50, 0x01, 0x00, ESC, 0x21, 0x93,
                                               END])),
        "request_frames": seed(frame(0x50, 1, 0, b"") +
                               frame(0x61, 1, 0, b"KEYP:MODE\n".ljust(128, b"\x00"))),
    }
    write("packet", seeds)

    # tcp_reply: flags, then records of a length byte and the bytes of one receive.
    def records(stream, sizes):
        out, pos, k = bytearray(), 0, 0
        while pos < len(stream):
            n = min(sizes[k % len(sizes)], len(stream) - pos)
            out += bytes([n - 1]) + stream[pos:pos + n]
            pos, k = pos + n, k + 1
        return bytes(out)

    # Flags: bit 0 identification, bits 1..3 further requests, bit 4 silence (not a hang-up)
    # after the last answer, bit 5 the carrier-neutral operations, bit 6 a key before each request. A record
    # 0xFF starts the next request's answer, 0xFE holds the rest of this one back until the
    # link is done with it.
    NEXT, STALL = b"\xff", b"\xfe"
    SILENT, API, KEYS = 0x10, 0x20, 0x40
    screen = reply(0x60, jpeg, 100)
    half = len(screen) // 2
    write("tcp_reply", {
        "ident_one_receive": bytes([1]) + records(reply(0x50, ident, 1024), [128]),
        "screen_in_pieces": bytes([0]) + records(screen, [1, 7, 64, 3]),
        "screen_twice": bytes([2]) + records(screen, [100]) + NEXT + records(screen, [100]),
        "checksum_then_good": bytes([2]) + records(frame(0x60, 1, 0, b"x")[:-2] + b"\x00\x7e",
                                                   [50]) + NEXT + records(screen, [50]),
        "noise_first": bytes([0]) + records(b"\x00\x01" + screen, [2, 128]),
        "out_of_sequence": bytes([0]) + records(frame(0x60, 3, 0, b"a") + frame(0x60, 3, 2, b"c"),
                                                [128]),
        "total_zero": bytes([1]) + records(frame(0x50, 0, 0, b"ID"), [20]),
        # The first answer comes late: a time-out, then stale bytes before the next request.
        "late_reply": bytes([4]) + STALL + records(screen, [128]) + NEXT + records(screen, [128]) +
                      NEXT + records(screen, [64]),
        # A packet that stops half-way; its rest arrives after the link gave up.
        "stall_mid_packet": bytes([2]) + records(screen[:half], [32]) + STALL +
                            records(screen[half:], [32]) + NEXT + records(screen, [128]),
        # Answers for the first request only: the others meet a silent instrument.
        "silent_after_one": bytes([4 | SILENT]) + records(screen, [128]),
        "hang_up_mid_reply": bytes([0]) + records(screen[:half], [128]),
        "api_keys_and_reply_after_it": bytes([2 | API | KEYS]) + records(screen, [128]) +
                                       records(frame(0x60, 1, 0, b"extra"), [20]) + NEXT +
                                       records(screen, [128]),
    })

    # usb_reply: flags, then records of a 16-bit length and the start of one block.
    def blocks(frames):
        return b"".join(struct.pack("<H", len(f)) + f for f in frames)

    parts = [frame(0x60, 3, i, jpeg[i * 100:(i + 1) * 100]) for i in range(3)]
    write("usb_reply", {
        "ident_block": bytes([0]) + blocks([frame(0x50, 1, 0, ident)]),
        "screen_three_blocks": bytes([1]) + blocks(parts),
        "sentinel_block": bytes([0]) + blocks([b"4" * 35 + b"\x00"]),
        "start_without_end": bytes([0]) + blocks([frame(0x60, 1, 0, b"abc")[:-1]]),
        "out_of_sequence": bytes([0]) + blocks([parts[0], parts[2]]),
        "trailing_padding": bytes([0]) + blocks([frame(0x50, 1, 0, b"ID") + b"\x7f\x7e junk"]),
    })

    # image: pictures as the instrument may send them, good and broken.
    pictures = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, args in {
            "gradient_64x48": ["-size", "64x48", "gradient:red-blue"],
            "screen_80x48_q30": ["-size", "80x48", "plasma:fractal", "-quality", "30"],
            "grey_8x8": ["-size", "8x8", "xc:gray50", "-colorspace", "Gray"],
            "progressive_32x32": ["-size", "32x32", "gradient:", "-interlace", "JPEG"],
        }.items():
            out = os.path.join(tmp, name + ".jpg")
            try:
                subprocess.run(["convert", *args, out], check=True, capture_output=True)
            except (OSError, subprocess.CalledProcessError):
                continue
            with open(out, "rb") as f:
                pictures[name] = f.read()
    if "gradient_64x48" in pictures:
        good = pictures["gradient_64x48"]
        pictures["truncated"] = good[:len(good) // 2]
        # Start-of-frame height and width set to 65500 x 65500.
        sof = good.find(b"\xff\xc0")
        if sof > 0:
            huge = bytearray(good)
            huge[sof + 5:sof + 9] = struct.pack(">HH", 65500, 65500)
            pictures["huge_declared_size"] = bytes(huge)
    pictures["not_a_picture"] = b"KEYP:MODE\n" * 8
    pictures["png_header_only"] = b"\x89PNG\r\n\x1a\n" + bytes(24)
    write("image", pictures)

    # prefs: an address text, a NUL, then the rest of an INI file.
    write("prefs", {
        "complete_store": b"192.168.1.20\x00[Connection]\nMethod=1\nIP=192.168.1.20\n"
                          b"IPV6=fe80::1\nScale=1\nQuality=2\n",
        "out_of_range": b"300.1.2.3\x00[Connection]\nMethod=7\nScale=5\nQuality=9\n",
        "short_address": b"192.168.1\x00[Connection]\nMethod=3\nIPV6=" + b"f" * 300 + b"\n",
        "no_dots": b"17abc\x00[Connection]\nMethod=x\nScale=-1\nQuality=4294967295\n",
        "empty_group": b"\x00[Connection]\n",
        "other_group": b"1.2.3.4.5\x00[Other]\nMethod=1\n",
        "signs_and_spaces": b" -1. +256.\t7.999\x00[Connection]\nIP=@Variant(\\0\\0\\0\\x7f)\n",
    })


if __name__ == "__main__":
    main()
