#!/usr/bin/python3
"""Black-box tests of the real uboot-nand binary, on plain files and on a simulated MTD device.

UBOOT_NAND  the binary to run
MTD_SHIM    the LD_PRELOAD shim that makes one file answer as a NAND MTD device
KIT_EMULATOR  optional, e.g. "qemu-arm -L /usr/arm-linux-gnueabi" for the ARM build
The block is checked independently of the tool: its header against zlib's CRC-32. A statically
linked binary takes no LD_PRELOAD shim: its MTD device cases are skipped, the file cases all run.
"""
import fcntl
import os
import shlex
import subprocess
import tempfile
import time
import unittest
import zlib

BINARY = os.environ["UBOOT_NAND"]
SHIM = os.environ["MTD_SHIM"]
EMULATOR = shlex.split(os.environ.get("KIT_EMULATOR", ""))
STATIC = b"statically linked" in subprocess.run(["file", "-b", BINARY], capture_output=True).stdout

USAGE = (b"Usage: uboot [opts] cmd [cmd_args]\n"
         b"Where opts can be:\n"
         b"   --file, -f file_name  -- Load uboot vars from file, default /dev/mtd0\n"
         b"   --yes, -y             -- Store anyway even if list is empty\n"
         b"Where cmd can be:\n"
         b"   set [{name} {value}]  -- Set var {name} to {value}\n"
         b"   get [{name}]          -- Get var named {name}\n"
         b"   list                  -- Get list of all vars\n")
PROTECTED_MESSAGE = b"Usage of uboot utility to set network parameters is prohibited. Please use UCI utility.\n"
MTD_SIZE = 131072
ERASE_SIZE = 16384


def block_of(entries, size, fill=b"\0"):
    data = b"".join(e + b"\0" for e in entries) + b"\0"
    data = data + fill * (size - 4 - len(data))
    return zlib.crc32(data).to_bytes(4, "little") + data


def entries_of(block):
    """The entries up to the empty one, as U-Boot sees the data area."""
    data = block[4:]
    end = data.find(b"\0\0")
    return data[:end].split(b"\0") if end > 0 else []


