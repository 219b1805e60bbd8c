#!/usr/bin/python3
"""A run stopped by Ctrl-C at the password question, on the operator's own terminal (a pty):
BrenloFix -m -s -al --typing echo --report flashes a devsim board (device delays left out), the
login is typed, and SIGINT comes while the password is read without echo. Afterwards:
- the terminal has its echo and line editing back, and the colour is the default one;
- the record says "interrupted" in WatchSystemBoot, its step 7 "interrupted", with the line the
  console and the log end with;
- while the run went on, every record read from the file (polled as a station follows it) named
  the step under way "running" and never "failed" (no step of this run fails).

usage: interrupted_run_test.py PATH/TO/BrenloFix PATH/TO/devsim
"""
import json
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

BRENLOFIX, DEVSIM = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])


def start_devsim(work):
    port_file = os.path.join(work, "port")
    devsim = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file, "--state",
                               os.path.join(work, "board.state"), "--speed", "0"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while not (os.path.exists(port_file) and open(port_file).read().strip()):
        assert devsim.poll() is None and time.time() < deadline, "devsim did not start"
        time.sleep(0.05)
    return devsim, "rfc2217://127.0.0.1:" + open(port_file).read().strip()


class Terminal:
    """The program's terminal; what it shows, and the records read while it runs."""

    def __init__(self, main_fd, record_path):
        self.main_fd, self.record_path = main_fd, record_path
        self.shown, self.records = b"", []

    def poll(self, seconds):
        if select.select([self.main_fd], [], [], seconds)[0]:
            try:
                self.shown += os.read(self.main_fd, 65536)
            except OSError:  # the program and its terminal are gone
                pass
        try:
            with open(self.record_path) as f:
                record = json.load(f)
            if not self.records or self.records[-1] != record:
                self.records.append(record)
        except (OSError, ValueError):
            pass  # not written yet (it is renamed into place whole)

    def wait_for(self, text, seconds):
        deadline = time.time() + seconds
        while text not in self.shown:
            assert time.time() < deadline, "no %r:\n%s" % (text, self.shown[-3000:].decode("latin-1"))
            self.poll(0.02)


def main():
    work = tempfile.mkdtemp(prefix="interrupted-run-")
    devsim = child = None
    main_fd, child_fd = pty.openpty()
    try:
        subprocess.run([DEVSIM, "make-images", work], check=True, stdout=subprocess.DEVNULL)
        devsim, url = start_devsim(work)
        before = termios.tcgetattr(child_fd)
        child = subprocess.Popen([BRENLOFIX, "-p", url, "-m", "02:1B:4D:12:34:56", "-s", "QV4N150101ABC", "-al",
                                  "--typing", "echo", "--report", "record.json"],
                                 stdin=child_fd, stdout=child_fd, stderr=child_fd, cwd=work,
                                 start_new_session=True)
        terminal = Terminal(main_fd, os.path.join(work, "record.json"))
        terminal.wait_for(b"Enter you login:", 300)
        os.write(main_fd, b"root\n")
        terminal.wait_for(b"Enter you password:", 60)
        deadline = time.time() + 10
        while termios.tcgetattr(child_fd)[3] & termios.ECHO:
            assert time.time() < deadline, "the echo was never switched off for the password"
            terminal.poll(0.01)
        child.send_signal(signal.SIGINT)
        status = child.wait(timeout=30)
        terminal.poll(0.2)

        after = termios.tcgetattr(child_fd)
        assert status == 1, status
        assert after[3] & termios.ECHO and after[3] & termios.ICANON, "the terminal was left without echo"
        assert after[3] == before[3], (before[3], after[3])
        shown = terminal.shown.decode("latin-1")
        line = "Error: the run was interrupted (SIGINT) in step 7 (WatchSystemBoot)."
        tail = shown[shown.rfind("Enter you password:"):]
        assert line in tail, tail
        # What follows the last colour change is in the default colour.
        assert "\033[1;33m" not in tail[tail.rfind("\033[0m"):], repr(tail)

        with open(os.path.join(work, "record.json")) as f:
            record = json.load(f)
        assert (record["result"], record["failedStep"], record["error"]) == ("interrupted", "WatchSystemBoot", line), record
        results = {entry["step"]: entry["result"] for entry in record["steps"]}
        assert results == {0: "succeeded", 1: "succeeded", 2: "succeeded", 3: "succeeded", 4: "succeeded",
                           5: "succeeded", 6: "succeeded", 7: "interrupted"}, results
        [log] = [f for f in os.listdir(work) if f.endswith(".log")]
        with open(os.path.join(work, log), "rb") as f:
            assert f.read().endswith(line.encode() + b"\r\n")

        # The records a follower read on the way: a step under way is "running", none "failed".
        running = [r for r in terminal.records if r["result"] == "running"]
        under_way = [entry["step"] for r in running for entry in r["steps"] if entry["result"] == "running"]
        failed = [(entry["step"], r) for r in running for entry in r["steps"] if entry["result"] == "failed"]
        assert not failed, failed
        # saveenv's record is written while step 4 runs.
        assert 4 in under_way, [[(e["step"], e["result"]) for e in r["steps"]] for r in running]
        print("SIGINT at the password question: echo back on, the record interrupted in step 7; "
              "%d records followed, steps seen under way: %s" % (len(terminal.records), sorted(set(under_way))))
        return 0
    finally:
        for process in (child, devsim):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        os.close(child_fd)
        os.close(main_fd)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
