#!/usr/bin/python3
"""A whole flashing run as an operator makes it: devsim serves the board on an RFC 2217 loopback
port at real time (the backed-up identity's run, which is about the identity, without the board's
device delays), BrenloFix runs steps 0 to 6 against it. Afterwards devsim's state dump must show
the UBL and U-Boot in NAND, the saved environment holding every command typed (the 28 defaults)
and the identity, ten kernel copies equal to uImage, no command that U-Boot ran twice, no
character its UART lost, and the clone script run once.

Three runs (each named on the command line, or all three):
  given     a blank board, BrenloFix -p URL -m 02:1B:4D:12:34:56 -s QV4N150101ABC --typing echo
            (typed at the pace of U-Boot's echo)
  backedup  a board with the kit's boot loaders and an old environment, no -m/-s: the identity
            read from the board is programmed again (typed paced, the default)
  lost      a board with the kit's boot loaders whose U-Boot lost its environment (it holds no
            identity, "not defined") and whose kernel slots 1 and 2 go bad at their first write:
            -m/-s are programmed (typed at the echo's pace), and step 6 reads the copies back and
            writes those two again

usage: flashing_run_test.py PATH/TO/BrenloFix PATH/TO/devsim [given|backedup|lost ...]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

BRENLOFIX, DEVSIM = sys.argv[1], sys.argv[2]
MAC, SERIAL = "02:1B:4D:12:34:56", "QV4N150101ABC"
# The identity U-Boot's built-in environment holds on the simulated board.
OLD_MAC, OLD_SERIAL = "00:0E:99:02:5A:17", "QV4N150107A23"

# Where each step ends, as the operator's console shows it; a step begins where the one before
# it ended.
STEP_ENDS = [
    ("1 identity backup", b"serialno = "),
    ("2 flasher upload", b"Target: BOOTUBL"),
    ("3 boot loaders", b"\t\t\tSetting U-Boot Enviroment.."),  # includes step 4's boot catch
    ("4 environment", b"Writing to Nand... done"),
    ("5 kernel upload", b"Target: ## Total Size"),
    ("6 kernel copies", None),  # the end of the run
]


class LiveOutput:
    """Standard output of a running program with the arrival time of every chunk."""

    def __init__(self, stream):
        self.data = b""
        self.times = []  # (offset where a chunk starts, time it arrived)
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


def start_devsim(work, flashed, extra_args=()):
    state, port_file = os.path.join(work, "board.state"), os.path.join(work, "port")
    args = [DEVSIM, "--port", "0", "--port-file", port_file, "--state", state] + list(extra_args)
    if flashed:
        args.append("--flashed")
    devsim = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.time() + 10
    while not (os.path.exists(port_file) and open(port_file).read().strip()):
        assert devsim.poll() is None, "devsim ended: %s" % devsim.stderr.read().decode()
        assert time.time() < deadline, "devsim did not start listening"
        time.sleep(0.05)
    return devsim, state, "rfc2217://127.0.0.1:" + open(port_file).read().strip()


def typed_environment(log):
    """name -> value of every setenv U-Boot echoed in the log, quotes as the shell drops them."""
    env = {}
    for line in log.decode("latin-1").splitlines():
        m = re.match(r"B-Boot > setenv (\S+) (.*)$", line.rstrip("\r"))
        if m:
            value = m.group(2)
            if len(value) >= 2 and value[0] == "'" and value[-1] == "'":
                value = value[1:-1]
            env[m.group(1)] = value
    return env


def check_dump(dump, log, kernel_size, serialno, ethaddr):
    lines = dump.splitlines()
    for key, name in (("nand.ubl", "UBL 1.50 sim"), ("nand.uboot", "U-Boot 1.3.4")):
        assert any(l.startswith('%s: valid "%s"' % (key, name)) for l in lines), "%s missing:\n%s" % (key, dump)
    assert "ram.kernel: %d bytes" % kernel_size in lines, dump
    assert "nand.kernel.equal: 10/10" in lines, dump
    for i in range(10):
        assert any(l.startswith("nand.kernel.%d: " % i) and
                   l.endswith("uImage %d bytes, equals the uploaded kernel" % kernel_size) for l in lines), dump

    saved = dict(l[4:].split("=", 1) for l in lines if l.startswith("env."))
    typed = typed_environment(log)
    assert typed.pop("serialno") == serialno and typed.pop("ethaddr") == ethaddr, typed
    assert len(typed) == 28, "expected the 28 defaults typed, got %d: %s" % (len(typed), sorted(typed))
    for name, value in typed.items():
        assert saved.get(name) == value, "saved %s=%r, typed %r" % (name, saved.get(name), value)
    assert saved.get("serialno") == serialno and saved.get("ethaddr") == ethaddr, saved
    # One Enter per command: U-Boot ran nothing twice, its UART lost nothing, the clones ran once.
    for fact in ("uboot.repeated: 0", "uart.lost: 0", "uboot.run.make_nand_kernel_clones: 1"):
        assert fact in lines, "%s missing:\n%s" % (fact, dump)


def flashing_run(label, flashed, identity_args, serialno, ethaddr, devsim_args=(), writes=10):
    """identity_args: BrenloFix's options beyond -p; writes: the "written: OK" the console shows."""
    work = tempfile.mkdtemp(prefix="flashing-run-")
    devsim = brenlofix = None
    try:
        subprocess.run([DEVSIM, "make-images", work], check=True, stdout=subprocess.DEVNULL)
        kernel_size = os.path.getsize(os.path.join(work, "uImage"))
        devsim, state, url = start_devsim(work, flashed, devsim_args)

        started = time.time()
        brenlofix = subprocess.Popen([BRENLOFIX, "-p", url] + identity_args, cwd=work,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        out = LiveOutput(brenlofix.stdout)
        try:
            status = brenlofix.wait(timeout=900)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s: BrenloFix did not finish:\n%s" % (label, out.text()[-3000:].decode("latin-1")))
        ended = time.time()
        out.thread.join(timeout=10)
        text = out.text()
        tail = text[-3000:].decode("latin-1")
        assert status == 0, "%s: exit status %d:\n%s" % (label, status, tail)
        for failure in (b"failed!", b"Failed backup env."):
            assert failure not in text, "%s: %r:\n%s" % (label, failure, tail)
        told = b"\n".join(line for line in text.split(b"\n") if line.startswith((b"Echo check", b"Kernel cop", b"Step")))
        assert text.count(b"written: OK") == writes, "%d written: OK, not %d; the program's lines:\n%s\n%s" % (
            text.count(b"written: OK"), writes, told.decode("latin-1"), tail)
        # Each of the board's lines once: no "Target: " of its own for the rest of a CR LF.
        assert b"\rTarget: \n" not in text, tail

        # Wall time of the run and of each step, from the console's own milestones.
        timings, begin, at = [], started, 0
        for name, marker in STEP_ENDS:
            if marker is None:
                end = ended
            else:
                at = text.find(marker, at)
                assert at >= 0, "%s: no %r" % (label, marker)
                end = out.time_of(at)
            timings.append((name, end - begin))
            begin = end

        log = b"".join(open(os.path.join(work, f), "rb").read() for f in os.listdir(work) if f.endswith(".log"))
        assert ("Identity programmed:\r\nserialno = %s\r\nethaddr = %s\r\n" % (serialno, ethaddr)).encode() in log, log[-2000:]

        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=60)
        devsim = None
        dump = subprocess.run([DEVSIM, "dump", "--state", state], check=True, stdout=subprocess.PIPE).stdout.decode()
        check_dump(dump, log, kernel_size, serialno, ethaddr)

        print("%s: steps 0 to 6 in %.1f s" % (label, ended - started))
        for name, seconds in timings:
            print("  step %-18s %6.1f s" % (name, seconds))
        return log
    finally:
        for process in (brenlofix, devsim):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