class Tool(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "env.bin")
        self.log = os.path.join(self.dir.name, "mtd.log")
        self.mtd = None

    def tearDown(self):
        self.dir.cleanup()

    def make_mtd(self, content=None, fail=""):
        """The block path becomes an MTD device of MTD_SIZE bytes, erased unless content is given."""
        if STATIC:
            self.skipTest("a statically linked binary takes no LD_PRELOAD shim")
        self.mtd = {"MTD_SIM_PATH": self.path, "MTD_SIM_LOG": self.log, "MTD_SIM_ERASESIZE": str(ERASE_SIZE),
                    "MTD_SIM_FAIL": fail}
        with open(self.path, "wb") as f:
            f.write(content if content is not None else b"\xff" * MTD_SIZE)

    def command(self, *args):
        env = dict(os.environ)
        env.pop("LD_PRELOAD", None)
        argv = [BINARY] + list(args)
        if self.mtd is not None:
            env.update(self.mtd)
            if EMULATOR:
                argv = EMULATOR + ["-E", "LD_PRELOAD=" + SHIM] + argv
            else:
                env["LD_PRELOAD"] = SHIM
        elif EMULATOR:
            argv = EMULATOR + argv
        return argv, env

    def run_tool(self, *args, stdin=b""):
        argv, env = self.command(*args)
        p = subprocess.run(argv, input=stdin, capture_output=True, env=env, timeout=60)
        return p.returncode, p.stdout, p.stderr

    def expect(self, args, status, out=b"", err=b"", stdin=b""):
        result = self.run_tool(*args, stdin=stdin)
        self.assertEqual((status, out, err), result, args)

    def write_block(self, block):
        with open(self.path, "wb") as f:
            f.write(block)

    def read_block(self):
        with open(self.path, "rb") as f:
            return f.read()

    def mtd_log(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()


class CommandLine(Tool):
    def test_usage_and_argument_counts(self):
        self.expect([], 0, USAGE)
        self.expect(["help", "more", "words"], 0, USAGE)
        for wrong in (["set", "a"], ["set", "a", "b", "c"], ["get", "a", "b"], ["list", "x"]):
            self.expect(["-f", self.path] + wrong, 1, USAGE)
        self.assertFalse(os.path.exists(self.path))

    def test_unknown_command_is_a_failure(self):
        self.expect(["-f", self.path, "lsit"], 1, b'Cmd "lsit" unknown\n')

    def test_options_after_the_command_and_double_dash(self):
        self.write_block(block_of([b"a=1"], 16384))
        self.expect(["get", "a", "--file", self.path], 0, b"1\n")
        self.expect(["set", "-f", self.path, "--", "offset", "-5"], 0)
        self.expect(["get", "offset", "-f" + self.path], 0, b"-5\n")
        self.expect(["-y", "--file=" + self.path, "set", "--yes"], 1, err=b"Error: nothing to write\n")

    def test_unknown_options_are_passed_over_after_the_librarys_message(self):
        self.write_block(block_of([b"a=1"], 16384))
        status, out, err = self.run_tool("-z", "--bogus", "-f", self.path, "get", "a")
        self.assertEqual((0, b"1\n"), (status, out))
        self.assertIn(b"invalid option -- 'z'", err)
        self.assertIn(b"unrecognized option '--bogus'", err)
        status, out, err = self.run_tool("list", "-f")
        self.assertIn(b"requires an argument -- 'f'", err)


class PlainFile(Tool):
    def test_rewrite_then_get_list_and_set(self):
        self.expect(["-f", self.path, "-y", "set"], 0, stdin=b"bootdelay=3\nbootcmd=run nand_boot\nb\n\n")
        block = self.read_block()
        self.assertEqual(16384, len(block))
        self.assertEqual(zlib.crc32(block[4:]).to_bytes(4, "little"), block[:4])
        self.assertEqual([b"bootdelay=3", b"bootcmd=run nand_boot", b"b=", b"="], entries_of(block))
        self.assertEqual(block[4 + 41:], bytes(16384 - 45))
        self.expect(["-f", self.path, "get"], 0, b"bootdelay=3\nbootcmd=run nand_boot\nb=\n")
        self.expect(["-f", self.path, "list"], 0, b"bootdelay\nbootcmd\nb\n")
        self.expect(["-f", self.path, "get", "bootcmd"], 0, b"run nand_boot\n")
        self.expect(["-f", self.path, "get", "absent"], 1)
        self.expect(["-f", self.path, "set", "bootdelay", "5"], 0)
        self.expect(["-f", self.path, "set", "new", "x=y"], 0)
        self.expect(["-f", self.path, "set", "b", ""], 0)
        self.expect(["-f", self.path, "get"], 0, b"bootdelay=5\nbootcmd=run nand_boot\nnew=x=y\n")
        block = self.read_block()
        self.assertEqual(zlib.crc32(block[4:]).to_bytes(4, "little"), block[:4])

    def test_protected_variables(self):
        self.write_block(block_of([b"a=1"], 16384))
        before = self.read_block()
        for name in ("ipaddr", "netmask", "gateway", "ethaddr", "serialno"):
            self.expect(["-f", self.path, "set", name, "10.0.0.1"], 1, err=PROTECTED_MESSAGE)
        self.assertEqual(before, self.read_block())
        self.expect(["-f", self.path, "set", "IPADDR", "1"], 0)
        self.expect(["-f", self.path, "-y", "set"], 0, stdin=b"ipaddr=10.0.0.1\n")
        self.expect(["-f", self.path, "get", "ipaddr"], 0, b"10.0.0.1\n")

    def test_rewrite_refusals(self):
        self.write_block(block_of([b"a=1"], 16384))
        before = self.read_block()
        self.expect(["-f", self.path, "set"], 1, err=b"Error: you try to rewrite all vars. You '-y' flag\n",
                    stdin=b"b=2\n")
        self.expect(["-f", self.path, "-y", "set"], 1, err=b"Error: nothing to write\n")
        self.assertEqual(before, self.read_block())

    def test_missing_and_unwritable_paths(self):
        missing = os.path.join(self.dir.name, "missing")
        for args in (["list"], ["get"], ["get", "a"], ["set", "a", "1"]):
            self.expect(["-f", missing] + args, 1, err=b'Error: cannot read file "%s"\n' % missing.encode())
        self.assertFalse(os.path.exists(missing))
        nowhere = os.path.join(self.dir.name, "no-such-folder", "env")
        self.expect(["-f", nowhere, "-y", "set"], 1, stdin=b"a=1\n",
                    err=b'Error: cannot open <%s>\nError: cannot write to file "%s"\n' % ((nowhere.encode(),) * 2))
        self.expect(["-f", self.dir.name, "get"], 1, err=b'Error: cannot read file "%s"\n' % self.dir.name.encode())

    def test_longer_file_keeps_its_tail_and_is_read_whole(self):
        tail = bytes(range(256)) * 16
        self.write_block(block_of([b"a=1"], 16384) + tail)
        self.expect(["-f", self.path, "set", "b", "2"], 0)
        block = self.read_block()
        self.assertEqual(16384 + len(tail), len(block))
        self.assertEqual(tail, block[16384:])
        self.assertEqual([b"a=1", b"b=2"], entries_of(block))

    def test_odd_blocks(self):
        # Shorter than the header: an environment without variables, which is never written.
        self.write_block(b"\x01\x02\x03")
        self.expect(["-f", self.path, "get"], 0)
        self.expect(["-f", self.path, "list"], 0)
        self.expect(["-f", self.path, "set", "a", "1"], 1, err=b'Error: cannot write file "%s"\n' % self.path.encode())
        self.assertEqual(b"\x01\x02\x03", self.read_block())
        # No end marker: complete entries load, the cut one is dropped.
        self.write_block(b"\0\0\0\0a=1\0b=2\0c=" + b"x" * 100)
        self.expect(["-f", self.path, "get"], 0, b"a=1\nb=2\n")
        # Entries without a name or without '=' are skipped; the header is not checked.
        self.write_block(b"JUNK" + b"a=1\0b\0=c\0d=\0\0e=5\0")
        self.expect(["-f", self.path, "get"], 0, b"a=1\nd=\n")
        # Garbage does not crash the tool.
        self.write_block(bytes((i * 7919 + 13) % 256 for i in range(5000)))
        status, _, err = self.run_tool("-f", self.path, "list")
        self.assertEqual((0, b""), (status, err))
        self.expect(["-f", self.path, "list", "--", "-x"], 1, USAGE)

    def test_long_lines_stay_whole_or_are_refused(self):
        bootargs = b"bootargs=" + b"x" * 1014  # 1023 characters: the most an entry holds
        self.expect(["-f", self.path, "-y", "set"], 0, stdin=b"a=1\n" + bootargs + b"\n" + b"n" * 300 + b"\n")
        self.expect(["-f", self.path, "get"], 0, b"a=1\n" + bootargs + b"\n" + b"n" * 300 + b"=\n")
        before = self.read_block()
        refused = (b"Error: cannot store \"bootargs=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\": "
                   b"a variable (name, '=' and value) holds at most 1023 characters\n")
        self.expect(["-f", self.path, "-y", "set"], 1, err=refused, stdin=b"a=2\n" + bootargs + b"x\n")
        self.expect(["-f", self.path, "set", "bootargs", "x" * 1015], 1,
                    err=b"Error: cannot store \"bootargs\": a variable (name, '=' and value) holds at most 1023 "
                        b"characters\n")
        self.assertEqual(before, self.read_block())
        # A block whose name is longer than the working buffer is not taken apart.
        self.write_block(block_of([b"n" * 1024 + b"=v"], 16384))
        self.expect(["-f", self.path, "get"], 1,
                    err=b"Error: cannot load <%s>: a variable name is longer than 1023 characters\n"
                        b'Error: cannot read file "%s"\n' % (self.path.encode(), self.path.encode()))

    def test_list_that_does_not_fit_is_refused(self):
        self.write_block(block_of([b"a=1"], 16384))
        before = self.read_block()
        lines = b"".join(b"v%02d=%s\n" % (i, b"x" * 1000) for i in range(17))
        status, out, err = self.run_tool("-f", self.path, "-y", "set", stdin=lines)
        self.assertEqual((1, b""), (status, out))
        self.assertEqual(b"Error: cannot fit the variables (17090 bytes) into the block of 16384 bytes <%s>\n"
                         b'Error: cannot write to file "%s"\n' % (self.path.encode(), self.path.encode()), err)
        self.assertEqual(before, self.read_block())


class MtdDevice(Tool):
    def test_erased_device_reads_empty_and_is_filled_by_rewrite(self):
        self.make_mtd()
        self.expect(["-f", self.path, "get"], 0)
        self.expect(["-f", self.path, "set", "a", "1"], 1, err=b'Error: cannot write file "%s"\n' % self.path.encode())
        self.assertNotIn("erase 0 %d" % MTD_SIZE, self.mtd_log())
        self.assertEqual(b"\xff" * MTD_SIZE, self.read_block())
        self.expect(["-f", self.path, "-y", "set"], 0, stdin=b"bootdelay=3\nbaudrate=115200\n")
        self.assertEqual(["erase 0 %d" % MTD_SIZE, "write 0 %d" % MTD_SIZE],
                         [line for line in self.mtd_log() if not line.startswith("getinfo")])
        block = self.read_block()
        self.assertEqual(MTD_SIZE, len(block))
        self.assertEqual(block_of([b"bootdelay=3", b"baudrate=115200"], MTD_SIZE), block)
        self.expect(["-f", self.path, "set", "bootdelay", "0"], 0)
        self.expect(["-f", self.path, "get"], 0, b"bootdelay=0\nbaudrate=115200\n")
        self.assertEqual(block_of([b"bootdelay=0", b"baudrate=115200"], MTD_SIZE), self.read_block())
        self.assertEqual([], [line for line in self.mtd_log() if line.startswith("violation")])

    def test_failed_erase_leaves_the_device_as_it_was(self):
        self.make_mtd(block_of([b"a=1"], MTD_SIZE, b"\xff"), fail="erase")
        before = self.read_block()
        p = self.path.encode()
        self.expect(["-f", self.path, "set", "b", "2"], 1,
                    err=b"Error: cannot erase flash <%s>\nError: cannot write file \"%s\"\n" % (p, p))
        self.expect(["-f", self.path, "-y", "set"], 1, stdin=b"b=2\n",
                    err=b"Error: cannot erase flash <%s>\nError: cannot write to file \"%s\"\n" % (p, p))
        self.assertEqual(before, self.read_block())

    def test_short_write_is_reported(self):
        self.make_mtd(block_of([b"a=1"], MTD_SIZE, b"\xff"), fail="short")
        self.expect(["-f", self.path, "set", "b", "2"], 1,
                    err=b"Error: need to write %d and written %d bytes\nError: cannot write file \"%s\"\n"
                        % (MTD_SIZE, MTD_SIZE // 2, self.path.encode()))


class Locking(Tool):
    def test_set_waits_for_a_lock_held_elsewhere(self):
        self.write_block(block_of([b"a=1"], 16384))
        argv, env = self.command("-f", self.path, "set", "b", "2")
        with open(self.path, "rb") as holder:
            fcntl.flock(holder, fcntl.LOCK_SH)  # a reader in the middle of its read
            p = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            time.sleep(1.0)
            self.assertIsNone(p.poll(), "set went ahead while the block was being read")
            fcntl.flock(holder, fcntl.LOCK_UN)
            out, err = p.communicate(timeout=60)
        self.assertEqual((0, b"", b""), (p.returncode, out, err))
        self.assertEqual([b"a=1", b"b=2"], entries_of(self.read_block()))

    def test_concurrent_sets_keep_every_change(self):
        self.write_block(block_of([b"a=1"], 16384))
        runs = []
        for i in range(8):
            argv, env = self.command("-f", self.path, "set", "v%d" % i, str(i))
            runs.append(subprocess.Popen(argv, env=env))
        self.assertEqual([0] * 8, [p.wait(timeout=120) for p in runs])
        self.assertEqual(sorted([b"a=1"] + [b"v%d=%d" % (i, i) for i in range(8)]),
                         sorted(entries_of(self.read_block())))


if __name__ == "__main__":
    unittest.main(verbosity=2)
