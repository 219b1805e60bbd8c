#!/usr/bin/python3
"""brenlofix-ledger run as the station runs it, on an SQLite ledger:
  - pools: a range that overlaps one already there, or holds multicast addresses, adds nothing;
  - runs: reserve, the record stored as it is written, settle: a written pair is bound for good, a
    pair the run never wrote goes back and is handed out again, a board that keeps its own identity
    gives the pair back (and a free pool value it holds is bound); a station killed in the middle
    leaves runs whose pairs its next start binds when the record says written and otherwise puts
    "to check", never to be reused until someone resolves them (another station's runs untouched);
    an empty pool refuses the run in words and keeps nothing reserved;
  - reports: status, find (with the images), runs --since as a table and as CSV, audit (status 1
    for a serial number typed by hand onto a second board);
  - serve: a station's commands one a line, each answered by its output and "=STATUS";
  - a PostgreSQL URL's password never shows in an error.

    ledger_cli_test.py BRENLOFIX_LEDGER
"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

LEDGER = None


def record(result, written=None, read=None, programmed=None, steps=()):
    """A run's record as BrenloFix writes it."""
    identity = {"read": read, "programmed": programmed}
    if written is not None:
        identity["written"] = written
    return {"program": "BrenloFix", "version": "3.0.1", "port": "rfc2217://127.0.0.1:7001",
            "started": "2014-06-23T09:05:07.045Z", "finished": None, "result": result,
            "exitStatus": 0 if result == "succeeded" else 1, "failedStep": None, "error": None,
            "log": "[2014-6-23]-9-5-7-45.log", "identity": identity,
            "images": [{"name": "uImage", "bytes": 1843200, "crc32": "8F3A21C4"}],
            "steps": [{"step": step, "name": name, "result": "succeeded", "attempts": 1, "seconds": 1.0}
                      for step, name in steps]}


def pair(mac, serial):
    return {"ethaddr": mac, "serialno": serial}


