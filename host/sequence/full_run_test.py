#!/usr/bin/python3
"""The whole run with every step, as an operator makes it: devsim serves a blank board on an RFC 2217
loopback port at real time, and BrenloFix -p URL -m MAC -s SERIAL -al -ri --typing echo flashes it
(typing at the pace of U-Boot's echo), watches the first boot, logs in and installs the kernel modules. The operator's answers (user name, password,
proxy, the last key) come from a script on standard input, each typed once its question shows.

Afterwards the log file must hold the board's lines of every step in order and end with the success
line, but never the password; devsim's state dump must show the flashed board.

usage: full_run_test.py PATH/TO/BrenloFix PATH/TO/devsim
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

BRENLOFIX, DEVSIM = sys.argv[1], sys.argv[2]
MAC, SERIAL = "02:1B:4D:12:34:56", "QV4N150101ABC"
USER, PASSWORD, PROXY = "root", "Pw-7734x", "http://10.1.2.3:3128"
# The operator's answers, each typed once its question is on the console.
ANSWERS = [
    (b"Enter you login:", USER + "\n"),
    (b"Enter you password:", PASSWORD + "\n"),
    (b"Enter proxy (http://ipaddr:port):", PROXY + "\n"),
    (b"Press any key..", "x"),
]

# A board line that each step leaves in the log, in the order of the run.
LOGGED_BY_STEP = [
    ("1 identity backup", b" BOOTME"),
    ("1 identity backup", b"The board showed no boot loader"),  # the program's own line
    ("2 flasher upload", b" BOOTME"),
    ("2 flasher upload", b"BOOTUBL"),
    ("3 boot loaders", b"SENDIMG"),
    ("4 environment", b"B-Boot > setenv ipaddr 192.168.102.30"),
    ("4 environment", b"Writing to Nand... done"),
    ("5 kernel upload", b"## Total Size"),
    ("6 kernel copies", b"written: OK"),
    ("7 boot watch", b"Uncompressing Linu"),
    ("7 boot watch", b"MontaVista(R) Linux(R) Professional Edition 4.0"),
    ("7 login", b"Password: "),
    ("7 login", b"root@brenlo:~# "),
    ("8 package update", b"export http_proxy=" + PROXY.encode()),
    ("8 package update", b"Building Dependency Tree... Done"),
    ("8 package update", b"The following extra packages will be installed:"),
    ("8 package update", b"Preparing..."),
    ("8 package update", b"Done.\r\n"),
]

# Where each part of the run ends on the operator's console, for its wall time (None: the exit).
CONSOLE_PART_ENDS = [
    ("0-6 flashing", b"written: OK"),  # the last of the ten kernel copies
    ("7 boot watch", b"Enter you login:"),
    ("7 login", b"Enter proxy (http://ipaddr:port):"),
    ("8 package update", None),
]


class LiveOutput:
    """Standard output of a running program, with the arrival time of every chunk."""

    def __init__(self, stream):
        self.data, self.times = b"", []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._pump, args=(stream,), daemon=True)
        self.thread.start()

    def _pump(self, stream):
        for chunk in iter(lambda: os.read(stream.fileno(), 65536), b""):
            with self.lock:
                self.times.append((len(self.data), time.time()))
                self.data += chunk

    def text(self):
        with self.lock:
            return self.data

    def time_of(self, offset):
        with self.lock:
            arrived = [t for start, t in self.times if start <= offset]
        return arrived[-1] if arrived else None


def answer_questions(process, out):
    """Types each answer once its question shows; a retry question ends the input, so that the
    run ends there instead of waiting for a key."""
    at = 0
    for question, answer in ANSWERS:
        while True:
            text = out.text()
            if b"Press 'r' to retry" in text or process.poll() is not None:
                process.stdin.close()
                return
            found = text.find(question, at)
            if found >= 0:
                at = found + len(question)
                try:
                    process.stdin.write(answer.encode())
                    process.stdin.flush()
                except BrokenPipeError:
                    return
                break
            time.sleep(0.05)
    process.stdin.close()


def start_devsim(work):
    state, port_file = os.path.join(work, "board.state"), os.path.join(work, "port")
    devsim = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file, "--state", state,
                               "--user", USER, "--password", PASSWORD],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.time() + 10
    while not (os.path.exists(port_file) and open(port_file).read().strip()):
        assert devsim.poll() is None, "devsim ended: %s" % devsim.stderr.read().decode()
        assert time.time() < deadline, "devsim did not start listening"
        time.sleep(0.05)
    return devsim, state, "rfc2217://127.0.0.1:" + open(port_file).read().strip()


def check_log(log):
    at = 0
    for step, line in LOGGED_BY_STEP:
        found = log.find(line, at)
        assert found >= 0, "step %s left no %r in the log after offset %d:\n%s" % (
            step, line, at, log[at:at + 2000].decode("latin-1"))
        at = found + len(line)
    assert log.count(b"written: OK") == 10, log.count(b"written: OK")
    assert log.endswith(b"Update kernel rpm(s) successful!\r\n"), log[-500:]
    # The host keeps the credentials and the proxy to itself: the password (which the board does
    # not echo) is nowhere, the proxy only in the board's echo of the command.
    assert PASSWORD.encode() not in log
    assert log.count(PROXY.encode()) == 1, log.count(PROXY.encode())
    for failure in (b"failed!", b"Failed backup env.", b"kernel panic"):
        assert failure not in log, failure


def check_console(text):
    order = [b"Enter you login:", b"Enter you password:", b"Target: root@brenlo:~# ",
             b"Enter proxy (http://ipaddr:port):", b"Update completed successfully.\n\n",
             b"\nUpdate kernel rpm(s) successful!\n", b"Press any key..\n"]
    at = 0
    for item in order:
        found = text.find(item, at)
        assert found >= 0, "console lacks %r after offset %d:\n%s" % (item, at, text[at:at + 3000].decode("latin-1"))
        at = found + len(item)
    assert PASSWORD.encode() not in text


def check_dump(dump):
    lines = dump.splitlines()
    assert any(l.startswith("nand.ubl: valid") for l in lines), dump
    assert any(l.startswith("nand.uboot: valid") for l in lines), dump
    assert "nand.kernel.equal: 10/10" in lines, dump
    assert "env.serialno=" + SERIAL in lines and "env.ethaddr=" + MAC in lines, dump


def main():
    work = tempfile.mkdtemp(prefix="full-run-")
    devsim = brenlofix = None
    try:
        subprocess.run([DEVSIM, "make-images", work], check=True, stdout=subprocess.DEVNULL)
        devsim, state, url = start_devsim(work)

        started = time.time()
        brenlofix = subprocess.Popen([BRENLOFIX, "-p", url, "-m", MAC, "-s", SERIAL, "-al", "-ri", "--typing", "echo"],
                                     cwd=work,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = LiveOutput(brenlofix.stdout)
        operator = threading.Thread(target=answer_questions, args=(brenlofix, out), daemon=True)
        operator.start()
        try:
            status = brenlofix.wait(timeout=1500)
        except subprocess.TimeoutExpired:
            raise AssertionError("BrenloFix did not finish:\n%s" % out.text()[-3000:].decode("latin-1"))
        ended = time.time()
        out.thread.join(timeout=10)
        text = out.text()
        assert status == 0, "exit status %d:\n%s" % (status, text[-3000:].decode("latin-1"))
        check_console(text)

        logs = [f for f in os.listdir(work) if f.endswith(".log")]
        assert len(logs) == 1, logs
        check_log(open(os.path.join(work, logs[0]), "rb").read())

        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=60)
        devsim = None
        check_dump(subprocess.run([DEVSIM, "dump", "--state", state], check=True,
                                  stdout=subprocess.PIPE).stdout.decode())

        # Wall time of the run and of its parts, from the console's own marks.
        print("whole run with every step in %.1f s" % (ended - started))
        begin, at = started, 0
        for name, marker in CONSOLE_PART_ENDS:
            if marker is None:
                end = ended
            else:
                at = text.rfind(marker) if marker == b"written: OK" else text.find(marker, at)
                assert at >= 0, marker
                end = out.time_of(at)
            print("  %-18s %6.1f s" % (name, end - begin))
            begin = end
        return 0
    finally:
        for process in (brenlofix, devsim):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
