"""What the page's tests share: a SQLite ledger filled by brenlofix-ledger's own commands with runs
whose records the test made (so that every count can be worked out from them), and page_feed, the
page with made-up boards, driven line by line."""
import datetime
import json
import os
import queue
import subprocess
import threading
import urllib.request

STEPS = ["DetectTarget", "BackupIdentity", "UploadFlasher", "FlashBootLoaders", "ProgramEnvironment",
         "UploadKernel", "MakeKernelClones", "WatchSystemBoot", "UpdateKernelPackages"]


def iso(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (moment.microsecond // 1000)


class Ledger:
    """brenlofix-ledger on a file of the test's own."""

    def __init__(self, program, folder):
        self.program = program
        self.folder = folder
        self.url = "sqlite:" + os.path.join(folder, "ledger.sqlite")
        self.records = {}  # run number -> the record stored
        self.paths = {}  # run number -> the record's file, as the run was reserved with it
        self.run("init")
        self.run("add-macs", "02:1B:4D:00:10:00", "02:1B:4D:00:10:FF")
        self.run("add-serials", "QV4N1501", "000001", "000500")

    def run(self, *argv, status=0):
        done = subprocess.run([self.program, "--ledger", self.url] + list(argv), capture_output=True, text=True,
                              timeout=60)
        if done.returncode != status:
            raise AssertionError("brenlofix-ledger %s: status %d: %s%s" % (argv, done.returncode, done.stdout,
                                                                            done.stderr))
        return done.stdout

    def add_run(self, station, port, started, result, failing=None, words=None, retried=None, seconds=1.0,
                settle=True):
        """A run reserved, stored and settled as the station does it. failing: the step number
        that failed (the run's last); retried: a step number that took two attempts."""
        record_path = os.path.join(self.folder, "record-%d.json" % (len(self.records) + 1))
        run, pair = self.run("reserve", "--station", station, "--port", port, "--record", record_path).split()
        mac, serial = pair.split(",")
        last = failing if failing is not None else (len(STEPS) - 1 if result == "succeeded" else 2)
        steps = []
        for number in range(last + 1):
            failed = number == failing
            steps.append({"step": number, "name": STEPS[number],
                          "result": "failed" if failed else ("succeeded" if result != "interrupted" or number < last
                                                             else "interrupted"),
                          "attempts": 2 if number == retried else 1, "seconds": seconds * (number + 1)})
        total = sum(step["seconds"] for step in steps)
        written = result == "succeeded"
        record = {"program": "BrenloFix", "version": "3.0.1", "port": port, "started": iso(started),
                  "finished": None if result == "running" else iso(started + datetime.timedelta(seconds=total)),
                  "result": result, "exitStatus": None if result == "running" else (0 if written else 1),
                  "failedStep": STEPS[last] if result in ("failed", "interrupted") else None,
                  "error": words, "log": iso(started) + ".log",
                  "identity": {"read": None, "programmed": {"ethaddr": mac, "serialno": serial}, "written": written},
                  "images": [], "steps": steps}
        with open(record_path, "w", encoding="utf-8") as f:
            json.dump(record, f)
        self.run("settle" if settle else "record", run, record_path)
        self.records[int(run)] = record
        self.paths[int(run)] = record_path
        return int(run), mac, serial


class Feed:
    """page_feed, its address and token, and the lines it prints."""

    def __init__(self, program, *options):
        self.process = subprocess.Popen([program] + list(options), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.address = self.expect("Page: ")[len("Page: "):]
        self.token = self.expect("Token: ")[len("Token: "):]

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def expect(self, start, timeout=20):
        while True:
            line = self.lines.get(timeout=timeout)
            if line is None:
                raise AssertionError("page_feed ended: " + self.process.stderr.read())
            if line.startswith(start):
                return line

    def send(self, command, *words):
        self.process.stdin.write(" ".join([command] + list(words)) + "\n")
        self.process.stdin.flush()
        self.expect("ok")

    def board(self, **board):
        self.send("board", json.dumps(board))

    def console(self, port, text, clear=False):
        self.send("clear" if clear else "console", port, json.dumps(text))

    def get(self, path, data=None, headers=None):
        """(status, headers, body as text) of a request to the page."""
        request = urllib.request.Request(self.address + path.lstrip("/"), data=data, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=30) as answer:
                return answer.status, answer.headers, answer.read().decode("utf-8")
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read().decode("utf-8")

    def json(self, path):
        status, _, body = self.get(path)
        if status != 200:
            raise AssertionError("%s: %d %s" % (path, status, body))
        return json.loads(body)

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


def board(port, state, step=None, name=None, **more):
    """A board object as the station gives it."""
    value = {"port": port, "state": state, "step": step, "steps": 8, "stepName": name, "attempt": 1,
             "retries": 0, "bytes": 0, "total": 0,
             "identity": {"read": None, "programmed": None, "source": None}, "started": None,
             "elapsedSeconds": 0, "leftSeconds": None, "words": "", "run": None, "record": None, "stepsDone": []}
    value.update(more)
    return value