class LedgerCommands(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="ledger-cli-")
        self.url = "sqlite:" + os.path.join(self.tmp.name, "ledger.sqlite")

    def tearDown(self):
        self.tmp.cleanup()

    def ledger(self, *argv, status=0):
        done = subprocess.run([LEDGER, "--ledger", self.url] + list(argv), capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, status, "%s: %s%s" % (argv, done.stdout, done.stderr))
        return done.stdout + done.stderr

    def write(self, name, content):
        path = os.path.join(self.tmp.name, name)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(content, f)
        return path

    def reserve(self, *options):
        run, identity = self.ledger("reserve", "--port", "COM3", *options).split()
        return run, tuple(identity.split(","))

    def status_line(self, kind):
        return next(line for line in self.ledger("status").splitlines() if line.startswith(kind + ":"))

    def runs_csv(self):
        rows = list(csv.reader(io.StringIO(self.ledger("runs", "--since", "2000-01-01", "--csv"))))
        self.assertEqual(rows[0], ["Run", "Station", "Port", "Started", "Result", "Exit", "Failed step",
                                   "Serial number", "MAC address", "Pool", "Log"])
        return rows[1:]

    def test_pools_runs_and_reports(self):
        self.ledger("status", status=1)  # no ledger yet
        self.ledger("init")
        self.ledger("add-macs", "02:1b:4d:00:10:00", "02:1B:4D:00:10:05")
        self.ledger("add-serials", "QV4N1501", "000001", "000004")
        self.assertIn("02:1B:4D:00:10:05 is in a pool already",
                      self.ledger("add-macs", "02:1B:4D:00:10:05", "02:1B:4D:00:10:09", status=1))
        self.assertIn("multicast", self.ledger("add-macs", "03:00:00:00:00:00", "03:00:00:00:00:01", status=1))
        self.ledger("add-serials", "QV4N", "1501000004", "1501000005", status=1)  # the same text, another prefix
        self.assertEqual(self.status_line("MAC addresses"), "MAC addresses: 6 free, 0 reserved, 0 written, 0 to check")

        # Run 1 writes its pair; its record is stored as it comes.
        run, first = self.reserve()
        self.assertEqual((run, first), ("1", ("02:1B:4D:00:10:00", "QV4N1501000001")))
        self.ledger("record", run, self.write("r1.json", record("running", False)))
        self.assertEqual(self.runs_csv()[0][4], "running")
        self.assertIn("bound", self.ledger("settle", run, self.write("r1.json", record("succeeded", True, None,
                                                                                      pair(*first)))))
        # Run 2 fails before the environment step: its pair goes back, and run 3 gets it.
        run, second = self.reserve()
        self.ledger("settle", run, self.write("r2.json", record("failed", False)))
        self.assertEqual(self.reserve(), ("3", second))
        # Run 3's board keeps its own identity: the pair goes back once more, and the board's MAC
        # address, free in the pool until now, is that board's.
        own = pair("02:1B:4D:00:10:05", "OLD0007")
        self.ledger("settle", "3", self.write("r3.json", record("succeeded", True, own, own)))

        # Station line-2 is killed with three runs under way: run 4's record says "running", not
        # written; run 5's says written; run 6 has ended without writing, but was never settled.
        reserved = {}
        for name in ("r4", "r5", "r6"):
            run, identity = self.reserve("--station", "line-2", "--record", os.path.join(self.tmp.name, name + ".json"))
            reserved[run] = identity
        self.assertEqual(sorted(reserved), ["4", "5", "6"])
        self.write("r4.json", record("running", False))
        self.write("r5.json", record("running", True, None, pair(*reserved["5"])))
        self.write("r6.json", record("failed", False))
        self.ledger("recover", "--station", "line-1")  # another station's runs stay as they are
        self.assertEqual(self.status_line("serial numbers"), "serial numbers: 0 free, 3 reserved, 1 written, 0 to check")
        self.ledger("recover", "--station", "line-2")
        self.assertEqual(self.status_line("serial numbers"), "serial numbers: 0 free, 0 reserved, 2 written, 2 to check")
        # No serial number is free: the run is refused, and the MAC address it took first stays free.
        self.assertIn("Error: the serial number pool is empty.", self.ledger("reserve", status=1))
        self.assertEqual(self.status_line("MAC addresses"), "MAC addresses: 1 free, 0 reserved, 3 written, 2 to check")
        # Someone looked at run 6's board: no serial number on it.
        self.ledger("resolve", reserved["6"][1], "free")
        self.assertEqual(self.reserve()[1][1], reserved["6"][1])

        found = self.ledger("find", "QV4N1501000001")
        self.assertIn("QV4N1501000001: serial number of pool 2, written (run 1)", found)
        self.assertIn("Run 1 images: uImage 1843200 8F3A21C4", found)
        self.ledger("find", "QV4N9999999999", status=1)
        self.assertEqual([row[9] for row in self.runs_csv()],
                         ["bound", "returned", "returned", "to check", "bound", "MAC to check, serial returned",
                          "reserved"])
        self.assertIn("7 runs since 2014-06-23: ", self.ledger("runs", "--since", "2014-06-23"))
        self.ledger("runs", "--since", "yesterday", status=1)

        # A board given by hand the serial number that run 1 wrote: the audit says so, with status 1.
        self.assertIn("no MAC address or serial number was written to two boards", self.ledger("audit"))
        hand = self.ledger("open-run", "--port", "COM9").strip()
        self.ledger("settle", hand, self.write("r9.json", record("succeeded", True, None,
                                                                 pair("0A:00:00:00:00:09", "QV4N1501000001"))))
        self.assertIn("QV4N1501000001 was written to 2 boards, by runs 1, %s." % hand, self.ledger("audit", status=1))

    def test_a_station_served_on_one_connection(self):
        self.ledger("init")
        self.ledger("add-macs", "02:1B:4D:00:10:00", "02:1B:4D:00:10:00")
        self.ledger("add-serials", "S", "1", "2")
        serve = subprocess.Popen([LEDGER, "--ledger", self.url, "serve"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)

        def command(*words, line=None):
            serve.stdin.write((line or json.dumps(words)) + "\n")
            serve.stdin.flush()
            said = []
            while not said or not said[-1].startswith("="):
                said.append(serve.stdout.readline().rstrip("\n"))
            return said[:-1], said[-1]

        path = os.path.join(self.tmp.name, "record with blanks.json")
        self.assertEqual(command("reserve", "--port", "COM3", "--record", path), (["1 02:1B:4D:00:10:00,S1"], "=0"))
        self.write("record with blanks.json", record("succeeded", True, None, pair("02:1B:4D:00:10:00", "S1")))
        said, status = command("settle", "1", path)
        self.assertEqual(status, "=0")
        self.assertIn("bound", said[0])
        self.assertEqual(command("reserve"), (["Error: the MAC address pool is empty."], "=1"))
        self.assertEqual(command("reserve", "--ledger", "sqlite:other")[1], "=2")
        self.assertEqual(command(line="reserve --port COM3")[1], "=2")
        serve.stdin.close()
        self.assertEqual(serve.wait(timeout=10), 0)
        self.assertIn("MAC addresses: 0 free, 0 reserved, 1 written", self.ledger("status"))

    def test_a_password_in_the_url_never_shows(self):
        self.url = "postgresql://station:s3cret@/ledger?host=%s&password=s3cret" % self.tmp.name
        said = self.ledger("status", status=1)
        self.assertIn("postgresql://station:***@/ledger?host=%s&password=***" % self.tmp.name, said)
        self.assertNotIn("s3cret", said)


if __name__ == "__main__":
    LEDGER = sys.argv.pop(1)
    unittest.main(verbosity=2)
