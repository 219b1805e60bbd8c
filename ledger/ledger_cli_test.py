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
  - a PostgreSQL URL's password never shows in an error, whatever characters it holds;
  - pools refuse the placeholder, all-zero, multicast addresses and ranges that wrap their block;
  - an older ledger is brought up to date by init; one that cannot be read says so in SQLite's words;
  - a request given again under its key is answered, not done twice; a settle of a pair given to
    another run meanwhile fails, and a board holding another run's value goes to check; the audit
    lists both;
  - CSV cells that a spreadsheet would take for a formula are written as text.

    ledger_cli_test.py BRENLOFIX_LEDGER
"""
import csv
import io
import json
import os
import sqlite3
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
        # Run 1's board flashed again keeps its pair: no problem. Another board that kept run 1's
        # MAC address beside a serial number of its own is a second board with it.
        again = self.ledger("open-run").strip()
        kept = pair(first[0], first[1])
        self.ledger("settle", again, self.write("r10.json", record("succeeded", True, kept, kept)))
        other = self.ledger("open-run").strip()
        kept = pair(first[0], "OTHER1")
        self.ledger("settle", other, self.write("r11.json", record("succeeded", True, kept, kept)))
        audit = self.ledger("audit", status=1)
        self.assertIn("%s is on two boards: run 1 wrote it (with %s), and run %s's board kept it (with OTHER1)."
                      % (first[0], first[1], other), audit)
        # (Run 8 wrote QV4N1501000001 onto a second board: seen from run 1's board flashed again too.)
        self.assertIn("Audit of 10 runs: 3 problems.", audit)

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
        for password in ("qu1zz", "qu?zz", "qu/zz", "qu@zz", "qu%zzy", "qu%25zz"):
            self.url = "postgresql://station:%s@/ledger?host=%s&password=%s" % (password, self.tmp.name, password)
            said = self.ledger("status", status=1)
            self.assertIn("postgresql://station:***@/ledger?host=%s&password=***" % self.tmp.name, said)
            said = said.replace(self.tmp.name, "")
            self.assertNotIn("qu", said, password)
            self.assertNotIn("zz", said, password)

    def test_pools_refuse_what_no_board_may_carry(self):
        self.ledger("init")
        for first, last, words in (
                ("02:1B:4D:00:00:00", "02:1B:4D:00:0F:FF", "placeholder"),
                ("02:1B:4C:FF:FF:F0", "02:1B:4D:00:00:05", "crosses the end of the block 02:1B:4C"),
                ("00:00:00:00:00:00", "00:00:00:00:00:0F", "00:00:00:00:00:00, which is no board's address"),
                ("FF:FF:FF:FF:FF:FF", "FF:FF:FF:FF:FF:FF", "multicast"),
                ("01:00:5E:00:00:01", "01:00:5E:00:00:0F", "multicast")):
            self.assertIn(words, self.ledger("add-macs", first, last, status=1))
        self.ledger("add-macs", "02:1B:4D:FF:FF:F0", "02:1B:4D:FF:FF:FF")
        self.assertEqual(self.status_line("MAC addresses"), "MAC addresses: 16 free, 0 reserved, 0 written, 0 to check")

    def test_what_cannot_be_read_says_why(self):
        self.ledger("init")
        path = self.url[len("sqlite:"):]
        # A ledger of the earlier version: brought up to date by init, its runs kept.
        self.ledger("add-macs", "02:1B:4D:00:10:00", "02:1B:4D:00:10:01")
        self.ledger("add-serials", "S", "1", "2")
        self.reserve()
        with sqlite3.connect(path) as db:
            db.executescript("DROP TABLE stations; DROP TABLE requests; DROP TABLE conflicts;"
                             " ALTER TABLE runs DROP COLUMN instance; UPDATE ledger SET value = '1';")
        self.assertIn("was made by an earlier brenlofix-ledger: run 'brenlofix-ledger init'",
                      self.ledger("status", status=1))
        self.assertIn("is brought up to date and ready", self.ledger("init"))
        self.assertEqual(self.reserve(), ("2", ("02:1B:4D:00:10:01", "S2")))
        # A file that SQLite cannot read: its own words, not "not set up".
        with open(path, "r+b") as f:
            f.seek(4096)
            f.write(b"\xff" * 8192)
        said = self.ledger("status", status=1)
        self.assertIn("Error: cannot read the ledger " + self.url + ": ", said)
        self.assertNotIn("not set up", said)
        with open(path, "wb") as f:
            f.write(b"no database at all" * 100)
        self.assertIn("file is not a database", self.ledger("status", status=1))

    def test_requests_given_again_and_boards_holding_another_runs_values(self):
        self.ledger("init")
        self.ledger("add-macs", "02:1B:4D:00:10:00", "02:1B:4D:00:10:0F")
        self.ledger("add-serials", "QV4N1501", "000001", "000016")
        # A reserve asked again under its key (its answer was lost) is the same run.
        first = self.ledger("reserve", "--station", "line-1", "--request", "line-1/COM3/1")
        self.assertEqual(self.ledger("reserve", "--station", "line-1", "--request", "line-1/COM3/1"), first)
        self.assertEqual(first, "1 02:1B:4D:00:10:00,QV4N1501000001\n")
        # Station line-1 is taken for dead; its pair is looked at, put back, and given to run 2.
        self.ledger("recover", "--station", "line-1")
        self.ledger("resolve", "02:1B:4D:00:10:00", "free")
        self.ledger("resolve", "QV4N1501000001", "free")
        self.assertEqual(self.reserve("--station", "line-2"), ("2", ("02:1B:4D:00:10:00", "QV4N1501000001")))
        # Run 1 was alive after all, and wrote the pair: status 1, both runs named.
        said = self.ledger("settle", "1", self.write("r1.json", record("succeeded", True, None, pair(
            "02:1B:4D:00:10:00", "QV4N1501000001"))), status=1)
        self.assertIn("Error: run 1 wrote 02:1B:4D:00:10:00 to its board, but the ledger had given it to run 2", said)
        # Run 3's board kept an identity of its own that is run 2's reserved serial number.
        self.assertEqual(self.reserve(), ("3", ("02:1B:4D:00:10:01", "QV4N1501000002")))
        own = pair("0A:00:00:00:00:01", "QV4N1501000001")
        self.assertIn("QV4N1501000001 (on the board, reserved for run 2) to check",
                      self.ledger("settle", "3", self.write("r3.json", record("succeeded", True, own, own))))
        audit = self.ledger("audit", status=1)
        self.assertIn("run 1 wrote QV4N1501000001 to its board, but the ledger had given it to run 2.", audit)
        self.assertIn("run 3's board holds QV4N1501000001, which the ledger had reserved for run 2.", audit)
        self.assertIn("Audit of 3 runs: 3 problems.", audit)
        self.assertIn("QV4N1501000001  run 3", self.ledger("status"))

    def test_csv_cells_that_look_like_formulas_are_text(self):
        self.ledger("init")
        self.ledger("add-macs", "02:1B:4D:00:10:00", "02:1B:4D:00:10:0F")
        self.ledger("add-serials", "S", "1", "9")
        self.reserve("--station", "=HYPERLINK(\"http://x\",\"y\")", "--port", "@SUM(A1)")
        self.reserve("--station", "+1", "--port", "-2")
        self.reserve("--station", "\tline", "--port", "line-3")
        rows = self.runs_csv()
        self.assertEqual([row[1:3] for row in rows],
                         [["'=HYPERLINK(\"http://x\",\"y\")", "'@SUM(A1)"], ["'+1", "'-2"], ["'\tline", "line-3"]])
        self.assertEqual(rows[0][5], "-")  # an empty cell stays "-"


if __name__ == "__main__":
    LEDGER = sys.argv.pop(1)
    unittest.main(verbosity=2)
