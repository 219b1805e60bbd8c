#!/usr/bin/python3
"""The Windows serial line under wine: rs232_probe.exe on COM ports that the wine prefix maps to
pseudo-terminals, with this script as the target on the other side. Checks the line settings the
pty ends up with, bytes both ways, the one-second silent read, break and purge, COM10 and up, and
a port that does not exist.

usage: rs232_wine_test.py PATH/TO/rs232_probe.exe WINEPREFIX
"""
import os
import re
import subprocess
import sys
import termios
import threading

failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)


class PtyTarget:
    """The master side of a pty mapped to a wine COM port; answers "ping" with "pong\\xff\\r\\n"."""

    def __init__(self, prefix, com):
        self.master, self.slave = os.openpty()
        self.link = os.path.join(prefix, "dosdevices", com.lower())
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(os.ttyname(self.slave), self.link)
        self.received = b""
        self.attributes = None
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                data = os.read(self.master, 4096)
            except OSError:
                return
            self.received += data
            if self.received.endswith(b"ping"):
                self.attributes = termios.tcgetattr(self.slave)  # the port is open and set up by now
                os.write(self.master, b"pong\xff\r\n")

    def close(self):
        os.remove(self.link)
        os.close(self.master)
        os.close(self.slave)


def run_probe(probe, env, port, actions):
    command = ["wine", probe, port] + actions
    result = subprocess.run(command, env=env, capture_output=True, text=True, errors="replace", timeout=120)
    return [line.rstrip("\r") for line in result.stdout.splitlines()]


def main():
    probe, prefix = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=prefix)
    # A server of the prefix's still running from before (it lingers a few seconds after its last
    # program) is waited out: this test's server starts before any COM port is mapped.
    subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p30"], env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    for com in ("COM5", "COM12"):  # COM12 opens through the device namespace
        target = PtyTarget(prefix, com)
        lines = run_probe(probe, env, com, ["open", "write:70696e67", "timedread:7", "timedread:1", "break",
                                            "purge", "close"])
        print("\n".join(lines))
        check(lines[:2] == ["open 1", "write 1 4"], com + " opens and writes")
        check(target.received == b"ping", com + " target received %r" % target.received)
        check(lines[2].startswith("timedread " + b"pong\xff\r\n".hex()), com + " reads the answer")
        silent = lines[3].split()
        check(len(silent) == 2 and 950 <= int(silent[1]) <= 1400, com + " silent read succeeds empty after ~1 s")
        check(lines[4].startswith("break 1"), com + " break")
        check(lines[5] == "purge 1", com + " purge")
        if target.attributes:
            iflag, _, cflag, _, ispeed, ospeed, _ = target.attributes
            print("termios iflag=%o cflag=%o ispeed=%d ospeed=%d" % (iflag, cflag, ispeed, ospeed))
            check(ispeed == termios.B115200 and ospeed == termios.B115200, com + " 115200 baud")
            check(cflag & termios.CSIZE == termios.CS8 and not cflag & termios.PARENB, com + " 8 bits, no parity")
            check(not cflag & termios.CSTOPB, com + " one stop bit")
            check(not cflag & termios.CRTSCTS and not iflag & (termios.IXON | termios.IXOFF), com + " no flow control")
        else:
            check(False, com + " line settings read back")
        target.close()

    # A port that does not exist. (Wine does not refuse a second open of a serial device, so a
    # port held by another program is tested on the POSIX line and the scripted ports instead.)
    lines = run_probe(probe, env, "COM77", ["open"])
    print("\n".join(lines))
    check(lines[0] == "Could not open COM77 port: error(2)" and lines[-1] == "open 0", "a missing port does not open")
    # The system's words (FormatMessageA) and the ports this PC has follow the number.
    check(len(lines) == 3 and re.fullmatch(r"\S.*\. This PC has no port COM77; (its serial ports: .+|it lists no serial "
                                           r"ports)\.", lines[1]), "a missing port is told in words")

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
