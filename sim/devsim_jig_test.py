#!/usr/bin/python3
"""devsim's jig driven over its Unix socket, with pyserial's RFC 2217 client on the board's line:
an empty jig leaves the line silent; a blank board put on announces its boot ROM (" BOOTME"); a
flashed board with an identity shows the UBL's and U-Boot's first words and the state dump shows
that identity saved; a flashed board without one holds none; a board taken off and put back is the
same board; wrong commands are answered in words.

Usage: devsim_jig_test.py PATH/TO/devsim
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

import serial

DEVSIM = sys.argv[1]
MAC, SERIAL = "02:1B:4D:12:34:56", "QV4N150101ABC"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


class JigClient:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.sock.settimeout(10)
        self.pending = b""

    def send(self, command):
        self.sock.sendall(command.encode() + b"\n")
        while b"\n" not in self.pending:
            chunk = self.sock.recv(4096)
            if not chunk:
                fail("the jig hung up after %r" % command)
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode()

    def ok(self, command):
        answer = self.send(command)
        if answer != "ok":
            fail("%r answered %r" % (command, answer))

    def state(self):
        return json.loads(self.send("state"))


def read_for(port, seconds):
    seen = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        seen += port.read(4096)
    return seen


def read_until(port, text, seconds):
    seen = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        seen += port.read(4096)
        if text in seen:
            return seen
    fail("no %r within %s s; got %r" % (text, seconds, seen[-300:]))


def dump(state_file):
    return subprocess.run([DEVSIM, "dump", "--state", state_file], check=True, capture_output=True,
                          text=True).stdout


def saved_identity(text):
    env = dict(line[4:].split("=", 1) for line in text.splitlines() if line.startswith("env."))
    return env.get("ethaddr"), env.get("serialno")


def main():
    work = tempfile.mkdtemp(prefix="devsim-jig-")
    jig_path, state_file, port_file = (os.path.join(work, n) for n in ("jig", "board.state", "port"))
    devsim = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file, "--state", state_file,
                               "--jig", jig_path, "--speed", "4"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        deadline = time.time() + 10
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            if devsim.poll() is not None:
                fail("devsim ended: %s" % devsim.stderr.read().decode())
            if time.time() > deadline:
                fail("devsim did not start listening")
            time.sleep(0.05)
        port = serial.serial_for_url("rfc2217://127.0.0.1:%s" % open(port_file).read().strip(),
                                     baudrate=115200, timeout=0.1)
        jig = JigClient(jig_path)

        # Empty at the start: nothing comes, and what the host sends reaches nobody.
        if jig.state() != {"board": "off", "boards": 0}:
            fail("state at the start: %r" % jig.state())
        port.write(b"    ACK\0\r\n")
        heard = read_for(port, 1.5)
        if heard:
            fail("an empty jig's line said %r" % heard)

        jig.ok("on blank")
        read_until(port, b" BOOTME", 3)
        if jig.state() != {"board": "on", "boards": 1}:
            fail("state with a blank board: %r" % jig.state())
        if saved_identity(dump(state_file)) != (None, None) or "nand.ubl: erased" not in dump(state_file):
            fail("the blank board's dump:\n" + dump(state_file))

        jig.ok("off")
        read_for(port, 0.3)  # what was on its way when the board was taken off
        heard = read_for(port, 2.5)  # the boot ROM says " BOOTME" again every second while on
        if heard:
            fail("the line said %r after the board was taken off" % heard)

        jig.ok("on flashed %s,%s" % (MAC, SERIAL))
        words = read_until(port, b"Hit any key to stop autoboot", 10)
        for text in (b"TI UBL Version", b"\nU-Boot "):
            if text not in words:
                fail("no %r among the flashed board's first words: %r" % (text, words[-600:]))
        if b"BOOTME" in words:
            fail("a flashed board announced serial boot: %r" % words)
        described = dump(state_file)
        if saved_identity(described) != (MAC, SERIAL) or 'nand.ubl: valid "UBL 1.50 sim' not in described:
            fail("the flashed board's dump:\n" + described)

        jig.ok("on flashed")  # another board: the one on the jig goes off first
        read_until(port, b"Hit any key to stop autoboot", 10)
        if saved_identity(dump(state_file)) != (None, None):
            fail("a board flashed without an identity holds one:\n" + dump(state_file))
        if jig.state() != {"board": "on", "boards": 3}:
            fail("state after three boards: %r" % jig.state())

        # Off and back on: the same board (no identity, the boot loaders in NAND), not a new one.
        for command, answer in (("on", "error: a board is on the jig already; take it off first"),
                                ("on flashed 02:1B:4D:12:34,QV4", None), ("unplug", None), ("", None)):
            got = jig.send(command)
            if not got.startswith("error: ") or (answer and got != answer):
                fail("%r answered %r" % (command, got))
        jig.ok("off")
        jig.ok("on")
        read_until(port, b"Hit any key to stop autoboot", 10)
        if jig.state() != {"board": "on", "boards": 3} or saved_identity(dump(state_file)) != (None, None):
            fail("the board put back: %r\n%s" % (jig.state(), dump(state_file)))
        # A second client at the same time gets its own answers.
        other = JigClient(jig_path)
        if other.state() != jig.state():
            fail("two clients see two jigs")
        port.close()
    finally:
        devsim.terminate()
        devsim.wait(timeout=10)
    if os.path.exists(jig_path):
        fail("devsim left its socket behind")
    print("devsim jig: ok")


if __name__ == "__main__":
    main()
