#!/usr/bin/python3
"""The station as the service runs it: systemd-analyze verify accepts brenlofix-station.service, and
the unit's own command line, with an environment file like the one the package ships, run as an
unprivileged user against devsim's jigs: a continuous port flashes the boards put on its jig one
after another, each with its own pair from the ledger; a port whose jig stays empty (a silent line)
never starts a run; a board that failed and repeats its boot ROM's " BOOTME" is not flashed again; SIGTERM (what "systemctl stop" sends) in the middle of a run ends the station with
every record and every run of the ledger settled.

    station_service_test.py BRENLOFIX DEVSIM STATION BRENLOFIX_LEDGER
"""
import glob
import json
import os
import pwd
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "testing"))
import station_fixture  # noqa: E402
from station_fixture import Devsim, dump_state, processes_naming, read_text  # noqa: E402

BRENLOFIX = DEVSIM = STATION = LEDGER = None
SERVICE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "service")
UNIT = os.path.join(SERVICE, "brenlofix-station.service")
CONF = os.path.join(SERVICE, "brenlofix-station.conf")


def unit_settings():
    """The [Service] settings of the unit, by name."""
    settings = {}
    for line in read_text(UNIT).splitlines():
        if "=" in line and not line.startswith("#"):
            name, value = line.split("=", 1)
            settings[name.strip()] = value.strip()
    return settings


def environment_file(text):
    """KEY=VALUE lines as systemd reads an EnvironmentFile (comments and blank lines skipped)."""
    values = {}
    for line in text.splitlines():
        line = line.strip()
        if line and not line.startswith("#"):
            name, value = line.split("=", 1)
            values[name] = value
    return values


