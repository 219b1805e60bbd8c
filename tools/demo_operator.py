#!/usr/bin/python3
"""The operator's side of the demo: serves the simulated board with devsim, runs BrenloFix on a
terminal of its own so that its colours and progress bars show as on a real console, passes
everything it prints through live, and types the operator's answers when the questions come:
the login, the password, the proxy and the final key. With a fault switched on, the first retry
question is answered like a careful operator would: the board is "repaired" first (devsim
restarts on the same port and state file without the fault, and the board is brought back to
where the failed step expects it), then "r" is pressed. A fault that the run mends by itself
(lose-char=N: the echo shows the loss and step 4 types the command again) asks no question at all. With --tftp
the station's TFTP server is Debian's tftpd-hpa (in.tftpd in the foreground on a loopback port,
serving the images folder), devsim maps the board's server 192.168.102.134 to it, and BrenloFix
gets --tftp 192.168.102.134.

usage: demo_operator.py --devsim PATH --brenlofix PATH --images DIR --state FILE --pid-file FILE
                        [--fault NAME] [--line-emulation] [--speed X] [--tftp] -- BRENLOFIX ARGUMENTS...
Ends with BrenloFix's exit status; devsim is stopped on every exit.
"""
import argparse
import os
import pty
import re
import select
import signal
import socket
import subprocess
import sys
import time

import serial  # python3-serial, for bringing the board back after a repair

LOGIN, PASSWORD, PROXY = "root", "brenlo", "http://192.168.102.134:3128"
TFTP_SERVER = "192.168.102.134"  # the station's address on the board's network
ANSI = re.compile(rb"\x1b\[[0-9;]*m")

# Where each step's retry leaves the board, and what must be true of it before "r" is pressed.
RETRY_NEEDS = {
    b"Uploading failed!": "reset",            # step 2 restarts the board with a break
    b"Flashing failed!": "reset",             # step 3's retry starts at step 2, with a break
    b"Setting U-Boot Environment failed!": "reset",
    b"Uploading kernel failed!": "uboot",     # steps 5 and 6 type at the U-Boot prompt
    b"Flashing kernel failed!": "uboot",
    b"Loading system failed!": "reset",
    b"Updating kernel failed!": "shell",      # step 8 types at the logged-in shell
}


def say(text):
    sys.stdout.write("\n\033[36m[demo] %s\033[0m\n" % text if sys.stdout.isatty() else "\n[demo] %s\n" % text)
    sys.stdout.flush()


class Board:
    """devsim on one loopback port, restartable with the same state file."""

    def __init__(self, args):
        self.args = args
        self.process = None
        self.port = 0
        self.tftp_port = 0  # the station's TFTP server on 127.0.0.1 (0: none)
        self.log = open(os.path.join(os.path.dirname(args.state), "devsim.log"), "ab")

    def start(self, fault):
        port_file = self.args.state + ".port"
        if os.path.exists(port_file):
            os.remove(port_file)
        command = [self.args.devsim, "--port", str(self.port), "--port-file", port_file,
                   "--state", self.args.state, "--speed", self.args.speed]
        if self.args.line_emulation:
            command.append("--baud-emulation")
        if self.tftp_port:
            command += ["--tftp-port", str(self.tftp_port)]
        if fault:
            command += ["--fault", fault]
        self.process = subprocess.Popen(command, stdout=self.log, stderr=self.log)
        with open(self.args.pid_file, "w") as f:
            f.write("%d\n" % self.process.pid)
        deadline = time.time() + 10
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            if self.process.poll() is not None:
                raise SystemExit("devsim ended at start; see %s" % self.log.name)
            if time.time() > deadline:
                raise SystemExit("devsim did not start listening")
            time.sleep(0.05)
        self.port = int(open(port_file).read())

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)  # devsim saves its state file first
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def url(self):
        return "rfc2217://127.0.0.1:%d" % self.port


