#!/usr/bin/python3
"""Black-box checks of BrenloFix's command line, exit statuses and log file.

    brenlofix_cli_test.py BINARY [--wine PREFIX]

Runs the built program as an operator would, in a scratch folder, and compares standard output
byte for byte. With --wine, BINARY is BrenloFix.exe and runs under wine in the given prefix; its
standard output has Windows line ends, and so must the expected texts.
"""
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import termios
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
    --tftp <arg> Load the kernel from the TFTP server at IP address <arg>

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


class Run:
    def __init__(self, args, answers=b"", cwd=None, timeout=120):
        command = [BINARY] + args
        env = dict(os.environ)
        if WINE_PREFIX:
            command = ["wine"] + command
            env = wine_environment()
        self.folder = cwd or tempfile.mkdtemp(prefix="run-", dir=SCRATCH.name)
        started = time.time()
        # Standard error is not kept: wine's server would hold a pipe open for seconds after the run.
        done = subprocess.run(command, input=answers, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, cwd=self.folder, env=env, timeout=timeout)
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


class BadIdentityValues(unittest.TestCase):
    def check_rejected(self, args, key):
        # Standard input stays open and silent: a key wait here would hang until the time-out.
        run = Run(args, answers=None, timeout=60)
        self.assertEqual(run.output, platform_text(BANNER + "Error: '%s' has a bad value\n" % key))
        self.assertEqual(run.status, 1)
        self.assertEqual(run.logs, [])

    def test_bad_mac_addresses(self):
        for mac in ["02:1b:4d:00:00:00", "02:1B:4D:00:00:0", "02-1B-4D-00-00-00", "-s"]:
            self.check_rejected(["-m", mac, "-s", "X"], "ethaddr")

    def test_serial_numbers_longer_than_32_characters(self):
        self.check_rejected(["-m", GOOD_MAC, "-s", "S" * 33], "serialno")

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
