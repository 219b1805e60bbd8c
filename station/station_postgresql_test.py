#!/usr/bin/python3
"""The station on a PostgreSQL ledger of the test's own (Debian's server, started in a scratch folder
with a password that holds "?", "/", "%" and "@"): the password stands in no process's command line,
no line of the station and no file of its runs; and with the server stopped by SIGSTOP while two
boards run, Ctrl-C still ends the station within 2 s with its table, every record "interrupted".

    station_postgresql_test.py BRENLOFIX DEVSIM STATION BRENLOFIX_LEDGER
"""
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "testing"))
import station_fixture  # noqa: E402
from station_fixture import Devsim  # noqa: E402

BRENLOFIX = DEVSIM = STATION = LEDGER = None
PASSWORD = "pa?ss/w%rd@x"
BOARD_PASSWORD, PROXY = "brenlo", "http://192.168.102.134:3128"


def server_bin():
    """Debian keeps the server's programs under /usr/lib/postgresql/VERSION/bin; the newest one."""
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    return os.path.dirname(found[-1]) if found else None


class PostgresServer:
    """A server on a Unix socket in a scratch folder, its user "ledger" with the password; as the user
    postgres when the test runs as root."""

    def __init__(self):
        self.bin = server_bin()
        self.folder = tempfile.mkdtemp(prefix="station-pg-")
        as_user = ["runuser", "-u", "postgres", "--"] if os.geteuid() == 0 else []
        if os.geteuid() == 0:
            shutil.chown(self.folder, "postgres", "postgres")
        password_file = os.path.join(self.folder, "password")
        with open(password_file, "w") as f:
            f.write(PASSWORD + "\n")
        if os.geteuid() == 0:
            shutil.chown(password_file, "postgres", "postgres")

        def run(*argv, env=None):
            subprocess.run(as_user + list(argv), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                           env=env, timeout=120)

        run(os.path.join(self.bin, "initdb"), "-D", os.path.join(self.folder, "data"), "-U", "ledger",
            "--auth=scram-sha-256", "--pwfile", password_file, "--no-locale", "-E", "UTF8", "--no-sync")
        self.pg_ctl = as_user + [os.path.join(self.bin, "pg_ctl"), "-D", os.path.join(self.folder, "data"), "-w",
                                 "-s"]
        subprocess.run(self.pg_ctl + ["-l", os.path.join(self.folder, "server.log"), "-o",
                                      "-c listen_addresses= -c unix_socket_directories=%s -p 5432 -c fsync=off"
                                      % self.folder, "start"], check=True, timeout=120)
        run(os.path.join(self.bin, "createdb"), "-h", self.folder, "-U", "ledger", "ledger",
            env=dict(os.environ, PGPASSWORD=PASSWORD))
        self.url = "postgresql://ledger:%s@/ledger?host=%s" % (urllib.parse.quote(PASSWORD, safe=""), self.folder)

    def processes(self):
        """The postmaster and its children."""
        with open(os.path.join(self.folder, "data", "postmaster.pid")) as f:
            postmaster = int(f.readline())
        found = [postmaster]
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/stat" % entry) as f:
                        if int(f.read().rsplit(")", 1)[1].split()[1]) == postmaster:
                            found.append(int(entry))
                except (OSError, IndexError, ValueError):
                    pass
        return found

    def signal(self, number):
        for pid in self.processes():
            try:
                os.kill(pid, number)
            except ProcessLookupError:  # a backend that ended meanwhile
                pass

    def stop(self):
        self.signal(signal.SIGCONT)
        subprocess.run(self.pg_ctl + ["-m", "immediate", "stop"], timeout=120)
        shutil.rmtree(self.folder, ignore_errors=True)


def command_lines():
    """Every process's command line, as any user's ps reads it."""
    lines = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    lines[int(entry)] = f.read()
            except OSError:
                pass
    return lines


