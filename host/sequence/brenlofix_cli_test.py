#!/usr/bin/python3
"""Black-box checks of BrenloFix's command line, exit statuses and log file.

    brenlofix_cli_test.py BINARY [--wine PREFIX]

Runs the built program as an operator would, in a scratch folder, and compares standard output
byte for byte. With --wine, BINARY is BrenloFix.exe and runs under wine in the given prefix; its
standard output has Windows line ends, and so must the expected texts.
"""
import fcntl
import glob
import json
import os
import pty
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

BINARY = None
WINE_PREFIX = None
SCRATCH = None  # removed when the tests end
NOT_A_PORT = None

RULE = "-" * 53
BANNER = f"\n{RULE}\nBrenloFix\nVersion: 3.0.1, build: Jun 23 2014 13:23:22\n{RULE}\n\n"
USAGE = """Application for flashing Brenlo bootloader and setting it parameters.
Usage: BrenloFix.exe [arguments]

Command line possible arguments:
    -p <arg> Use <arg> as serial port name
    -m <arg> Use <arg> as MAC address
    -s <arg> Use <arg> as serial number
    -al      Auto login
    -ri      Install kernel rpm(s)
    -nf      No flash
    -i       Interactive mode
    -h       Print help
    --unattended     No questions: a failed step is tried again by itself
    --retries <n>    Tries again of each failed step, unattended (default 2)
    --login <user>   Login, unattended (the password: BRENLOFIX_PASSWORD)
    --proxy <url>    Proxy, unattended (or BRENLOFIX_PROXY)
    --factory-identity  Program the factory identity on a board that has none, unattended
    --fallback-identity <mac>,<serial>  Program these on a board that has no identity
    --report <file>  Write the run's record (JSON) to <file>, from the start on
    --events <file>|fd:<n>  Write the run's events as it goes (JSON lines)
    --tftp <ip>      Load the kernel from the TFTP server at address <ip>
    --typing <how>   Type at U-Boot's prompt 'paced' (10 ms a character, the
                     default) or at the pace of its 'echo', the echo checked either way

Example: flashing with setup 'serialno' and 'ethaddr' from command line.
    BrenloFix.exe -m 02:1B:4D:00:00:00 -s QV4N150101XXX
Example: flashing with interactive setup 'serialno' and 'ethaddr' from backup.
    BrenloFix.exe -i
Example: flashing with auto setup 'serialno' and 'ethaddr' from backup.
    BrenloFix.exe
Example: the kernel over Ethernet from the station's TFTP server.
    BrenloFix.exe -m 02:1B:4D:00:00:00 -s QV4N150101XXX --tftp 192.168.102.134
"""
KEY_WAIT = "Press any key..\n"
GOOD_MAC = "02:1B:4D:00:00:00"
NOT_FOUND = ("\nTarget device not found, close other connections to this ports, check cable "
             "connection.\n" + KEY_WAIT)
LOG_NAME = re.compile(r"\[(\d{4})-([1-9]\d?)-([1-9]\d?)\]-(0|[1-9]\d?)-(0|[1-9]\d?)-(0|[1-9]\d?)-"
                      r"(0|[1-9]\d{0,2})\.log")


def platform_text(text):
    """The text as the program prints it: the Windows runtime writes CR LF for each line feed."""
    return text.replace("\n", "\r\n") if WINE_PREFIX else text


def wine_environment():
    env = dict(os.environ)
    env.update(WINEDEBUG="-all", WINEPREFIX=WINE_PREFIX)
    return env


KEEP_OPEN = object()  # answers: standard input stays open and silent, as a person who is away


def command_and_environment(args, env_extra=None):
    command = [BINARY] + args
    env = dict(os.environ)
    if WINE_PREFIX:
        command = ["wine"] + command
        env = wine_environment()
    env.pop("BRENLOFIX_PASSWORD", None)
    env.update(env_extra or {})
    return command, env