def given():
    flashing_run("given identity, blank board, typed at the echo's pace", False,
                 ["-m", MAC, "-s", SERIAL, "--typing", "echo"], SERIAL, MAC)


def backedup():
    log = flashing_run("backed-up identity", True, [], OLD_SERIAL, OLD_MAC, ["--speed", "0"])
    # Each value logged as it was read, after the echo of its printenv.
    read_back = re.compile(("Identity read from the board:\r\n(.*\r\n)*?serialno = %s\r\n(.*\r\n)*?ethaddr = %s\r\n"
                            % (OLD_SERIAL, OLD_MAC)).encode())
    assert read_back.search(log), log[-2000:]


def lost():
    log = flashing_run("lost environment, kernel slots 1 and 2 bad once", True,
                       ["-m", MAC, "-s", SERIAL, "--typing", "echo"],
                       SERIAL, MAC, ["--lost-environment", "--fault", "flaky-slots=1,2"], writes=12)
    # Each answer logged as it was read, after the echo of its printenv.
    lacked = re.compile(b"Identity read from the board:\r\n(.*\r\n)*?serialno: not defined on the board\r\n"
                        b"(.*\r\n)*?ethaddr: not defined on the board\r\n")
    assert lacked.search(log), log[-3000:]
    assert b"Kernel copies checked: 10 of 10 equal to uImage (2 written again).\r\n" in log, log[-3000:]


RUNS = {"given": given, "backedup": backedup, "lost": lost}


def main():
    # CTest runs each one as a test of its own, side by side; without a name, all three.
    names = sys.argv[3:] or list(RUNS)
    for name in names:
        RUNS[name]()
    print("flashing runs passed: %s" % ", ".join(names))
    return 0


if __name__ == "__main__":
    sys.exit(main())
