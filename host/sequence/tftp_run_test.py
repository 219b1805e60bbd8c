#!/usr/bin/python3
"""The whole run with the kernel over Ethernet, as an operator makes it: devsim serves a blank board
on an RFC 2217 loopback port and maps the station's TFTP server to a loopback UDP port, where
Debian's tftpd-hpa (in.tftpd) serves a folder; BrenloFix -p URL -m MAC -s SERIAL -al -ri --tftp
192.168.102.134 --typing echo flashes the board, boots it, logs in and installs the kernel modules.

Step 5 meets the station's three failures one after the other, each put right before "r" is pressed:
  no server       in.tftpd not started yet: U-Boot retries, then "Retry count exceeded"
  file not found  in.tftpd serves a folder without uImage: "TFTP error: 'File not found' (1)"
  another kernel  the folder holds another build of the same size: iminfo shows its name
Then the kernel arrives, and devsim's dump must show it in RAM and in all ten NAND slots.

usage: tftp_run_test.py PATH/TO/BrenloFix PATH/TO/devsim
"""
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

BRENLOFIX, DEVSIM = sys.argv[1], sys.argv[2]
MAC, SERIAL, SERVER = "02:1B:4D:12:34:56", "QV4N150101ABC", "192.168.102.134"
ANSWERS = [(b"Enter you login:", b"root\n"), (b"Enter you password:", b"brenlo\n"),
           (b"Enter proxy (http://ipaddr:port):", b"http://192.168.102.134:3128\n"), (b"Press any key..", b"k")]
QUESTION = b"Uploading kernel failed! Press 'r' to retry or any key to quit.."


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_tftpd(folder, port):
    """Debian's TFTP server in the foreground on a loopback port, serving folder."""
    user = subprocess.run(["id", "-un"], stdout=subprocess.PIPE, check=True).stdout.decode().strip()
    return subprocess.Popen(["in.tftpd", "--foreground", "--address", "127.0.0.1:%d" % port, "--secure",
                             "--user", user, folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def other_build(kernel):
    """Another kernel of the same size: the same data under another image name, checksums intact."""
    header = bytearray(kernel[:64])
    header[32:64] = b"Linux-2.6.18_pro500-old".ljust(32, b"\0")
    header[4:8] = b"\0\0\0\0"
    header[4:8] = struct.pack(">I", zlib.crc32(bytes(header)) & 0xFFFFFFFF)
    return bytes(header) + kernel[64:]


def main():
    work = tempfile.mkdtemp(prefix="tftp-run-")
    devsim = brenlofix = tftpd = None
    try:
        images, served = os.path.join(work, "images"), os.path.join(work, "served")
        os.mkdir(images)
        os.mkdir(served)
        subprocess.run([DEVSIM, "make-images", images], check=True, stdout=subprocess.DEVNULL)
        kernel = open(os.path.join(images, "uImage"), "rb").read()
        tftp_port = free_udp_port()
        state, port_file = os.path.join(work, "board.state"), os.path.join(work, "port")
        # U-Boot's TFTP time-out at 0.5 s: "Retry count exceeded" after 5 s instead of 50 (the host's
        # wait through U-Boot's own 50 s is timed on the virtual clock, in kernel_loading_test).
        devsim = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file, "--state", state, "--speed", "0",
                                   "--tftp-port", str(tftp_port), "--tftp-timeout", "500"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 10
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            assert devsim.poll() is None and time.time() < deadline, "devsim did not start"
            time.sleep(0.05)
        url = "rfc2217://127.0.0.1:" + open(port_file).read().strip()

        # Each failure of step 5, in order: what the console must show, and the repair before "r".
        def serve_empty_folder():
            nonlocal tftpd
            tftpd = start_tftpd(served, tftp_port)

        def serve_other_build():
            open(os.path.join(served, "uImage"), "wb").write(other_build(kernel))

        def serve_right_kernel():
            shutil.copy(os.path.join(images, "uImage"), os.path.join(served, "uImage"))

        failures = [(b"Retry count exceeded", serve_empty_folder),
                    (b"TFTP error: 'File not found' (1)", serve_other_build),
                    (b"Error: the kernel in the board's memory is not this uImage", serve_right_kernel)]

        started = time.time()
        brenlofix = subprocess.Popen([BRENLOFIX, "-p", url, "-m", MAC, "-s", SERIAL, "-al", "-ri", "--tftp", SERVER,
                                      "--typing", "echo"],
                                     cwd=images, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        os.set_blocking(brenlofix.stdout.fileno(), False)
        output, scanned, retries = b"", 0, 0
        while True:
            assert time.time() - started < 900, "no end:\n" + output[-3000:].decode("latin-1")
            try:
                chunk = os.read(brenlofix.stdout.fileno(), 65536)
            except BlockingIOError:
                time.sleep(0.05)
                continue
            if not chunk:
                break
            output += chunk
            at = output.find(QUESTION, scanned)
            if at >= 0:
                assert retries < len(failures), "one failure too many:\n" + output[-3000:].decode("latin-1")
                reason, repair = failures[retries]
                attempt = output[output.rfind(b"File open: uImage", 0, at):at]
                assert reason in attempt, "expected %r before the question:\n%s" % (reason, attempt[-3000:].decode("latin-1"))
                repair()
                retries += 1
                scanned = at + len(QUESTION)
                brenlofix.stdin.write(b"r")
                brenlofix.stdin.flush()
                continue
            for prompt, answer in ANSWERS:
                at = output.find(prompt, scanned)
                if at >= 0:
                    scanned = at + len(prompt)
                    brenlofix.stdin.write(answer)
                    brenlofix.stdin.flush()
        status = brenlofix.wait(timeout=60)
        text = output.decode("latin-1")
        assert status == 0, "exit status %d:\n%s" % (status, text[-3000:])
        assert retries == 3, "%d retries:\n%s" % (retries, text[-3000:])
        assert "Update kernel rpm(s) successful!" in text, text[-2000:]
        log = [f for f in os.listdir(images) if f.endswith(".log")]
        assert len(log) == 1, log
        logged = open(os.path.join(images, log[0]), "rb").read().decode("latin-1")
        assert "loaded by TFTP from %s in " % SERVER in logged, logged[-3000:]
        assert "Kernel uImage (%d bytes) loaded by TFTP" % len(kernel) in text
        assert "Uploading kernel failed!" not in logged, "a refused retry was logged"

        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=60)
        devsim = None
        dump = subprocess.run([DEVSIM, "dump", "--state", state], check=True, stdout=subprocess.PIPE).stdout.decode()
        lines = dump.splitlines()
        assert "ram.kernel: %d bytes" % len(kernel) in lines, dump
        assert "nand.kernel.equal: 10/10" in lines, dump
        assert not any(l.startswith("env.serverip=") and l != "env.serverip=192.168.102.134" for l in lines), dump
        print("whole run with the kernel over TFTP and three repaired failures in %.0f s" % (time.time() - started))
        return 0
    finally:
        for process in (brenlofix, devsim, tftpd):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