class Run:
    def __init__(self, args, answers=b"", cwd=None, timeout=120, env=None):
        command, env = command_and_environment(args, env)
        self.folder = cwd or tempfile.mkdtemp(prefix="run-", dir=SCRATCH.name)
        started = time.time()
        silent = os.pipe() if answers is KEEP_OPEN else None
        # Standard error is not kept: wine's server would hold a pipe open for seconds after the run.
        try:
            done = subprocess.run(command, input=None if silent else answers, stdin=silent[0] if silent else None,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=self.folder, env=env,
                                  timeout=timeout)
        finally:
            if silent:
                os.close(silent[0])
                os.close(silent[1])
        self.seconds = time.time() - started
        self.status = done.returncode
        self.output = done.stdout.decode("latin-1")
        self.logs = sorted(f for f in os.listdir(self.folder) if f.endswith(".log"))

    def log_bytes(self):
        with open(os.path.join(self.folder, self.logs[0]), "rb") as f:
            return f.read()


class HelpAndCommandLineErrors(unittest.TestCase):
    def check_help(self, args, message, status):
        run = Run(args, answers=b"k")
        self.assertEqual(run.output, platform_text(BANNER + message + USAGE + "\n" + KEY_WAIT))
        self.assertEqual(run.status, status)
        self.assertEqual(run.logs, [], "no log file before the command line is accepted")

    def test_help_ends_with_status_zero(self):
        self.check_help(["-h"], "", 0)
        self.check_help(["-al", "-p", "COM3", "-h", "--bogus"], "", 0)

    def test_unknown_arguments_are_named_as_typed(self):
        self.check_help(["-M"], "Error: Unknown argument -M\n", 1)
        self.check_help(["--help"], "Error: Unknown argument --help\n", 1)
        self.check_help(["-al", "bogus", "-h"], "Error: Unknown argument bogus\n", 1)

    def test_a_missing_value(self):
        for option in ["-m", "-s", "-p"]:
            self.check_help(["-al", option], "Error: missing parameter of argument %s\n" % option, 1)

    def test_options_that_need_each_other(self):
        self.check_help(["-m", GOOD_MAC], "Error: arguments -m and -s must used together\n", 1)
        self.check_help(["-s", "QV4N150101XXX"],
                        "Error: arguments -m and -s must used together\n", 1)
        self.check_help(["-ri"], "Error: arguments -ri and -al must used together\n", 1)
        self.check_help(["-ri", "-nf", "-i"],
                        "Error: arguments -ri and -al must used together\n", 1)

    def test_the_help_waits_for_a_key_even_at_the_end_of_input(self):
        run = Run(["-h"], answers=b"")
        self.assertEqual(run.status, 0)
        self.assertTrue(run.output.endswith(platform_text(KEY_WAIT)))


RULES = {"ethaddr": "A MAC address is six pairs of hex digits 0-9 and A-F separated by colons, for example "
                    "02:1B:4D:12:34:56.",
         "serialno": "A serial number is 1 to 32 characters of A-Z a-z 0-9 . _ : / - (U-Boot keeps them as typed)."}


