"""What the station's process tests share: the programs their command line names, devsim boards on
ports of their own, the station's records and brenlofix-ledger as an operator runs it.

    SCRIPT BRENLOFIX DEVSIM STATION BRENLOFIX_LEDGER [unittest's own arguments]
"""
import csv
import glob
import io
import os
import re
import signal
import subprocess
import sys
import time
import unittest

BRENLOFIX = DEVSIM = STATION = LEDGER = None


def main(names):
    """Takes the programs from the command line into this module and into the test script's own
    names (its globals()), then runs the script's tests."""
    global BRENLOFIX, DEVSIM, STATION, LEDGER
    BRENLOFIX, DEVSIM, STATION, LEDGER = (os.path.abspath(a) for a in sys.argv[1:5])
    names.update(BRENLOFIX=BRENLOFIX, DEVSIM=DEVSIM, STATION=STATION, LEDGER=LEDGER)
    unittest.main(module="__main__", argv=[sys.argv[0]] + sys.argv[5:], verbosity=2)


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def run_records(records, port):
    """A board's records in the station's folder, oldest first: record-PORT-TIME.json."""
    safe = re.sub(r"[^A-Za-z0-9]+", "_", port).strip("_")
    return sorted(glob.glob(os.path.join(records, "record-%s-*.json" % safe)))


def processes_naming(text):
    """The processes whose command line holds text."""
    return subprocess.run(["pgrep", "-f", text], stdout=subprocess.PIPE).stdout.split()


def ledger(url, *argv, status=0, env=None, preexec_fn=None):
    """brenlofix-ledger on the ledger at url (None: the one BRENLOFIX_LEDGER in env names), as an
    operator runs it: what it printed, after its exit status was checked."""
    command = [LEDGER] + (["--ledger", url] if url else []) + list(argv)
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60, env=env,
                          preexec_fn=preexec_fn)
    said = done.stdout.decode()
    assert done.returncode == status, "%s: status %d: %s" % (argv, done.returncode, said)
    return said


def ledger_rows(url, **how):
    """The rows of brenlofix-ledger runs --csv for every day, without the header."""
    return list(csv.reader(io.StringIO(ledger(url, "runs", "--since", "2000-01-01", "--csv", **how))))[1:]


def dump_state(state):
    """devsim dump of a board's state file."""
    return subprocess.run([DEVSIM, "dump", "--state", state], check=True, stdout=subprocess.PIPE).stdout.decode()


class Devsim:
    """One devsim board on a free port (--speed 0 unless the options say otherwise), its state in
    WORK/NAME.state; ready, when given, is what else must hold before it counts as started."""

    def __init__(self, work, name, *options, ready=None):
        self.state = os.path.join(work, name + ".state")
        port_file = os.path.join(work, name + ".port")
        if os.path.exists(port_file):  # a board started again: the state stays, the port is new
            os.remove(port_file)
        self.process = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file, "--state", self.state,
                                         "--speed", "0"] + list(options),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60  # a loaded machine starts it late
        while not (os.path.exists(port_file) and read_text(port_file).strip() and (ready is None or ready())):
            assert self.process.poll() is None and time.time() < deadline, "devsim did not start"
            time.sleep(0.05)
        self.url = "rfc2217://127.0.0.1:" + read_text(port_file).strip()

    def dump(self):
        """Stops the board (devsim saves its state file) and describes what it holds."""
        self.stop()
        return dump_state(self.state)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=60)
