#!/usr/bin/python3
"""Steps 2 and 3 as an operator runs them: BrenloFix against devsim over RFC 2217, on a board
held in its boot ROM. The flasher image is missing at first; the operator puts it in place and
answers the retry question with "r". Afterwards devsim's state dump must show the kit's UBL and
U-Boot in NAND.

usage: boot_loaders_devsim_test.py PATH/TO/BrenloFix PATH/TO/devsim
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
RETRY_QUESTION = b"Uploading failed! Press 'r' to retry or any key to quit.."


class LiveOutput:
    """Standard output of a running program, gathered as it comes."""

    def __init__(self, stream):
        self.data = b""
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._pump, args=(stream,), daemon=True)
        self.thread.start()

    def _pump(self, stream):
        for chunk in iter(lambda: os.read(stream.fileno(), 4096), b""):
            with self.lock:
                self.data += chunk

    def text(self):
        with self.lock:
            return self.data

    def wait_for(self, needle, seconds, start=0):
        deadline = time.time() + seconds
        while time.time() < deadline:
            at = self.text().find(needle, start)
            if at >= 0:
                return at
            time.sleep(0.05)
        raise AssertionError("no %r within %s s; output so far:\n%s"
                             % (needle, seconds, self.text()[-3000:].decode("latin-1")))


def image_name(path):
    """The name a boot image carries in its identity (bytes 16 to 31, NUL-padded)."""
    with open(path, "rb") as f:
        return f.read(32)[16:32].rstrip(b"\0").decode("ascii")


def main():
    work = tempfile.mkdtemp(prefix="boot-loaders-devsim-")
    devsim = brenlofix = None
    try:
        subprocess.run([DEVSIM, "make-images", work], check=True, stdout=subprocess.DEVNULL)
        flasher = os.path.join(work, "sft_DM6446_NAND.bin")
        shutil.move(flasher, os.path.join(work, "flasher.away"))

        state, port_file = os.path.join(work, "board.state"), os.path.join(work, "port")
        devsim = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file,
                                   "--state", state, "--speed", "0"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 10
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            assert time.time() < deadline, "devsim did not start listening"
            time.sleep(0.05)
        url = "rfc2217://127.0.0.1:" + open(port_file).read().strip()

        brenlofix = subprocess.Popen([BRENLOFIX, "-p", url], cwd=work, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = LiveOutput(brenlofix.stdout)

        # Step 2 without its image: refused before anything is sent, then retried.
        at = out.wait_for(b"Can't open file sft_DM6446_NAND.bin", 60)
        at = out.wait_for(RETRY_QUESTION, 10, at)
        shutil.move(os.path.join(work, "flasher.away"), flasher)
        brenlofix.stdin.write(b"r")
        brenlofix.stdin.flush()

        at = out.wait_for(b"UBL CRC32: ", 30, at)
        at = out.wait_for(b"\t\t\tUploading CRC32 table..", 30, at)
        at = out.wait_for(b"Target:    DONE", 30, at)
        at = out.wait_for(b"Target:    DONE", 60, at + 1)  # the boot ROM took the image
        at = out.wait_for(b"Target: BOOTUBL", 30, at)
        at = out.wait_for(b"Target:     CMD\nTarget: 55424c10\n", 30, at)
        at = out.wait_for(b"File open: ubl_DM6446_NAND.bin, size: 14336", 30, at)
        at = out.wait_for(b"File open: uboot.large.bin, size: ", 60, at)
        at = out.wait_for(b"Target:    DONE", 120, at)  # the flasher wrote U-Boot
        # The flasher's last "   DONE" ends step 3; the rest of the run is other steps' business,
        # so the operator closes the program once step 4 has had time to begin (after 1000 ms).
        time.sleep(2)
        brenlofix.terminate()
        brenlofix.wait(timeout=30)
        assert b"Flashing failed!" not in out.text(), "step 3 failed"
        log = b"".join(open(os.path.join(work, f), "rb").read()
                       for f in os.listdir(work) if f.endswith(".log"))
        for line in [b"Upload flasher image\r\n", b"Upload UBL image\r\n", b"Upload UBoot image\r\n"]:
            assert line in log, "log file lacks %r" % line

        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=30)
        devsim = None
        dump = subprocess.run([DEVSIM, "dump", "--state", state], check=True,
                              stdout=subprocess.PIPE).stdout.decode()
        ubl, uboot = (os.path.join(work, n) for n in ("ubl_DM6446_NAND.bin", "uboot.large.bin"))
        for key, path in [("nand.ubl", ubl), ("nand.uboot", uboot)]:
            expected = '%s: valid "%s", %d bytes' % (key, image_name(path), os.path.getsize(path))
            assert expected in dump.splitlines(), "dump lacks %r:\n%s" % (expected, dump)
        print("steps 2 and 3 passed; the dump shows both boot loaders:")
        print(dump)
        return 0
    finally:
        for process in (brenlofix, devsim):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
