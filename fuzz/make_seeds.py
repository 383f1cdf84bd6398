#!/usr/bin/env python3
"""Writes the seed corpora of the harnesses: small replies as the instrument sends them, a few
pictures, address texts, preference files and recordings.

Each seed follows its harness's input layout (described at the top of each fuzz_<name>.cpp).
Run from anywhere; writes next to this script (only the named harnesses' seeds when names
are given, e.g. `make_seeds.py prefs`). The JPEG seeds need ImageMagick's convert; the real
simulator screen needs a build (klremote-sim and klremote-cli in KLR_BIN, by default build/bin
of this checkout) and is otherwise left as it is. The recordings need FFmpeg's ffmpeg.
"""
import os
import re
import struct
import subprocess
import sys
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
    # Only the harnesses named on the command line, when any are.
    if len(sys.argv) > 1 and name not in sys.argv[1:]:
        return
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", name)
    os.makedirs(folder, exist_ok=True)
    for seed_name, data in seeds.items():
        with open(os.path.join(folder, seed_name), "wb") as f:
            f.write(data)


def segment(code, body):
    return bytes([0xFF, code]) + struct.pack(">H", len(body) + 2) + bytes(body)


def stuffed_bits(bits):
    """A string of '0'/'1' as entropy-coded bytes: padded with ones, 0xFF followed by 0x00."""
    bits += "1" * (-len(bits) % 8)
    out = bytearray()
    for i in range(0, len(bits), 8):
        b = int(bits[i:i + 8], 2)
        out.append(b)
        if b == 0xFF:
            out.append(0)
    return bytes(out)


def scan_bomb(width, height, scans):
    """A progressive grey JPEG: a DC scan of zero differences, then scans - 1 identical AC scans
    that end every block at once. Each scan is valid; each visits every block."""
    one_symbol = lambda cls, sym: bytes([cls << 4, 1] + [0] * 15 + [sym])
    out = b"\xff\xd8" + segment(0xDB, bytes([0]) + bytes([1] * 64))
    out += segment(0xC2, bytes([8]) + struct.pack(">HH", height, width) + bytes([1, 1, 0x11, 0]))
    out += segment(0xC4, one_symbol(0, 0x00)) + segment(0xC4, one_symbol(1, 0xE0))
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    out += segment(0xDA, bytes([1, 1, 0, 0, 0, 0])) + stuffed_bits("0" * blocks)
    runs = (blocks + 32766) // 32767
    ac = segment(0xDA, bytes([1, 1, 0, 1, 63, 0])) + stuffed_bits(("0" + "1" * 14) * runs)
    return out + ac * (scans - 1) + b"\xff\xd9"


