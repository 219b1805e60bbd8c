#!/usr/bin/python3
"""The board tools' two packages, made as ./kit package makes them and used as their readers would.

SourcePackage: board-tools-<version>-src.tar.gz, unpacked alone, builds with the ARM toolchain file
it holds, and both tools pass their black-box tests under qemu-arm (linked dynamically, so that the
simulated drivers' LD_PRELOAD shims reach them); the board SDK's toolchain file, pointed at Debian's
ARM compiler, builds the two tools and nothing else.
BinaryPackage: board-tools-<version>-armv5te.tar.gz, made by CPack from the ARM build, holds static
stripped ARM programs that pass their black-box tests under qemu-arm.

  KIT_SOURCE_DIR  the tree     KIT_VERSION  the version     KIT_ARM_BUILD  the ARM build folder
"""
import os
import subprocess
import sys
import tarfile
import tempfile
import unittest

TREE = os.environ["KIT_SOURCE_DIR"]
VERSION = os.environ["KIT_VERSION"]
ARM_BUILD = os.environ["KIT_ARM_BUILD"]
EMULATOR = "qemu-arm -L /usr/arm-linux-gnueabi"
TOOLS = ["uboot-eeprom", "uboot-nand"]


def run(argv, **kw):
    done = subprocess.run(argv, capture_output=True, text=True, **kw)
    if done.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(argv), done.stdout[-3000:], done.stderr[-3000:]))
    return done.stdout


def describe(path):
    return run(["file", "-b", path])


class Packages(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="board-tools-package-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def unpack(self, name):
        with tarfile.open(os.path.join(self.dir, name + ".tar.gz")) as archive:
            self.assertTrue(all(m.name.split("/")[0] == name for m in archive.getmembers()))
            archive.extractall(self.dir)
        return os.path.join(self.dir, name)

    def build(self, source, folder, *settings):
        build = os.path.join(self.dir, folder)
        run(["cmake", "-S", source, "-B", build] + list(settings))
        run(["cmake", "--build", build, "-j", "2"])
        return os.path.join(build, "bin")

    def assertBlackBoxTestsPass(self, bin_dir):
        """Both tools' own black-box tests, under qemu-arm, with the ARM build's shims."""
        shims = os.path.join(ARM_BUILD, "lib")
        env = dict(os.environ, UBOOT_NAND=os.path.join(bin_dir, "uboot-nand"),
                   MTD_SHIM=os.path.join(shims, "libmtd_shim.so"), KIT_EMULATOR=EMULATOR)
        run([sys.executable, os.path.join(TREE, "device/nand/uboot_nand_test.py")], env=env)
        run([sys.executable, os.path.join(TREE, "device/eeprom/uboot_eeprom_test.py"),
             "--tool", os.path.join(bin_dir, "uboot-eeprom"),
             "--shim", os.path.join(shims, "libsim_boarddrv_shim.so"), "--emulator", EMULATOR])


class SourcePackage(Packages):
    def test_builds_alone_with_either_toolchain_file(self):
        run(["cmake", "-DKIT_SOURCE_DIR=" + TREE, "-DKIT_VERSION=" + VERSION, "-DKIT_PACKAGE_DIR=" + self.dir,
             "-P", os.path.join(TREE, "cmake/source-package.cmake")])
        source = self.unpack("board-tools-%s-src" % VERSION)

        arm = self.build(source, "arm", "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake/arm-linux-gnueabi.cmake"))
        self.assertEqual(sorted(os.listdir(arm)), TOOLS)
        for tool in TOOLS:
            self.assertIn("ARM, EABI5", describe(os.path.join(arm, tool)))
            self.assertIn("dynamically linked", describe(os.path.join(arm, tool)))  # the shims reach it
        self.assertBlackBoxTestsPass(arm)

        sdk = self.build(source, "sdk", "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake/board-sdk.cmake"),
                         "-DKIT_SDK_PREFIX=arm-linux-gnueabi-")
        self.assertEqual(sorted(os.listdir(sdk)), TOOLS)
        for tool in TOOLS:
            self.assertIn("ARM", describe(os.path.join(sdk, tool)))

    def test_board_sdk_toolchain_file_builds_the_tools_alone_from_the_tree(self):
        sdk = self.build(TREE, "tree-sdk", "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(TREE, "cmake/board-sdk.cmake"),
                         "-DKIT_SDK_PREFIX=arm-linux-gnueabi-")
        self.assertEqual(sorted(os.listdir(sdk)), TOOLS)
        libraries = os.listdir(os.path.join(self.dir, "tree-sdk", "lib"))
        self.assertEqual([name for name in libraries if name.endswith(".so")], [])  # no C++17 shims


class BinaryPackage(Packages):
    def test_static_stripped_tools_pass_their_tests(self):
        run(["cpack", "--config", os.path.join(ARM_BUILD, "CPackConfig.cmake"), "-B", self.dir])
        tools = os.path.join(self.unpack("board-tools-%s-armv5te" % VERSION), "bin")
        self.assertEqual(sorted(os.listdir(tools)), TOOLS)
        for tool in TOOLS:
            kind = describe(os.path.join(tools, tool))
            for word in ("ARM, EABI5", "statically linked", ", stripped"):
                self.assertIn(word, kind)
            print("%s: %d bytes" % (tool, os.path.getsize(os.path.join(tools, tool))))
        self.assertBlackBoxTestsPass(tools)


if __name__ == "__main__":
    unittest.main(verbosity=2)