class Jig(Devsim):
    """devsim with its jig: boards are put on (powered on) and taken off (the line goes silent) by
    commands on its Unix socket."""

    def __init__(self, work, name, *options):
        self.socket = os.path.join(work, name + ".jig")
        super().__init__(work, name, "--jig", self.socket, *options, ready=lambda: os.path.exists(self.socket))

    def command(self, line):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as client:
            client.settimeout(30)
            client.connect(self.socket)
            client.sendall(line.encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = client.recv(4096)
                if not chunk:
                    break
                answer += chunk
        return answer.decode().strip()

    def identity(self):
        """What the board taken off last holds: its serialno and ethaddr lines."""
        dump = dump_state(self.state)
        return tuple(l for l in dump.splitlines() if l.startswith(("env.serialno=", "env.ethaddr=")))


class StationService(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="station-service-")
        self.work = self.scratch.name
        self.boards = []

    def tearDown(self):
        for board in self.boards:
            board.stop()
        self.scratch.cleanup()

    @unittest.skipUnless(shutil.which("systemd-analyze"), "no systemd-analyze")
    def test_systemd_accepts_the_unit(self):
        # The unit as installed, its program where this build has it.
        unit = os.path.join(self.work, "brenlofix-station.service")
        with open(unit, "w") as f:
            f.write(read_text(UNIT).replace("/usr/bin/brenlofix-station", STATION))
        done = subprocess.run(["systemd-analyze", "verify", unit], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=120)
        self.assertEqual((done.returncode, done.stdout.decode()), (0, ""))
        # It does check: a unit whose program is not there is refused.
        with open(unit, "w") as f:
            f.write(read_text(UNIT).replace("/usr/bin/brenlofix-station", STATION + "-missing"))
        done = subprocess.run(["systemd-analyze", "verify", unit], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=120)
        self.assertNotEqual(done.returncode, 0)

    def as_user(self):
        """In a child before its program starts: the service's user, when the test may switch users."""
        if getattr(self, "user", None):
            os.setgid(self.user.pw_gid)
            os.setgroups([])
            os.setuid(self.user.pw_uid)

    def ledger(self, *argv):
        """brenlofix-ledger on the service's ledger, as the service's user (its files stay that user's)."""
        return station_fixture.ledger("sqlite:" + self.ledger_file, *argv, preexec_fn=self.as_user)

    def runs(self):
        """The ledger's runs: number, port, result, what became of their pool values, settled or not."""
        rows = station_fixture.ledger_rows("sqlite:" + self.ledger_file, preexec_fn=self.as_user)
        return sorted(((int(r[0]), r[2], r[4], r[9]) for r in rows), key=lambda r: r[0])

    def wait_for(self, what, condition, shown):
        deadline = time.time() + 300
        while not condition():
            self.assertLess(time.time(), deadline, "%s:\n%s" % (what, read_text(shown)[-3000:]))
            self.assertIsNone(self.station.poll(), read_text(shown)[-3000:])
            time.sleep(0.25)

    def test_the_units_command_line_flashes_every_board_put_on_and_stops_cleanly(self):
        # The service's folder and the user it runs as (nobody, when the test may switch users).
        state = os.path.join(self.work, "var-lib")
        images, records = os.path.join(state, "images"), os.path.join(state, "records")
        os.makedirs(images)
        os.makedirs(records)
        subprocess.run([DEVSIM, "make-images", images], check=True, stdout=subprocess.DEVNULL)
        self.ledger_file = os.path.join(records, "ledger.sqlite")
        user = self.user = None
        if os.geteuid() == 0:
            user = self.user = pwd.getpwnam("nobody")
            os.chmod(self.work, 0o755)
            for folder, _, files in os.walk(state):
                os.chown(folder, user.pw_uid, user.pw_gid)
                for name in files:
                    os.chown(os.path.join(folder, name), user.pw_uid, user.pw_gid)
        self.ledger("init")
        self.ledger("add-macs", "02:1B:4D:00:06:00", "02:1B:4D:00:06:0F")
        self.ledger("add-serials", "QV4N1506", "01", "16")

        # Three jigs: one where boards are put on one after another, one left empty (its line stays
        # silent), one whose boards fail step 2.
        jig, silent, failing = (Jig(self.work, "jig"), Jig(self.work, "silent"),
                                Jig(self.work, "failing", "--fault", "corrupt-table"))
        self.boards += [jig, silent, failing]
        ports = [jig.url, silent.url, failing.url]
        self.assertEqual((jig.command("on blank"), failing.command("on blank")), ("ok", "ok"))
        # The environment file as the package ships it, with this test's ports and folders.
        shipped = environment_file(read_text(CONF))
        options = shlex.split(shipped["STATION_OPTIONS"])
        options = options[:options.index("--board")]
        options[options.index("--images") + 1] = images
        options[options.index("--records") + 1] = records
        options += ["--listen", "127.0.0.1:0"] + [w for p in ports for w in ("--board", p)] + ["--", "-al", "-ri"]
        conf = dict(shipped, STATION_OPTIONS=" ".join(options), BRENLOFIX_LEDGER="sqlite:" + self.ledger_file,
                    BRENLOFIX_PASSWORD="brenlo", BRENLOFIX_PROXY="http://192.168.102.134:3128")
        self.assertEqual(sorted(shipped), ["BRENLOFIX_LEDGER", "BRENLOFIX_PASSWORD", "STATION_OPTIONS"])
        conf_file = os.path.join(self.work, "brenlofix-station.conf")
        with open(conf_file, "w") as f:
            f.write("".join("%s=%s\n" % item for item in conf.items()))

        # The unit's command line as systemd runs it: $STATION_OPTIONS split at white space, the
        # environment the file's alone (and a PATH), the working directory the service's.
        unit = unit_settings()
        self.assertEqual(unit["EnvironmentFile"], "/etc/brenlofix-station.conf")
        argv = []
        for word in unit["ExecStart"].split():
            if word.startswith("$"):
                argv += environment_file(read_text(conf_file))[word[1:]].split()
            else:
                argv.append(STATION if word == "/usr/bin/brenlofix-station" else word)
        self.assertEqual(argv[:2], [STATION, "--continuous"])
        env = dict(environment_file(read_text(conf_file)), PATH="/usr/bin:/bin")

        shown = os.path.join(self.work, "journal.txt")
        with open(shown, "wb") as journal:
            self.station = subprocess.Popen(argv, env=env, cwd=state,
                                            stdout=journal, stderr=subprocess.STDOUT, preexec_fn=self.as_user)
        try:
            # The first board and the failing one are flashed as soon as they show themselves.
            self.wait_for("the first board", lambda: [r[1:3] for r in self.runs() if r[2] != "running"] in (
                [(ports[0], "succeeded"), (ports[2], "failed")], [(ports[2], "failed"), (ports[0], "succeeded")]),
                shown)
            # Boards two and three are put on the jig one after another, each once the last one's
            # run ended: each is flashed with the next pair. The one taken off holds its pair.
            held = []
            for n in (2, 3, 4):
                # As the line's operator does: the board is swapped once the port shows its result.
                self.wait_for("board %d's result shown" % (n - 1), lambda: len(re.findall(
                    r"(?m)^%s +succeeded; waiting for the next board " % re.escape(ports[0]), read_text(shown)))
                    >= n - 1, shown)
                self.assertEqual(jig.command("off"), "ok")
                held.append(jig.identity())
                time.sleep(1)
                self.assertEqual(jig.command("on blank"), "ok")
                if n == 4:
                    break
                self.wait_for("board %d" % n, lambda: [r[2] for r in self.runs() if r[1] == ports[0]]
                              == ["succeeded"] * n, shown)
            # A fourth board, and the service stopped while it is flashed.
            self.wait_for("board 4 in step 3", lambda: re.search(
                r"(?m)^%s +step [3-8] " % re.escape(ports[0]), read_text(shown)[read_text(shown).rfind("succeeded"):]),
                shown)
            self.station.send_signal(signal.SIGTERM)
            self.assertEqual(self.station.wait(timeout=120), 0, read_text(shown)[-3000:])
        finally:
            if self.station.poll() is None:
                self.station.kill()
                self.station.wait()
        output = read_text(shown)

        # Every run since the start in the table; none on the silent line, one on the failed board.
        self.assertIn("Stopping every run (SIGTERM); each records where it was.", output)
        self.assertRegex(output, r"(?m)^%s +waiting for a board " % re.escape(ports[1]))
        table = output[output.rfind("\nBoard "):]
        rows = [line.split()[:2] for line in table.splitlines()[2:] if line.startswith("rfc2217://") and "  " in line]
        self.assertEqual(sorted(rows), sorted([[ports[0], "succeeded"]] * 3 + [[ports[0], "interrupted"],
                                                                                [ports[2], "failed"]]))
        # Every run of the ledger is settled; each board on the jig got a pair of its own.
        runs = self.runs()
        self.assertEqual(sorted((r[1], r[2], r[3]) for r in runs),
                         sorted([(ports[0], "succeeded", "bound")] * 3 + [(ports[0], "interrupted", "returned"),
                                                                          (ports[2], "failed", "returned")]))
        self.assertEqual([len(pair) for pair in held], [2, 2, 2])
        self.assertEqual(len(set(held)), 3, "each board its own pair: %s" % held)
        self.assertEqual(json.loads(jig.command("state")), {"board": "on", "boards": 4})
        self.assertEqual(json.loads(silent.command("state")), {"board": "off", "boards": 0})
        self.assertEqual(json.loads(failing.command("state")), {"board": "on", "boards": 1})
        for path in glob.glob(os.path.join(records, "record-*.json")):
            self.assertNotEqual(json.loads(read_text(path))["result"], "running", path)
        self.assertEqual(len(glob.glob(os.path.join(records, "record-*.json"))), 5)
        self.assertEqual(processes_naming(records), [])


if __name__ == "__main__":
    station_fixture.main(globals())