def start_tftpd(folder, log):
    """Debian's TFTP server in the foreground on a free loopback port, serving folder."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    user = subprocess.run(["id", "-un"], stdout=subprocess.PIPE, check=True).stdout.decode().strip()
    process = subprocess.Popen(["in.tftpd", "--foreground", "--address", "127.0.0.1:%d" % port, "--secure",
                                "--user", user, folder], stdout=log, stderr=log)
    return process, port


def converse(url, exchanges, timeout=120):
    """Restarts the board with a break (it booted before anyone listened), then talks to it like a
    person at a terminal: waits for each text and types the answer."""
    line = serial.serial_for_url(url, baudrate=115200, timeout=0.2)
    try:
        line.send_break(0.25)
        seen = b""
        for wait_for, answer in exchanges:
            deadline = time.time() + timeout
            while wait_for.encode() not in seen:
                if time.time() > deadline:
                    raise SystemExit("the board did not say %r" % wait_for)
                seen += line.read(4096)
            seen = seen[seen.index(wait_for.encode()) + len(wait_for):]
            for ch in answer.encode():
                line.write(bytes([ch]))
                time.sleep(0.02)
    finally:
        line.close()


def repair(board, needs):
    """Switches the fault off: devsim restarts on the same port and state without it (a power
    cycle of the board), then the board is brought to where the retried step begins."""
    board.stop()
    board.start(None)
    if needs == "uboot":
        say("fault switched off (devsim restarted without it); stopping U-Boot's autoboot")
        converse(board.url(), [("Hit any key to stop autoboot", " "), ("B-Boot > ", "")])
    elif needs == "shell":
        say("fault switched off (devsim restarted without it); logging in again after the boot")
        converse(board.url(), [("login:", LOGIN + "\n"), ("Password:", PASSWORD + "\n"), (":~#", "")])
    else:
        say("fault switched off (devsim restarted without it)")


def run_operator(args, board, brenlofix_args):
    master, slave = pty.openpty()
    process = subprocess.Popen([args.brenlofix, "-p", board.url()] + brenlofix_args, cwd=args.images,
                               stdin=slave, stdout=slave, stderr=slave, start_new_session=True)
    os.close(slave)
    output, scanned, repaired = b"", 0, False
    answers = [(b"Enter you login:", LOGIN + "\n"), (b"Enter you password:", PASSWORD + "\n"),
               (b"Enter proxy (http://ipaddr:port):", PROXY + "\n"), (b"Press any key..", "k")]
    try:
        while True:
            ready, _, _ = select.select([master], [], [], 0.5)
            if not ready:
                if process.poll() is not None:
                    break
                continue
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal closed with the program
                break
            if not chunk:
                break
            sys.stdout.buffer.write(chunk)
            sys.stdout.flush()
            output += ANSI.sub(b"", chunk)
            # Each question is answered once, in the order it comes.
            while True:
                found = [(output.find(p, scanned), p, a) for p, a in answers if output.find(p, scanned) >= 0]
                retry = output.find(b"Press 'r' to retry", scanned)
                if retry >= 0:
                    found.append((retry, b"Press 'r' to retry", None))
                if not found:
                    break
                at, prompt, answer = min(found)
                scanned = at + len(prompt)
                if answer is None:
                    question = output[output.rfind(b"\n", 0, at) + 1:at]
                    needs = next((n for q, n in RETRY_NEEDS.items() if q in question), "reset")
                    if repaired or not args.fault:
                        say("the same step failed again; answering with another key (quit)")
                        answer = "q"
                    else:
                        repair(board, needs)
                        repaired = True
                        say("pressing r")
                        answer = "r"
                os.write(master, answer.encode())
        return process.wait()
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        os.close(master)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--devsim", "--brenlofix", "--images", "--state", "--pid-file"):
        parser.add_argument(name, required=True)
    parser.add_argument("--fault")
    parser.add_argument("--line-emulation", action="store_true")
    parser.add_argument("--speed", default="1")
    parser.add_argument("--tftp", action="store_true")
    parser.add_argument("brenlofix_args", nargs="*")
    args = parser.parse_args()
    # A signal ends the run through the finally clauses, so that devsim is always stopped.
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda number, _frame: sys.exit(128 + number))
    board = Board(args)
    tftpd = None
    try:
        brenlofix_args = list(args.brenlofix_args)
        if args.tftp:
            tftpd, board.tftp_port = start_tftpd(args.images, board.log)
            brenlofix_args += ["--tftp", TFTP_SERVER]
            say("tftpd-hpa serves %s on 127.0.0.1:%d, the board's TFTP server %s" % (
                args.images, board.tftp_port, TFTP_SERVER))
        board.start(args.fault)
        say("devsim serves the board on %s%s" % (board.url(), ", fault " + args.fault if args.fault else ""))
        return run_operator(args, board, brenlofix_args)
    except KeyboardInterrupt:
        return 130
    finally:
        board.stop()
        if tftpd and tftpd.poll() is None:
            tftpd.kill()
            tftpd.wait()


if __name__ == "__main__":
    sys.exit(main())
