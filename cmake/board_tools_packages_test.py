#!/usr/bin/python3
"""The board tools' two packages, made as ./kit package makes them and used as their readers would.

SourcePackage: board-tools-<version>-src.tar.gz builds alone with the ARM toolchain file it holds,
linked dynamically so that the simulated drivers' LD_PRELOAD shims reach the tools, and both pass
their black-box tests under qemu-arm; the board SDK's toolchain file, pointed at Debian's ARM
compiler, builds the two tools and nothing else, from the package and from the tree.
BinaryPackage: board-tools-<version>-armv5te.tar.gz, made by CPack from the ARM build, holds static
stripped ARM programs that pass their black-box tests under qemu-arm.
Both hold the kit's changelog.

  KIT_SOURCE_DIR  the tree     KIT_VERSION  the version     KIT_ARM_BUILD  the ARM build folder
"""
import os
import subprocess
import sys
import tarfile
import tempfile
import unittest

TREE, VERSION, ARM_BUILD = (os.environ[k] for k in ("KIT_SOURCE_DIR", "KIT_VERSION", "KIT_ARM_BUILD"))
EMULATOR = "qemu-arm -L /usr/arm-linux-gnueabi"
TOOLS = ["uboot-eeprom", "uboot-nand"]


def run(*argv, **kw):
    done = subprocess.run(argv, capture_output=True, text=True, **kw)
    if done.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(argv), done.stdout[-3000:], done.stderr[-3000:]))
    return done.stdout


class Packages(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="board-tools-package-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def unpack(self, name):
        with tarfile.open(os.path.join(self.dir, name + ".tar.gz")) as archive:
            archive.extractall(self.dir)
        return os.path.join(self.dir, name)

    def build(self, source, folder, toolchain, *settings):
        """The two tools, and nothing else, built as ARM programs; their kinds as file names them."""
        build = os.path.join(self.dir, folder)
        # Through ccache when ./kit asks for it, with paths relative to the scratch folder: the next run
        # of this test, in another scratch folder, compiles alike and takes the objects from the cache.
        env = dict(os.environ, CCACHE_BASEDIR=self.dir)
        run("cmake", "-S", source, "-B", build, "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, toolchain), *settings,
            env=env)
        run("cmake", "--build", build, "-j", "2", env=env)
        return self.assertTools(os.path.join(build, "bin"))

    def assertTools(self, folder):
        self.assertEqual(sorted(os.listdir(folder)), TOOLS)
        kinds = [run("file", "-b", os.path.join(folder, tool)) for tool in TOOLS]
        for kind in kinds:
            self.assertIn("ARM", kind)
        return folder, kinds

    def assertChangelog(self, top):
        """The kit's changelog, the same in every package."""
        with open(os.path.join(top, "changelog"), encoding="utf-8") as packaged, \
                open(os.path.join(TREE, "docs", "changelog"), encoding="utf-8") as source:
            self.assertEqual(packaged.read(), source.read())

    def assertBlackBoxTestsPass(self, folder):
        """Both tools' own black-box tests under qemu-arm, with the ARM build's shims."""
        shims = os.path.join(ARM_BUILD, "lib")
        run(sys.executable, os.path.join(TREE, "device/nand/uboot_nand_test.py"),
            env=dict(os.environ, UBOOT_NAND=os.path.join(folder, "uboot-nand"), KIT_EMULATOR=EMULATOR,
                     MTD_SHIM=os.path.join(shims, "libmtd_shim.so")))
        run(sys.executable, os.path.join(TREE, "device/eeprom/uboot_eeprom_test.py"), "--emulator", EMULATOR,
            "--tool", os.path.join(folder, "uboot-eeprom"), "--shim", os.path.join(shims, "libsim_boarddrv_shim.so"))


class SourcePackage(Packages):
    def test_builds_alone_with_either_toolchain_file(self):
        run("cmake", "-DKIT_SOURCE_DIR=" + TREE, "-DKIT_VERSION=" + VERSION, "-DKIT_PACKAGE_DIR=" + self.dir,
            "-P", os.path.join(TREE, "cmake/source-package.cmake"))
        source = self.unpack("board-tools-%s-src" % VERSION)
        self.assertChangelog(source)
        arm, kinds = self.build(source, "arm", "cmake/arm-linux-gnueabi.cmake")
        for kind in kinds:
            self.assertIn("dynamically linked", kind)  # or the shim cases would be skipped
        self.assertBlackBoxTestsPass(arm)
        self.build(source, "sdk", "cmake/board-sdk.cmake", "-DKIT_SDK_PREFIX=arm-linux-gnueabi-")

    def test_board_sdk_toolchain_file_builds_the_tools_alone_from_the_tree(self):
        self.build(TREE, "tree", "cmake/board-sdk.cmake", "-DKIT_SDK_PREFIX=arm-linux-gnueabi-")
        libraries = os.listdir(os.path.join(self.dir, "tree", "lib"))
        self.assertEqual([name for name in libraries if name.endswith(".so")], [])  # no C++17 shims


class BinaryPackage(Packages):
    def test_static_stripped_tools_pass_their_tests(self):
        run("cpack", "--config", os.path.join(ARM_BUILD, "CPackConfig.cmake"), "-B", self.dir)
        top = self.unpack("board-tools-%s-armv5te" % VERSION)
        self.assertChangelog(top)
        tools, kinds = self.assertTools(os.path.join(top, "bin"))
        for tool, kind in zip(TOOLS, kinds):
            for word in ("EABI5", "statically linked", ", stripped"):
                self.assertIn(word, kind)
            print("%s: %d bytes" % (tool, os.path.getsize(os.path.join(tools, tool))))
        self.assertBlackBoxTestsPass(tools)


if __name__ == "__main__":
    unittest.main(verbosity=2)