def read_record(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


class BadIdentityValues(unittest.TestCase):
    def check_rejected(self, args, key, folder=None):
        # Standard input stays open and silent: a key wait here would hang until the time-out.
        run = Run(args, answers=None, timeout=60, cwd=folder)
        self.assertEqual(run.output, platform_text(BANNER + "Error: '%s' has a bad value\n%s\n" % (key, RULES[key])))
        self.assertEqual(run.status, 1)
        self.assertEqual(run.logs, [])
        return run

    def test_bad_mac_addresses(self):
        for mac in ["02:1b:4d:00:00:00", "02:1B:4D:00:00:0", "02-1B-4D-00-00-00", "-s"]:
            self.check_rejected(["-m", mac, "-s", "X"], "ethaddr")

    def test_serial_numbers_that_u_boot_would_not_keep_as_typed(self):
        self.check_rejected(["-m", GOOD_MAC, "-s", "S" * 33], "serialno")
        # Refused before the port is opened (which characters U-Boot keeps as typed is command_line_test's).
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(0.2)
        url = "rfc2217://127.0.0.1:%d" % listener.getsockname()[1]
        for serial in ["QV4N;reset", ""]:
            self.check_rejected(["-p", url, "-m", GOOD_MAC, "-s", serial, "--unattended"], "serialno")
        # So is a run whose record cannot be written.
        run = Run(["-p", url, "-m", GOOD_MAC, "-s", "QV4N150101ABC", "--unattended", "--report",
                   "no-such-folder/record.json"], answers=KEEP_OPEN, timeout=60)
        self.assertEqual(run.status, 1)
        self.assertIn(platform_text("\nError: cannot write the run's record to no-such-folder/record.json ("),
                      platform_text("\n") + run.output)
        self.assertEqual(run.logs, [])
        with self.assertRaises(socket.timeout):
            listener.accept()
        listener.close()

    def test_the_mac_address_is_checked_first(self):
        self.check_rejected(["-s", "S" * 40, "-m", "bad"], "ethaddr")


class RunsAndTheirLog(unittest.TestCase):
    def check_log_name(self, run, started):
        self.assertEqual(len(run.logs), 1, run.logs)
        match = LOG_NAME.fullmatch(run.logs[0])
        self.assertIsNotNone(match, run.logs[0])
        year, month, day, hour, minute, second, _ = (int(g) for g in match.groups())
        named = time.struct_time((year, month, day, hour, minute, second, 0, 0, 0))
        # The name is the start time in UTC.
        self.assertLess(abs(time.mktime(named) - time.mktime(time.gmtime(started))), 60)
        created = platform_text("Create log: %s\n" % run.logs[0])
        self.assertTrue(run.output.startswith(platform_text(BANNER) + created), run.output)

    def check_crlf(self, data):
        self.assertNotIn(b"\r\r", data)
        self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))

    def test_an_empty_port_name_is_no_board(self):
        started = time.time()
        run = Run(["-p", "", "-m", GOOD_MAC, "-s", "32-characters-are-just-allowed.."],
                  answers=b"x")
        self.check_log_name(run, started)
        self.assertEqual(run.output,
                         platform_text(BANNER + "Create log: " + run.logs[0] + "\n" + NOT_FOUND))
        self.assertEqual(run.log_bytes(), b"Target device not found, check cable connection.\r\n")
        self.assertEqual(run.status, 1)

    def test_a_port_that_cannot_be_opened_fails_the_backup(self):
        started = time.time()
        run = Run(["-p", NOT_A_PORT], answers=b"r")
        self.check_log_name(run, started)
        self.assertTrue(run.output.endswith(platform_text("\nFailed backup env.\n" + KEY_WAIT)),
                        run.output)
        self.assertNotIn("retry", run.output)
        log = run.log_bytes()
        self.check_crlf(log)
        self.assertTrue(log.endswith(b"Failed backup env.\r\n"), log)
        self.assertEqual(run.status, 1)

    def test_no_flash_goes_to_the_boot_watch_and_asks_to_retry(self):
        question = platform_text(
            "Loading system failed! Press 'r' to retry or any key to quit..\n")
        for answers, asked in [(b"x", 1), (b"R", 1), (b"", 1), (b"rrq", 3)]:
            run = Run(["-nf", "-p", NOT_A_PORT], answers=answers)
            self.assertEqual(run.output.count(question), asked, answers)
            self.assertTrue(run.output.endswith(question))
            log = run.log_bytes()
            self.check_crlf(log)
            self.assertTrue(log.endswith(b"Loading system failed!\r\n"), log)
            self.assertEqual(log.count(b"Loading system failed!"), 1)
            self.assertEqual(run.status, 1)

    def test_a_log_that_cannot_be_created_is_reported(self):
        # No file can be created in /proc, not even by root (who ignores a read-only folder).
        run = Run(["-p", ""], answers=b"x", cwd="/proc")
        match = re.search(r"Create log: (\S+)", run.output)
        self.assertIsNotNone(match, run.output)
        name = match.group(1)
        self.assertIsNotNone(LOG_NAME.fullmatch(name), name)
        self.assertEqual(run.output, platform_text(
            BANNER + "Create log: " + name + "\n" +
            "Warning: cannot create log file " + name + ", the run goes on without a log\n" +
            NOT_FOUND))
        self.assertEqual(run.status, 1)


def closed_port():
    """A loopback port where nobody listens."""
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