@unittest.skipUnless(server_bin(), "no PostgreSQL server (Debian's postgresql)")
class StationOnPostgresql(unittest.TestCase):
    def setUp(self):
        self.server = PostgresServer()
        self.scratch = tempfile.TemporaryDirectory(prefix="station-pg-run-")
        self.work = self.scratch.name
        self.images = os.path.join(self.work, "images")
        self.records = os.path.join(self.work, "records")
        os.mkdir(self.images)
        os.mkdir(self.records)
        subprocess.run([DEVSIM, "make-images", self.images], check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, BRENLOFIX_LEDGER=self.server.url)
        for argv in (["init"], ["add-macs", "02:1B:4D:00:05:00", "02:1B:4D:00:05:0F"],
                     ["add-serials", "QV4N1505", "01", "16"]):
            station_fixture.ledger(None, *argv, env=env)
        self.boards = [Devsim(self.work, name) for name in ("one", "two")]
        self.env = dict(os.environ, BRENLOFIX_PASSWORD=BOARD_PASSWORD, BRENLOFIX_PROXY=PROXY)
        self.env.pop("BRENLOFIX_LEDGER", None)

    def tearDown(self):
        for board in self.boards:
            board.process.kill()
            board.process.wait()
        self.server.stop()
        self.scratch.cleanup()

    def station(self, *options):
        argv = [STATION, "--listen", "127.0.0.1:0", "--brenlofix", BRENLOFIX, "--images", self.images, "--records", self.records,
                "--station", "line-pg", "--login", "root"] + list(options)
        for board in self.boards:
            argv += ["--board", board.url]
        return subprocess.Popen(argv + ["--", "-al", "-ri"], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)

    def read_until(self, station, pattern):
        shown, deadline = b"", time.time() + 300
        while not re.search(pattern, shown):
            self.assertLess(time.time(), deadline, shown.decode("latin-1")[-3000:])
            chunk = station.stdout.read1(4096)
            self.assertTrue(chunk, shown.decode("latin-1")[-3000:])
            shown += chunk
        return shown

    def test_the_password_is_never_shown(self):
        secrets = [PASSWORD.encode(), urllib.parse.quote(PASSWORD, safe="").encode(), b"w%rd", b"w%25rd"]
        station = self.station("--ledger", self.server.url)
        try:
            shown = self.read_until(station, rb"step 2 ")
            # While the runs go: no process's command line holds it, the station's own included.
            for pid, line in command_lines().items():
                for secret in secrets:
                    self.assertNotIn(secret, line, "process %d: %r" % (pid, line))
            self.assertIn(station.pid, command_lines())
            shown += station.stdout.read()
            self.assertEqual(station.wait(timeout=300), 0, shown.decode()[-3000:])
        finally:
            if station.poll() is None:
                station.kill()
                station.wait()
            station.stdout.close()
        output = shown.decode()
        self.assertIn("ledger postgresql://ledger:***@/ledger?host=", output)
        for board in self.boards:
            self.assertRegex(output, r"%s +succeeded +0 .* pool " % re.escape(board.url))
        for name in os.listdir(self.records) + os.listdir(self.images):
            path = os.path.join(self.records if name in os.listdir(self.records) else self.images, name)
            with open(path, "rb") as f:
                text = f.read()
            for secret in secrets:
                self.assertNotIn(secret, text, name)
        for secret in secrets:
            self.assertNotIn(secret.decode(), output)
        # A ledger that refuses the password: said in words, the password in none of them.
        wrong = self.server.url.replace("%40x@", "%40y@")
        done = subprocess.run([STATION, "--listen", "127.0.0.1:0", "--brenlofix", BRENLOFIX, "--images", self.images, "--records", self.records,
                               "--ledger", wrong, "--board", self.boards[0].url], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=60)
        output = done.stdout.decode()
        self.assertEqual(done.returncode, 1, output)
        self.assertIn("password authentication failed", output)
        self.assertIn("Error: the station cannot use the ledger postgresql://ledger:***@/ledger?host=", output)
        for secret in secrets + [b"pa%3Fss%2Fw%25rd%40y"]:
            self.assertNotIn(secret.decode(), output)

    def test_ctrl_c_with_the_server_stopped_ends_the_station_within_2_seconds(self):
        self.env["BRENLOFIX_LEDGER"] = self.server.url
        station = self.station()
        try:
            shown = self.read_until(station, rb"(?s)step 3 .*step 3 ")
            self.server.signal(signal.SIGSTOP)
            time.sleep(1.5)  # a record's store now waits for the server
            stopped = time.time()
            station.send_signal(signal.SIGINT)
            shown += station.stdout.read()
            status = station.wait(timeout=60)
            took = time.time() - stopped
        finally:
            self.server.signal(signal.SIGCONT)
            if station.poll() is None:
                station.kill()
                station.wait()
            station.stdout.close()
        output = shown.decode()
        self.assertEqual(status, 1, output)
        self.assertLess(took, 2.0, output)
        print("Ctrl-C to the station's end, the server stopped: %.2f s" % took, file=sys.stderr)
        self.assertIn("Stopping every run (SIGINT); each records where it was.", output)
        self.assertIn("\nBoard ", output)
        for board in self.boards:
            self.assertRegex(output, r"%s +interrupted +1 " % re.escape(board.url))
            self.assertRegex(output, r"%s: station: the ledger did not settle run \d+ \(no answer within 1 s\); it "
                                     r"stays open, its pair to check" % re.escape(board.url))
        records = glob.glob(os.path.join(self.records, "record-*.json"))
        self.assertEqual(len(records), 2)
        for path in records:
            with open(path) as f:
                self.assertEqual(json.load(f)["result"], "interrupted")


if __name__ == "__main__":
    station_fixture.main(globals())