def simulator_screen():
    """One screen as the simulated LK instrument sends it, fetched with the command-line client."""
    here = os.path.dirname(os.path.abspath(__file__))
    bin_dir = os.environ.get("KLR_BIN", os.path.join(here, "..", "build", "bin"))
    sim, cli = os.path.join(bin_dir, "klremote-sim"), os.path.join(bin_dir, "klremote-cli")
    if not (os.access(sim, os.X_OK) and os.access(cli, os.X_OK)):
        return None
    with subprocess.Popen([sim, "--port", "0", "--model", "KL561B", "--seed", "5"],
                          stdout=subprocess.PIPE, text=True) as server:
        try:
            match = re.match(r"listening on (.+):(\d+)", server.stdout.readline().strip())
            if not match:
                return None
            with tempfile.TemporaryDirectory() as tmp:
                out = os.path.join(tmp, "screen.jpg")
                host, port = match.group(1), match.group(2)
                method = "tcp6" if ":" in host else "tcp"
                subprocess.run([cli, "--method", method, "--host", host, "--port", port,
                                "screenshot", out], check=True, capture_output=True)
                with open(out, "rb") as f:
                    return f.read()
        except (OSError, subprocess.CalledProcessError):
            return None
        finally:
            server.terminate()


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
            "cmyk_16x16": ["-size", "16x16", "gradient:red-blue", "-colorspace", "CMYK"],
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
        # Huffman code counts adding up past 256: libjpeg gives up inside the header.
        dht = good.find(b"\xff\xc4")
        if dht > 0:
            pictures["bogus_huffman_table"] = good[:dht + 5] + b"\xff" * 16 + good[dht + 21:]
        pictures["no_end_marker"] = good[:-2]
        pictures["scan_marker_after_end"] = good + segment(0xDA, bytes([1, 1, 0, 0, 63, 0])) + \
            b"junk"
    pictures["not_a_picture"] = b"KEYP:MODE\n" * 8
    pictures["png_header_only"] = b"\x89PNG\r\n\x1a\n" + bytes(24)
    # Progressive scan bombs: one over the scan limit, one at it.
    pictures["scan_bomb_256x256_100_scans"] = scan_bomb(256, 256, 100)
    pictures["scans_64_at_the_limit"] = scan_bomb(64, 48, 64)
    screen = simulator_screen()
    if screen:
        pictures["simulator_screen_800x600"] = screen
    write("image", pictures)

    # prefs: an address text, a NUL, then the store's INI file (or only an INI file).
    clean = (b"[Connection]\nMethod=1\nIP=192.168.1.20\nIPV6=fe80::1\nScale=1\nQuality=2\n"
             b"UsbId=1234:abcd\n")
    # Values as QSettings writes other types (an int, 64-bit numbers, a list), serialised: a
    # file the program never writes, which it leaves alone.
    typed = (b"[Connection]\nMethod=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x3)\n"
             b"Scale=@Variant(\\0\\0\\0\\x5\\0\\0\\0\\0\\0\\0\\0\\x2)\n"
             b"Quality=@Variant(\\0\\0\\0\\x4" + b"\\xff" * 8 + b")\n"
             b"IP=@ByteArray(10.0.0.7)\nIPV6=fe80::1, fe80::2\n")
    write("prefs", {
        "clean_store": clean,
        "complete_store": b"192.168.1.20\x00" + clean,
        "typed_values": b"10.0.0.7\x00" + typed,
        "spaces_quotes_crlf": b"[General]\r\nMethod=1\r\n[Connection]\r\n"
                              b"  Method = 3 \r\nIPV6=\"fe80::1%eth0\"\r\n; note\r\n"
                              b"Scale=\\\r\n1\r\nQuality=\"\"\r\n",
        "out_of_range": b"300.1.2.3\x00[Connection]\nMethod=7\nScale=5\nQuality=9\n",
        "short_address": b"192.168.1\x00[Connection]\nMethod=3\nIPV6=" + b"f" * 300 + b"\n",
        "no_dots": b"17abc\x00[Connection]\nMethod=x\nScale=-1\nQuality=4294967295\n",
        # An existing group without values: the unset values, IPv4 0.0.0.0.
        "empty_group": b"\x00[Connection]\n",
        "empty_group_then_other": b"\x00[ Connection ]\n[Other]\nMethod=1\n",
        "other_group": b"1.2.3.4.5\x00[Other]\nMethod=1\n",
        "signs_and_spaces": b" -1. +256.\t7.999\x00[Connection]\nIP=@Variant(\\0\\0\\0\\x7f)\n",
        # Files at and one byte over the store's limit (64 KiB): the first is read, the
        # second is neither read nor replaced.
        "at_limit": b"pad=65536\x00" + clean,
        "over_limit": b"pad=65537\x00" + clean,
    })

    recordings()

def ffmpeg_recording(args, tags=True):
    """A small Matroska file of 80 x 48 test pictures made by ffmpeg; None without ffmpeg."""
    meta = ["-metadata", "KLREMOTE_FAMILY=1", "-metadata", "KLREMOTE_MODEL=KL535C"] if tags else []
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "r.mkv")
        try:
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc=size=80x48:rate=2", "-frames:v", "3", "-q:v", "20",
                            "-enc_time_base", "1/1000", *args, *meta, "-f", "matroska", out],
                           check=True, capture_output=True)
        except (OSError, subprocess.CalledProcessError):
            return None
        with open(out, "rb") as f:
            return f.read()


def recordings():
    """recording: whole files as the reader is given them."""
    seeds = {}
    ours = ffmpeg_recording(["-c:v", "mjpeg"])
    if ours:
        seeds["three_frames"] = ours
        # As a killed recorder leaves it: no index and no end, cut inside the last frame.
        seeds["cut_in_last_frame"] = ours[:len(ours) * 3 // 4]
        seeds["header_only"] = ours[:len(ours) // 8]
    backwards = ffmpeg_recording(["-c:v", "mjpeg", "-bsf:v",
                                  "setts=dts=N:pts=if(eq(N\\,2)\\,250\\,PTS)"])
    if backwards:
        seeds["time_goes_back"] = backwards
    foreign = ffmpeg_recording(["-c:v", "png"])
    if foreign:
        seeds["png_track"] = foreign
    untagged = ffmpeg_recording(["-c:v", "mjpeg"], tags=False)
    if untagged:
        seeds["no_family_tag"] = untagged
    seeds["ebml_magic_only"] = b"\x1a\x45\xdf\xa3"
    write("recording", seeds)


if __name__ == "__main__":
    main()