class UnattendedRunsAndPortTrouble(unittest.TestCase):
    """What a station relies on: no key waits, a port trouble told in words, a port held by a run."""

    def check_words(self, run, port, words):
        at = run.output.find(platform_text("Could not open %s port: error(" % port))
        self.assertGreaterEqual(at, 0, run.output)
        line = run.output[at:].split(platform_text("\n"))[1]
        self.assertRegex(line, r"^\S.*\. " + words + "$")
        return line

    def test_an_unattended_run_never_waits_for_a_key(self):
        run = Run(["--unattended", "-M"], answers=KEEP_OPEN, timeout=60)
        self.assertEqual(run.output, platform_text(BANNER + "Error: Unknown argument -M\n" + USAGE + "\n"))
        self.assertEqual(run.status, 1)
        # The boot watch on a port that does not open fails three times, without a question.
        run = Run(["-nf", "-p", NOT_A_PORT, "--unattended", "--login", "root"], answers=KEEP_OPEN, timeout=120,
                  env={"BRENLOFIX_PASSWORD": ""})
        self.assertEqual(run.status, 1)
        self.assertIn(platform_text("Loading system failed! Unattended run: retry 2 of 2.\n"), run.output)
        self.assertTrue(run.output.endswith(platform_text(
            "Loading system failed! No retry left; the unattended run ends.\n")), run.output[-300:])
        self.assertNotIn("Press", run.output)
        self.assertTrue(run.log_bytes().endswith(b"Loading system failed!\r\n"))

    def test_a_port_that_does_not_exist(self):
        run = Run(["-p", NOT_A_PORT, "--unattended", "--report", "record.json"], answers=KEEP_OPEN)
        line = self.check_words(run, NOT_A_PORT, r"This PC has no port %s; (its serial ports: .+|it lists "
                                                 r"no serial ports)\." % re.escape(NOT_A_PORT))
        with open(os.path.join(run.folder, "record.json"), encoding="utf-8") as f:
            record = json.load(f)
        self.assertEqual((record["failedStep"], record["error"]), ("BackupIdentity", line))

    def test_a_network_serial_server_that_refuses(self):
        url = "rfc2217://127.0.0.1:%d" % closed_port()
        self.check_words(Run(["-p", url], answers=b"x"), url,
                         r"The network serial server refused the connection: check its address and port, and "
                         r"that no other client holds the port\.")
        # One that takes the connection and closes it at once, as a server whose port another client holds.
        server = socket.socket()
        server.bind(("127.0.0.1", 0))
        server.listen(4)
        url = "rfc2217://127.0.0.1:%d" % server.getsockname()[1]

        def turn_away():
            while True:
                try:
                    connection, _ = server.accept()
                except OSError:
                    return
                connection.close()
        threading.Thread(target=turn_away, daemon=True).start()
        try:
            self.check_words(Run(["-p", url], answers=b"x"), url, r"The network serial server refused the "
                             r"connection: check its address and port, and that no other client holds the port\.")
        finally:
            server.close()

    def test_a_port_another_program_holds(self):
        if WINE_PREFIX:
            # wine opens a COM port twice without complaint; the held port under wine is the one
            # another BrenloFix run holds (test_a_port_another_run_holds).
            self.skipTest("wine does not refuse a second open of a COM port")
        main_fd, held_fd = pty.openpty()
        try:
            fcntl.flock(held_fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            name = os.ttyname(held_fd)
            self.check_words(Run(["-p", name], answers=b"x"), name,
                             r"Another program holds the port \(a terminal program, another BrenloFix\): close it, "
                             r"or choose another port\.")
        finally:
            os.close(held_fd)
            os.close(main_fd)

    def test_a_port_another_run_holds(self):
        # The first run waits at its retry question with its port closed, and still holds it.
        url = "rfc2217://127.0.0.1:%d" % closed_port()
        with WaitingRun(url) as first:
            second = Run(["-p", url, "--unattended"], answers=KEEP_OPEN, cwd=first.folder)
            self.assertIn(platform_text("\nError: cannot use %s: another BrenloFix run is using it.\n" % url),
                          second.output)
            self.assertNotIn("Could not open", second.output)
            self.assertEqual(second.status, 1)
            # A host name and its address are one network serial server: one claim.
            by_name = Run(["-p", url.replace("127.0.0.1", "localhost"), "--unattended"], answers=KEEP_OPEN,
                          cwd=first.folder)
            self.assertIn("another BrenloFix run is using it.", by_name.output)
            self.assertEqual(first.finish(b"q"), 1)
        # Once it ended, the port is free again.
        third = Run(["-p", url, "--unattended"], answers=KEEP_OPEN, cwd=first.folder)
        self.assertNotIn("another BrenloFix run", third.output)

    @unittest.skipIf(os.name != "posix", "lock files are POSIX claims")
    def test_lock_files_never_fail_open(self):
        if WINE_PREFIX:
            self.skipTest("Windows keeps its claims as named mutexes")
        folder = "/run/lock" if os.access("/run/lock", os.W_OK) else "/tmp"
        # Made under umask 077, the lock file is readable by everyone all the same: another user's
        # run must be able to open it to find the port held.
        port = closed_port()
        url = "rfc2217://127.0.0.1:%d" % port
        lock = os.path.join(folder, "BrenloFix.rfc2217-127.0.0.1-%d.lock" % port)
        with WaitingRun(url, umask=0o077) as first:
            [made] = glob.glob(os.path.join(folder, "BrenloFix.*%d.lock" % port))
            self.assertEqual((made, os.stat(made).st_mode & 0o777), (lock, 0o644))
            first.finish(b"q")
        self.assertFalse(os.path.exists(lock), "the claim's file goes with the claim")
        # A lock file that cannot be opened (here a link, which is never followed) counts as held,
        # and the run says which file stands in the way.
        os.symlink("/etc/passwd", lock)
        try:
            run = Run(["-p", url, "--unattended"], answers=KEEP_OPEN)
        finally:
            os.unlink(lock)
        words = ("The lock file %s cannot be used (Too many levels of symbolic links); it counts as another "
                 "BrenloFix run's claim: remove it if no run uses the port." % lock)
        self.assertIn("\n%s\nError: cannot use %s: another BrenloFix run is using it.\n" % (words, url), run.output)
        self.assertEqual(run.status, 1)


class RecordsOfEveryRun(unittest.TestCase):
    """The record stands for the run however it ends: refused, stopped from outside, with nobody
    reading its output any more."""

    def test_a_refused_command_line_and_the_help_are_recorded(self):
        folder = tempfile.mkdtemp(prefix="run-", dir=SCRATCH.name)
        for args, status, error in [
                (["-M", "--report", "record.json"], 1, "Error: Unknown argument -M"),
                (["-m", GOOD_MAC, "-s", "A;B", "--report", "record.json"], 1,
                 "Error: 'serialno' has a bad value\n" + RULES["serialno"]),
                (["--unattended", "--fallback-identity", "02:1B:4D:00:00:2A,QV4N 01", "--report", "record.json"], 1,
                 "Error: 'serialno' has a bad value\n" + RULES["serialno"]),
                (["--report", "record.json", "-h"], 0, "The help text was asked for (-h); nothing was run.")]:
            with open(os.path.join(folder, "record.json"), "w") as f:
                f.write('{"result": "succeeded"}')
            self.assertEqual(Run(args, answers=b"k", cwd=folder).status, status)
            record = read_record(os.path.join(folder, "record.json"))
            self.assertEqual((record["result"], record["exitStatus"], record["error"], record["log"], record["steps"]),
                             ("rejected", status, error, None, []), args)
        self.assertEqual(os.listdir(folder), ["record.json"], "no log, no temporary file")

    def test_a_stopped_run_records_where_it_stopped(self):
        # Under wine only Ctrl-C reaches the program (as a console event); SIGTERM and SIGHUP end wine.
        for number, how in [(signal.SIGINT, "Ctrl-C")] if WINE_PREFIX else [
                (signal.SIGINT, "SIGINT"), (signal.SIGHUP, "SIGHUP")]:
            with WaitingRun("rfc2217://127.0.0.1:%d" % closed_port()) as waiting:
                waiting.process.send_signal(number)
                self.assertEqual(waiting.process.wait(timeout=30), 1, how)
                line = "Error: the run was interrupted (%s) in step 7 (WatchSystemBoot)." % how
                self.assertIn(platform_text("\n%s\n" % line), waiting.rest())
                record = read_record(os.path.join(waiting.folder, "record.json"))
                self.assertEqual((record["result"], record["failedStep"], record["error"], record["steps"][1]["result"]),
                                 ("interrupted", "WatchSystemBoot", line, "failed"))
                [log] = [f for f in os.listdir(waiting.folder) if f.endswith(".log")]
                with open(os.path.join(waiting.folder, log), "rb") as f:
                    self.assertTrue(f.read().endswith(line.encode() + b"\r\n"))

    def test_output_nobody_reads_is_dropped_and_the_run_goes_on(self):
        url = "rfc2217://127.0.0.1:%d" % closed_port()
        with WaitingRun(url) as waiting:
            waiting.process.stdout.close()  # the console went away
            waiting.process.stdin.write(b"r")  # the retry writes to it
            waiting.process.stdin.flush()
            time.sleep(0.5)
            self.assertEqual(waiting.finish(b"x"), 1)
        record = read_record(os.path.join(waiting.folder, "record.json"))
        self.assertEqual((record["result"], record["failedStep"]), ("failed", "WatchSystemBoot"))
        self.assertEqual(record["steps"][1]["attempts"], 2)


class WaitingRun:
    """An operator's run that waits at its retry question (the boot watch on a port where nobody
    listens) and holds its port meanwhile; its record goes to record.json in its folder."""

    def __init__(self, url, umask=None):
        command, env = command_and_environment(["-nf", "-p", url, "--report", "record.json"])
        self.folder = tempfile.mkdtemp(prefix="run-", dir=SCRATCH.name)
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, cwd=self.folder, env=env,
                                        preexec_fn=(lambda: os.umask(umask)) if umask is not None else None)
        self.shown = b""
        while b"Press 'r' to retry" not in self.shown:
            chunk = self.process.stdout.read1(4096)
            if not chunk:
                self.__exit__()
                raise AssertionError("no retry question: %r" % self.shown)
            self.shown += chunk

    def rest(self):
        """What it printed, to its end."""
        return (self.shown + self.process.stdout.read()).decode("latin-1")

    def finish(self, keys):
        self.process.stdin.write(keys)
        self.process.stdin.close()
        return self.process.wait(timeout=60)

    def __enter__(self):
        return self

    def __exit__(self, *error):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            try:
                stream.close()
            except OSError:  # a pipe to a program that is gone
                pass


