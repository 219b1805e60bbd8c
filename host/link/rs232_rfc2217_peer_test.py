#!/usr/bin/python3
"""The network serial line against an independent RFC 2217 server: pyserial's PortManager over a
recording serial object that plays a small target. Checks the line settings, break, purge and IAC
doubling the server sees, the bytes the host gets back, and a connection the server drops.

usage: rs232_rfc2217_peer_test.py PATH/TO/rs232_probe [--wine WINEPREFIX]
With --wine the probe is rs232_probe.exe and runs under wine (Winsock underneath).
"""
import os
import socket
import subprocess
import sys
import threading
import time

import serial
import serial.rfc2217


class RecordingSerial:
    """What PortManager drives: records every setting, break, purge and written byte, and answers
    like a target would ("ping" gets "pong\\xff\\r\\n", a break gets " BOOTME\\0")."""

    def __init__(self, send):
        self.send = send
        self.settings = []
        self.breaks = []
        self.input_purges = 0
        self.output_purges = 0
        self.received = b""
        self.cts = self.dsr = self.ri = self.cd = False
        self.dtr = self.rts = True

    def _set(self, name, value):
        self.settings.append((name, value))
        if name == "baudrate":
            # Output the host must throw away with its purge.
            self.send(b"stale output\xff\r\n")

    baudrate = property(lambda s: 115200, lambda s, v: s._set("baudrate", v))
    bytesize = property(lambda s: 8, lambda s, v: s._set("bytesize", v))
    parity = property(lambda s: "N", lambda s, v: s._set("parity", v))
    stopbits = property(lambda s: 1, lambda s, v: s._set("stopbits", v))
    xonxoff = property(lambda s: False, lambda s, v: s._set("xonxoff", v))
    rtscts = property(lambda s: False, lambda s, v: s._set("rtscts", v))

    @property
    def break_condition(self):
        return bool(self.breaks) and self.breaks[-1][0]

    @break_condition.setter
    def break_condition(self, on):
        self.breaks.append((on, time.monotonic()))
        if not on:
            self.send(b" BOOTME\x00")

    def reset_input_buffer(self):
        self.input_purges += 1

    def reset_output_buffer(self):
        self.output_purges += 1

    def write(self, data):
        if not data:
            return
        self.received += data
        if self.received.endswith(b"ping\xff\x00"):
            self.send(b"pong\xff\r\n")


def serve(listener, script):
    connection, _ = listener.accept()
    lock = threading.Lock()

    class Writer:
        def write(self, data):
            with lock:
                connection.sendall(data)

    manager = None

    def send(data):
        Writer().write(b"".join(manager.escape(data)))

    target = RecordingSerial(send)
    refused = script.get("refuse_binary", ())
    manager = serial.rfc2217.PortManager(target, Writer())
    # A server that does not do binary transmission one way or the other (a Telnet NVT, which would
    # send a carriage return as CR NUL): the option for that direction is unknown to it, so it
    # refuses the client's request, and it takes back its own request when it made one.
    for option in list(manager._telnet_options):
        if option.name in refused:
            manager._telnet_options.remove(option)
            if option.name == "they-BINARY":
                manager.telnet_send_option(serial.rfc2217.DONT, serial.rfc2217.BINARY)
    script["target"] = target
    try:
        while True:
            data = connection.recv(4096)
            if not data:
                break
            target.write(b"".join(manager.filter(data)))
            if script.get("drop_after") and target.received.endswith(script["drop_after"]):
                send(b"bye\n")
                time.sleep(0.2)
                connection.shutdown(socket.SHUT_RDWR)
                break
    except (BrokenPipeError, ConnectionResetError):
        pass  # the client turned the server away and hung up while it was still answering
    finally:
        connection.close()


WINE_PREFIX = None


def run(probe, actions, script):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    server = threading.Thread(target=serve, args=(listener, script), daemon=True)
    server.start()
    command = [probe, "rfc2217://127.0.0.1:%d" % port] + actions
    env = None
    if WINE_PREFIX:
        command = ["wine"] + command
        env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=WINE_PREFIX)
    result = subprocess.run(command, env=env, capture_output=True, text=True, errors="replace", timeout=120)
    server.join(10)
    listener.close()
    return [line.rstrip("\r") for line in result.stdout.splitlines()], script["target"]


failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def main():
    global WINE_PREFIX
    probe = os.path.abspath(sys.argv[1])
    if sys.argv[2:3] == ["--wine"]:
        WINE_PREFIX = os.path.abspath(sys.argv[3])

    lines, target = run(probe, ["open", "sleep:300", "purge", "write:70696e67ff00", "read:7",
                                "break", "wait: BOOTME:3000", "close"], {})
    print("\n".join(lines))
    check(lines[0] == "open 1", "open")
    check(("baudrate", 115200) in target.settings, "baud rate 115200")
    check(("bytesize", 8) in target.settings, "8 data bits")
    check(("parity", serial.PARITY_NONE) in target.settings, "no parity")
    check(("stopbits", serial.STOPBITS_ONE) in target.settings, "1 stop bit")
    check(("xonxoff", False) in target.settings and ("rtscts", False) in target.settings, "no flow control")
    check(lines[1] == "purge 1", "purge result")
    check(target.input_purges >= 2 and target.output_purges >= 1, "purges reached the server: %d in, %d out"
          % (target.input_purges, target.output_purges))
    check(target.received == b"ping\xff\x00", "server received %r" % target.received)
    check(lines[2] == "write 1 6", "write result")
    check(lines[3] == "read " + b"pong\xff\r\n".hex(), "pong read back without the stale output")
    check(lines[4].startswith("break 1"), "break result")
    ons = [t for on, t in target.breaks if on]
    offs = [t for on, t in target.breaks if not on]
    check(len(ons) == 1 and len(offs) == 1, "one break on, one break off")
    if ons and offs:
        held = offs[0] - ons[0]
        print("break held %.0f ms" % (held * 1000))
        check(0.45 <= held <= 0.8, "break held about 500 ms")
    check(lines[5:] == ["Target:  BOOTME", "wait 1", "close"], "BOOTME after the break, nothing else")

    lines, target = run(probe, ["open", "write:7175697400", "read:100", "read:1", "write:78"],
                        {"drop_after": b"quit\x00"})
    print("\n".join(lines))
    check(lines[1] == "write 1 5", "write before the drop")
    check(lines[2].startswith("read-failed " + b"bye\n".hex()), "the drop ends the read after what came")
    check(lines[3].startswith("read-failed"), "reads keep failing")
    check(lines[4].startswith("write 0"), "writes fail after the drop")

    # Refused binary transmission either way: the port does not open, and says why in words.
    for refused in (("we-BINARY",), ("they-BINARY",)):
        lines, target = run(probe, ["open", "write:0d00", "close"], {"refuse_binary": refused})
        print("\n".join(lines))
        check("open 0" in lines, "%s: the port opened" % refused)
        check(any("refused binary transmission" in line for line in lines), "%s: no words for it" % refused)
        check(target.received == b"", "%s: data went to the server: %r" % (refused, target.received))

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
