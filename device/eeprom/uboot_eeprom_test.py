#!/usr/bin/python3
"""Black-box tests: the real uboot-eeprom binary against the simulated board driver.

The LD_PRELOAD shim of sim/boarddrv answers for the driver entries and the kernel's EEPROM files;
these tests set up the EEPROM words in the board's folder, run the tool as an operator does, and
then inspect the words and the driver's request log. Images are built here with zlib's CRC-32.

A statically linked tool takes no LD_PRELOAD shim: it runs under the emulator with the board's
folder as its root, where it finds the layer files, and the cases that need the driver are skipped.

  uboot_eeprom_test.py --tool BIN --shim LIB [--emulator "qemu-arm -L /usr/arm-linux-gnueabi"]
"""
import argparse
import os
import shlex
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from eeprom_test_board import (FACTORY, USAGE, USER, VERIFY_FAILED, Board, entries_of, image)

PARSER = argparse.ArgumentParser()
PARSER.add_argument("--tool", required=True)
PARSER.add_argument("--shim", required=True)
PARSER.add_argument("--emulator", default="")
ARGS, REST = PARSER.parse_known_args()
STATIC = b"statically linked" in subprocess.run(["file", "-b", ARGS.tool], capture_output=True).stdout
needs_driver = unittest.skipIf(STATIC, "a statically linked binary takes no LD_PRELOAD shim")


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="uboot-eeprom-")
        self.board = Board(self.tmp.name)
        self.board.put_image(image(USER))

    def tearDown(self):
        self.tmp.cleanup()

    def command(self, args):
        if STATIC:
            return shlex.split(ARGS.emulator) + ["-L", self.board.folder, ARGS.tool] + list(args)
        if ARGS.emulator:
            return shlex.split(ARGS.emulator) + ["-E", "LD_PRELOAD=" + ARGS.shim, ARGS.tool] + list(args)
        return [ARGS.tool] + list(args)

    def environment(self, faults, devices):
        env = dict(os.environ)
        env.pop("LD_PRELOAD", None)
        if not ARGS.emulator:
            env["LD_PRELOAD"] = ARGS.shim
        env["SIM_BOARDDRV_DIR"] = self.board.folder
        env["SIM_BOARDDRV_FAULTS"] = faults
        if devices is not None:
            env["SIM_BOARDDRV_DEVICES"] = devices
        return env

    def run_tool(self, *args, faults="", devices=None):
        done = subprocess.run(self.command(args), env=self.environment(faults, devices),
                              capture_output=True, timeout=120)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def start_tool(self, *args, faults=""):
        return subprocess.Popen(self.command(args), env=self.environment(faults, None),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def assertRun(self, args, rc=0, out=None, err="", **kw):
        got = self.run_tool(*args, **kw)
        self.assertEqual(got[0], rc, got)
        if out is not None:
            self.assertEqual(got[1], out)
        if err is not None:
            self.assertEqual(got[2], err)
        return got

    def assertStoreHolds(self, entries):
        size, crc, data = self.board.user_image()
        self.assertEqual(entries_of(data), entries)
        self.assertEqual(size, len(data))
        self.assertEqual(crc, zlib.crc32(data))
        self.assertEqual(data[-1:], b"\0")

    def assertWriteAndVerifyPattern(self, raw):
        """Word by word from the header on, select then write; then the header read back."""
        words = (len(raw) + 1) // 2
        padded = raw + b"\0"
        expected = []
        for k in range(words):
            word = padded[2 * k] | (padded[2 * k + 1] << 8)
            expected += [(0x120, ((0x2000 + k) << 16) | 0x0FFD), (0x120, (word << 16) | 0x0FFF)]
        for k in range(4):
            expected += [(0x120, ((0x2000 + k) << 16) | 0x0FFD), (0x120, 0x0FFE)]
        self.assertEqual(self.board.commands(), expected)


class CommandLine(ToolTest):
    def test_usage_help_and_refusals(self):
        self.assertRun([], out=USAGE)
        self.assertRun(["help"], out=USAGE)
        self.assertRun(["-l", "get"], out=USAGE)  # get becomes the level
        self.assertRun(["-v"], out=USAGE)
        self.assertRun(["-y", "set", "a", "b"], rc=1, out=USAGE, err="uboot: unrecognized option `-y'\n")
        self.assertRun(["set"], rc=1, out="", err="Error: you try to rewrite all vars. Use '-y' flag\n")
        self.assertEqual(self.board.requests(), [])

    @needs_driver
    def test_operands_too_long_are_refused_and_nothing_is_written(self):
        before = self.board.words()
        rc, out, err = self.run_tool("set", "n" * 64, "v")
        self.assertEqual((rc, out), (1, ""))
        self.assertIn("name is too long", err)
        rc, out, err = self.run_tool("set", "n", "v" * 1024)
        self.assertEqual((rc, out), (1, ""))
        self.assertIn("value is too long", err)
        self.assertEqual(self.board.requests(), [])
        self.assertEqual(self.board.words(), before)
        self.assertRun(["set", "n" * 63, "v" * 1023])
        self.assertRun(["get", "n" * 63], out="v" * 1023 + "\n")


class Reading(ToolTest):
    @needs_driver
    def test_get_at_each_level(self):
        self.assertRun(["get", "bootdelay"], out="7\n")
        self.assertRun(["get", "factoryonly"], out="yes\n")  # level 0 falls back to the defaults
        self.assertRun(["-l1", "get", "factoryonly"], out="")
        self.assertRun(["-l2", "get", "bootdelay"], out="3\n")
        self.assertRun(["-l", "2", "get", "ipaddr"], out="10.0.1.100\n")
        self.assertRun(["-l2", "get", "useronly"], out="")
        self.assertRun(["-l", "1", "get", "useronly"], out="u\n")
        self.assertRun(["get", "missing"], out="")
        self.assertRun(["-l7", "get", "bootdelay"], out="")
        self.assertRun(["get", "noequals"], out="\n")
        self.assertRun(["set", "x", "y", "z"])  # extra words ignored
        self.assertRun(["get", "x", "ignored"], out="y\n")

    def test_get_without_a_name_prints_one_layer(self):
        self.assertRun(["get"], out="".join(e + "\n" for e in USER))
        self.assertRun(["-l1", "get"], out="".join(e + "\n" for e in USER))
        self.assertRun(["-l2", "get"], out="".join(e + "\n" for e in FACTORY))

    def test_list_prints_names_in_store_order(self):
        self.assertRun(["list"], out="bootdelay\nipaddr\nserialno\nnoequals\nuseronly\n")
        self.assertRun(["-l2", "list"], out="bootdelay\nipaddr\nserialno\nnoequals\nuseronly\n")

    @needs_driver
    def test_long_names_duplicates_and_empty_stores(self):
        long_name = "L" * 70
        self.board.put_image(image([long_name + "=long", "dup=first", "dup=second"]))
        self.assertRun(["get", "L" * 63], out="long\n")
        self.assertRun(["list"], out="L" * 63 + "\ndup\ndup\n")
        self.assertRun(["get", "dup"], out="first\n")
        self.assertRun(["set", "dup", "third"])
        self.assertRun(["get", "dup"], out="second\n")

        self.board.put_image(image([]))
        self.assertRun(["list"], out="")
        self.assertRun(["get"], out="")

    def test_verbose_reading_lines(self):
        raw = image(USER)
        size, crc = struct.unpack("<II", raw[:8])
        self.assertRun(["-v", "get", "useronly"],
                       out="EEPROM data size: %d\nEEPROM CRC: 0x%x\nRead %d bytes from EEPROM\nCRC ok\nu\n"
                       % (size, crc, size))

    @needs_driver
    def test_damaged_layers(self):
        rc, out, err = self.run_tool("get", "bootdelay", faults="user-crc")
        self.assertEqual((rc, err), (1, "CRC Error!\n"))
        self.assertNotIn("7", out)
        rc, out, err = self.run_tool("-v", "-l2", "get", "bootdelay", faults="user-crc")
        self.assertEqual((rc, err), (1, "CRC Error!\nERROR(0X8000000D [0.0]): Unknow error. \n"))
        self.assertRun(["list"], rc=1, out="", err="CRC Error!\n", faults="user-crc")
        # The defaults are only read when the lookup gets there.
        self.assertRun(["get", "bootdelay"], out="7\n", faults="defaults-crc")
        self.assertRun(["get", "factoryonly"], rc=1, out="", err="CRC Error!\n", faults="defaults-crc")
        self.assertRun(["-l2", "get"], rc=1, out="", err="CRC Error!\n", faults="defaults-crc")

    @needs_driver
    def test_size_fields_zero_and_beyond_the_limit(self):
        self.board.put_image(struct.pack("<II", 16385, 0) + b"a=1\0\0")
        rc, out, err = self.run_tool("-v", "get")
        self.assertEqual(rc, 1)
        self.assertEqual(out, "EEPROM data size: 16385\nEEPROM CRC: 0x0\n")
        self.assertEqual(err, "ERROR(0X8000000D [0.0]): Unknow error. \n")
        before = self.board.words()
        self.assertRun(["set", "a", "2"], rc=1, out="", err="")
        self.assertEqual(self.board.words(), before)

        self.board.put_image(struct.pack("<II", 0, 0x12345678))
        self.assertRun(["list"], out="")
        self.assertRun(["set", "name", "value"])
        size, _, _ = self.board.user_image()
        self.assertEqual(size, len("name") + len("value") + 3)
        self.assertStoreHolds(["name=value"])


@needs_driver
class Writing(ToolTest):
    def test_set_moves_the_variable_to_the_end_word_by_word(self):
        rc, out, err = self.run_tool("-v", "set", "bootdelay", "1")
        expected = ["ipaddr=192.168.1.5", "serialno=QV4N150101042", "noequals", "useronly=u", "bootdelay=1"]
        raw = image(expected)
        self.assertEqual((rc, err), (0, ""))
        self.assertTrue(out.startswith("Connecting lib... Lib connected ok\nEEPROM data size: "), out)
        self.assertTrue(out.endswith("Written %d bytes into the EEPROM\nSaved into the EEPROM: OK\n"
                                     % (len(raw) - 8)), out)
        self.assertStoreHolds(expected)
        self.assertEqual(self.board.user_bytes(len(raw)), raw)
        self.assertWriteAndVerifyPattern(raw)
        requests = self.board.requests()
        self.assertEqual(requests[0], "handshake 2.44.1.0 -> 0x0")
        self.assertEqual(requests[1], "type 0 -> 0x0")
        self.assertIn("device 70 0 -> 0x0", requests)
        self.assertNotIn("device 71 0 -> 0x0", requests)  # the search stops at the first carrier

    def test_set_appends_and_deletes(self):
        self.assertRun(["set", "newvar", "a b c"], out="")
        self.assertStoreHolds(USER + ["newvar=a b c"])
        self.assertRun(["set", "ipaddr"])
        self.assertStoreHolds(["bootdelay=7", "serialno=QV4N150101042", "noequals", "useronly=u", "newvar=a b c"])
        before = self.board.words()
        self.board.clear_log()
        self.assertRun(["-v", "set", "missing"], err="")
        self.assertEqual(self.board.commands(), [])
        self.assertEqual(self.board.words(), before)

    def test_odd_size_reaches_the_eeprom_with_its_final_nul(self):
        self.board.put_image(image(["ab=1"]))  # S = 6 is even; adding "c=1" makes S = 10
        self.assertRun(["set", "c", "12"])  # S = 11: 19 bytes, 10 words
        raw = image(["ab=1", "c=12"])
        self.assertEqual(len(raw) % 2, 1)
        self.assertEqual(self.board.user_bytes(len(raw) + 1), raw + b"\0")
        self.assertWriteAndVerifyPattern(raw)

    def test_wdef_writes_the_default_table_without_reading(self):
        self.board.put_image(b"\xff" * 16)  # an erased user layer does not matter
        rc, out, err = self.run_tool("-v", "wdef")
        self.assertEqual((rc, err), (0, ""))
        size, crc, data = self.board.user_image()
        self.assertEqual(out, "Connecting lib... Lib connected ok\nWritten %d bytes into the EEPROM\n"
                              "Saved into the EEPROM: OK\n" % size)
        entries = entries_of(data)
        self.assertEqual(len(entries), 37)
        self.assertEqual(entries[0], "stdin=serial")
        self.assertEqual(entries[-1], "bootcmd=run bootmmc")
        self.assertTrue(data.endswith(b"bootcmd=run bootmmc\0\0"))
        self.assertIn("serialno=QV4N150101XXX", entries)
        self.assertEqual(crc, zlib.crc32(data))
        self.assertWriteAndVerifyPattern(self.board.user_bytes(8 + size))
        self.assertRun(["get", "bootdelay"], out="5\n")

    def test_update_beyond_the_data_limit_is_refused(self):
        self.board.put_image(image(["big=" + "x" * 16370]))
        before = self.board.words()
        rc, out, err = self.run_tool("set", "more", "1234567890")
        self.assertEqual((rc, out), (1, ""))
        self.assertIn("16384", err)
        self.assertEqual(self.board.words(), before)
        self.assertEqual([w for _, w in self.board.commands() if w & 0xFFFF == 0x0FFF], [])

    def test_two_runs_at_once_lose_no_change(self):
        # Each run reads the store slowly; without the lock both would write what they read.
        first = self.start_tool("set", "first", "1", faults="user-read-delay=400")
        time.sleep(0.1)
        second = self.start_tool("set", "second", "2", faults="user-read-delay=400")
        for run in (first, second):
            out, err = run.communicate(timeout=120)
            self.assertEqual(run.returncode, 0, (out, err))
        # Whichever took the lock first wrote first (on a busy machine the second may start sooner).
        _, _, data = self.board.user_image()
        if entries_of(data)[-1] == "first=1":
            self.assertStoreHolds(USER + ["second=2", "first=1"])
        else:
            self.assertStoreHolds(USER + ["first=1", "second=2"])


@needs_driver
class Failures(ToolTest):
    def assertFails(self, faults, line, devices=None, args=("set", "bootdelay", "9"), out_prefix=None):
        before = self.board.words()
        rc, out, err = self.run_tool("-v", *args, faults=faults, devices=devices)
        self.assertEqual((rc, err), (1, line))
        if out_prefix is not None:
            self.assertEqual(out, out_prefix)
        rc, out, err = self.run_tool(*args, faults=faults, devices=devices)
        self.assertEqual((rc, out, err), (1, "", ""))  # quiet without -v
        return before

    def test_connection_failures(self):
        cases = [
            ("no-phxdrv", "ERROR(0X8000000B [106.256]): Cannot open the board driver entry /proc/osadrivers/PHXDRV \n"),
            ("no-osaext",
             "ERROR(0X8000000B [106.264]): Cannot open the driver extension entry /proc/osadrivers/osaext \n"),
            ("refuse-handshake",
             "ERROR(0X80000011 [8.701]): The driver does not support this library version \n"),
            ("fail-ioctl", "ERROR(0X8000000D [134.170]): The request to the board driver failed \n"),
            ("empty-reply", "ERROR(0X8000000D [134.173]): The board driver returned no data for the request \n"),
        ]
        for faults, line in cases:
            with self.subTest(faults=faults):
                before = self.assertFails(faults, line, out_prefix="Connecting lib... ")
                self.assertEqual(self.board.words(), before)
                before = self.assertFails(faults, line, args=("wdef",), out_prefix="Connecting lib... ")
                self.assertEqual(self.board.words(), before)

    def test_no_eeprom_device_fails_at_the_first_word(self):
        line = "ERROR(0X8000000B [8.700]): The device handle is not valid for this request \n"
        for devices in ("none", "3:0x100,68:0x130,73:0x140:eeprom"):
            with self.subTest(devices=devices):
                before = self.board.words()
                self.board.clear_log()
                self.assertFails("", line, devices=devices)
                self.assertEqual(self.board.words(), before)
                self.assertEqual(self.board.commands()[0], (0xFFFFFFFF, (0x2000 << 16) | 0x0FFD))

    def test_refused_word_leaves_a_partly_written_store_until_wdef(self):
        old = self.board.user_bytes(64)
        rc, out, err = self.run_tool("-v", "set", "bootdelay", "9", faults="refuse-write=5")
        self.assertEqual(rc, 1)
        self.assertEqual(err, "ERROR(0X8000000D [8.702]): The EEPROM did not accept the word \n")
        self.assertNotIn("Written", out)
        new = image(["ipaddr=192.168.1.5", "serialno=QV4N150101042", "noequals", "useronly=u", "bootdelay=9"])
        self.assertEqual(self.board.user_bytes(10), new[:10])  # words 0 to 4 written
        self.assertEqual(self.board.user_bytes(64)[10:], old[10:])  # word 5 on: the old image
        self.assertRun(["get", "bootdelay"], rc=1, out="", err="CRC Error!\n")
        self.assertRun(["set", "bootdelay", "9"], rc=1, out="", err="CRC Error!\n")
        self.assertRun(["wdef"])
        self.assertRun(["get", "bootdelay"], out="5\n")

    def test_verify_read_that_differs_fails_the_run(self):
        rc, out, err = self.run_tool("set", "bootdelay", "9", faults="verify-differs")
        self.assertEqual((rc, out, err), (1, VERIFY_FAILED, ""))
        rc, out, err = self.run_tool("-v", "wdef", faults="verify-differs")
        self.assertEqual(rc, 1)
        self.assertTrue(out.endswith("Written 1830 bytes into the EEPROM\n" + VERIFY_FAILED), out)
        self.assertNotIn("Saved into the EEPROM: OK", out)

    def test_damaged_user_layer_stops_set_before_any_write(self):
        before = self.board.words()
        rc, out, err = self.run_tool("-v", "set", "bootdelay", "9", faults="user-crc")
        self.assertEqual(rc, 1)
        self.assertEqual(err, "CRC Error!\nERROR(0X8000000D [0.0]): "
                              "A descriptive error string is not available for this return code \n")
        self.assertEqual(self.board.words(), before)
        self.assertEqual(self.board.commands(), [])


def main():
    for path in (ARGS.tool, ARGS.shim):
        if not os.path.exists(path):
            print("missing: " + path, file=sys.stderr)
            return 1
    result = unittest.main(argv=[sys.argv[0]] + REST, exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