@unittest.skipIf(os.name != "posix", "a POSIX terminal")
class OnATerminal(unittest.TestCase):
    """The operator's own terminal: colours, and one key without Enter and without echo."""

    def test_one_key_ends_the_help_and_is_not_echoed(self):
        if WINE_PREFIX:
            self.skipTest("wine's console is not a POSIX terminal")
        main_fd, child_fd = pty.openpty()
        child = subprocess.Popen([BINARY, "-h"], stdin=child_fd, stdout=child_fd,
                                 stderr=subprocess.DEVNULL, cwd=SCRATCH.name)
        output = b""
        try:
            while b"Press any key..\r\n" not in output:
                ready, _, _ = select.select([main_fd], [], [], 10)
                self.assertTrue(ready, output)
                output += os.read(main_fd, 4096)
            # The key is typed once the program reads it: a key typed ahead of that is echoed by
            # the terminal itself, as on any terminal.
            deadline = time.monotonic() + 10
            while termios.tcgetattr(child_fd)[3] & termios.ECHO:
                self.assertLess(time.monotonic(), deadline, "the terminal's echo was never switched off")
                time.sleep(0.01)
            os.close(child_fd)
            child_fd = -1
            os.write(main_fd, b"q")  # no Enter
            self.assertEqual(child.wait(timeout=10), 0)
            while select.select([main_fd], [], [], 0.2)[0]:
                try:
                    output += os.read(main_fd, 4096)
                except OSError:  # the terminal closed with the program
                    break
        finally:
            if child.poll() is None:
                child.kill()
            if child_fd >= 0:
                os.close(child_fd)
            os.close(main_fd)
        text = output.decode("latin-1")
        # The banner in bright yellow, the rest in the default colour.
        self.assertTrue(text.startswith("\033[1;33m\r\n" + RULE), repr(text[:40]))
        self.assertIn("13:23:22\r\n" + RULE + "\r\n\r\n\033[0m", text)
        self.assertTrue(text.endswith("Press any key..\r\n"), repr(text[-40:]))


def main():
    global BINARY, WINE_PREFIX, NOT_A_PORT, SCRATCH
    SCRATCH = tempfile.TemporaryDirectory(prefix="brenlofix-cli-")
    args = sys.argv[1:]
    BINARY = os.path.abspath(args.pop(0))
    if args[:1] == ["--wine"]:
        WINE_PREFIX = os.path.abspath(args[1])
        args = args[2:]
    NOT_A_PORT = "COM199" if WINE_PREFIX else "/dev/no-such-serial-port"
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
