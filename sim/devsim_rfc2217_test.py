#!/usr/bin/python3
"""devsim against pyserial's RFC 2217 client, an independent peer: a break brings " BOOTME", the
boot ROM and the serial flasher take the kit's images sent by this script, the UBL then boots from
NAND, and the state dump after the session shows what was written.

Usage: devsim_rfc2217_test.py PATH/TO/devsim
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import zlib

import serial


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def read_until(port, text, seconds):
    seen = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        seen += port.read(1)
        if text in seen:
            return seen
    fail("no %r within %s s; got %r" % (text, seconds, seen[-200:]))


def crc_table():
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


def upload_flasher(port, image):
    words = (len(image) + 3) // 4
    check = zlib.crc32(image) ^ 0xFFFFFFFF
    port.write(b"    ACK\0")
    port.write(b"%08X%04X01000000" % (check, words * 4))
    read_until(port, b"  BEGIN\0", 5)
    port.write(b"".join(b"%08X" % entry for entry in crc_table()))
    read_until(port, b"   DONE\0", 5)
    padded = image + b"\0" * (words * 4 - len(image))
    port.write(b"".join(b"%08X" % int.from_bytes(padded[i:i + 4], "little") for i in range(0, len(padded), 4)))
    read_until(port, b"   DONE\0", 10)


def send_image(port, magic, entry, load, data):
    read_until(port, b"SENDIMG\0", 10)
    port.write(b"    ACK\0")
    port.write(b"%08X%08X%08X%08X0000" % (magic, entry, len(data), load))
    read_until(port, b"  BEGIN\0", 10)
    for at in range(0, len(data), 128):
        port.write(data[at:at + 128])
    # The network takes the bytes at once, the board's line at 115200 baud (87 us a byte), so the
    # verdict comes that long after the last write: 18 s for U-Boot's 200 KiB.
    read_until(port, b"   DONE\0", 10 + len(data) * 87e-6)


def main():
    devsim = sys.argv[1]
    work = tempfile.mkdtemp(prefix="devsim_test_")
    subprocess.run([devsim, "make-images", work], check=True, stdout=subprocess.DEVNULL)
    images = {name: open(os.path.join(work, name), "rb").read()
              for name in ("sft_DM6446_NAND.bin", "ubl_DM6446_NAND.bin", "uboot.large.bin", "uImage")}
    if len(images["sft_DM6446_NAND.bin"]) >= 0xFFFC or images["uImage"][:4] != bytes.fromhex("27051956"):
        fail("make-images wrote unexpected files")

    port_file = os.path.join(work, "port")
    state = os.path.join(work, "state")
    server = subprocess.Popen([devsim, "--port", "0", "--port-file", port_file, "--state", state, "--speed", "5"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        for _ in range(100):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.05)
        url = "rfc2217://127.0.0.1:%s" % open(port_file).read().strip()
        # A host that hangs up with a megabyte of input still unread (a flasher that stopped taking an
        # image) and reopens at once is served: its hang-up stands behind that input.
        raw = socket.create_connection(("127.0.0.1", int(open(port_file).read())))
        raw.sendall(b"\0" * 1000000)
        raw.close()
        port = serial.serial_for_url(url, baudrate=115200, timeout=0.5)

        # A break restarts the board; a blank board announces UART boot.
        port.send_break(0.5)
        port.reset_input_buffer()
        read_until(port, b" BOOTME\0", 3)

        upload_flasher(port, images["sft_DM6446_NAND.bin"])
        read_until(port, b"BOOTUBL\0", 3)
        port.write(b"    CMD\0" + b"55424c10")
        read_until(port, b"   DONE\0", 5)
        send_image(port, 0xA1ACED00, 0x100, 0x20, images["ubl_DM6446_NAND.bin"])
        send_image(port, 0x55424CBB, 0x81080000, 0x81080000, images["uboot.large.bin"])

        # Now the board boots from NAND. The UBL speaks at once after the reset and only once, so
        # stale input is dropped before the break, not after it.
        port.reset_input_buffer()
        port.send_break(0.5)
        boot = read_until(port, b"Valid", 5)
        if b"UBL Version:" not in boot:
            fail("no UBL banner before Valid: %r" % boot)
        port.close()
    finally:
        server.send_signal(signal.SIGTERM)
        output = server.communicate(timeout=10)[0].decode(errors="replace")
    if server.returncode != 0:
        fail("devsim ended with %s: %s" % (server.returncode, output))

    dump = subprocess.run([devsim, "dump", "--state", state], check=True, capture_output=True, text=True).stdout
    for expected in ('nand.ubl: valid "UBL 1.50 sim", 14336 bytes', 'nand.uboot: valid "U-Boot 1.3.4", 204800 bytes',
                     "resets: 2"):
        if expected not in dump:
            fail("dump lacks %r:\n%s" % (expected, dump))
    check_pty(devsim)
    check_paced_line(devsim, work, images["sft_DM6446_NAND.bin"])
    print("PASS")


def check_paced_line(devsim, work, flasher):
    """With --baud-emulation the board takes the host's bytes at 11,520 a second, though the network
    takes them at once: the flasher's verdict on its image (8 hex digits a word) comes no sooner than
    the line can have carried them. With --unpaced-input they reach the board as fast as they come."""
    line_seconds = (len(flasher) + 3) // 4 * 8 * 10 / 115200.0
    for extra, paced in (([], True), (["--unpaced-input"], False)):
        port_file = os.path.join(work, "paced-port")
        if os.path.exists(port_file):
            os.remove(port_file)
        server = subprocess.Popen([devsim, "--port", "0", "--port-file", port_file, "--baud-emulation",
                                   "--speed", "5"] + extra, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        try:
            for _ in range(100):
                if os.path.exists(port_file) and open(port_file).read().strip():
                    break
                time.sleep(0.05)
            port = serial.serial_for_url("rfc2217://127.0.0.1:%s" % open(port_file).read().strip(),
                                         baudrate=115200, timeout=0.05)
            port.send_break(0.5)
            port.reset_input_buffer()
            read_until(port, b" BOOTME\0", 3)
            words = (len(flasher) + 3) // 4
            port.write(b"    ACK\0")
            port.write(b"%08X%04X01000000" % (zlib.crc32(flasher) ^ 0xFFFFFFFF, words * 4))
            read_until(port, b"  BEGIN\0", 5)
            port.write(b"".join(b"%08X" % entry for entry in crc_table()))
            read_until(port, b"   DONE\0", 5)
            padded = flasher + b"\0" * (words * 4 - len(flasher))
            started = time.monotonic()
            port.write(b"".join(b"%08X" % int.from_bytes(padded[i:i + 4], "little") for i in range(0, len(padded), 4)))
            written = time.monotonic() - started
            read_until(port, b"   DONE\0", 10 + line_seconds)
            took = time.monotonic() - started
            port.close()
        finally:
            server.send_signal(signal.SIGTERM)
            server.communicate(timeout=10)
        if paced and not (took >= line_seconds * 0.98 and written < line_seconds * 0.5):
            fail("paced: the image's %.2f s of line took %.2f s (the write returned after %.2f s)"
                 % (line_seconds, took, written))
        if not paced and took >= line_seconds * 0.5:
            fail("unpaced: the image took %.2f s, its line time is %.2f s" % (took, line_seconds))


def check_pty(devsim):
    """With --pty the console is also on a pseudo-terminal: a blank board announces there."""
    server = subprocess.Popen([devsim, "--port", "0", "--pty"], stdout=subprocess.PIPE, text=True)
    try:
        name = None
        for _ in range(2):
            line = server.stdout.readline()
            if line.startswith("devsim: serving /dev/"):
                name = line.split()[2]
        if not name:
            fail("devsim printed no pty name")
        port = serial.Serial(name, 115200, timeout=0.5)
        read_until(port, b" BOOTME\0", 3)
        port.close()
    finally:
        server.send_signal(signal.SIGTERM)
        server.communicate(timeout=10)


if __name__ == "__main__":
    main()
