#!/usr/bin/python3
"""The Linux station package, made as ./kit package makes it (CPack's DEB generator on a release
build with Debian's build flags, without tests and board tools: the one ./kit test made, or a build
of its own), and used as a station PC would:
  - its control data names the package, its version (docs/changelog's newest) and the libraries
    dpkg-shlibdeps found;
  - it holds BrenloFix, devsim, brenlofix-station, brenlofix-ledger, their manual pages, the guides,
    the changelog and the copyright file under /usr, nothing else;
  - lintian finds no error and no warning in it; its programs are stripped, and hardened as Debian's
    build flags make them (stack protector, fortified calls, relro, bind now);
  - unpacked into a scratch root, BrenloFix -h prints its help and ends with status 0, devsim writes
    the images, brenlofix-ledger makes a ledger beside the records, and brenlofix-station finds the
    BrenloFix and the brenlofix-ledger beside it, takes the ledger's first identity for its board,
    reads the run's record and gives the identity back to the pool, where it is handed out again;
  - apt, asked to simulate `apt install ./package.deb`, finds every dependency on this Debian.

  station_package_test.py SOURCE_DIR VERSION [BUILD_DIR]
"""
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TREE, VERSION = sys.argv[1], sys.argv[2]
BUILD = sys.argv[3] if len(sys.argv) > 3 else ""
PROGRAMS = ["BrenloFix", "brenlofix-ledger", "brenlofix-station", "devsim"]
FILES = sorted(["./usr/bin/" + p for p in PROGRAMS] + ["./usr/share/man/man1/%s.1.gz" % p for p in PROGRAMS] +
               ["./usr/share/doc/brenlofix-station/" + f
                for f in ("changelog.Debian.gz", "copyright", "devsim.md", "operator-guide.md")] +
               ["./usr/share/lintian/overrides/brenlofix-station", "./etc/brenlofix-station.conf",
                 "./usr/lib/systemd/system/brenlofix-station.service",
                 "./usr/lib/sysusers.d/brenlofix-station.conf"])
# The tags the package overrides, each for a reason its overrides file gives.
OVERRIDDEN = ["initial-upload-closes-no-bugs", "non-standard-file-perm 0600 != 0644 [etc/brenlofix-station.conf]"]
COMPILED = ["BrenloFix", "brenlofix-ledger", "brenlofix-station", "devsim"]


def run(*argv, **kw):
    done = subprocess.run(argv, capture_output=True, text=True, **kw)
    if done.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(argv), done.stdout[-3000:], done.stderr[-3000:]))
    return done.stdout


class StationPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="station-package-")
        packages = os.path.join(cls.tmp.name, "packages")
        build = BUILD
        if not build:
            build = os.path.join(cls.tmp.name, "build")
            run("cmake", "-S", TREE, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DKIT_DEBIAN_FLAGS=ON",
                "-DKIT_TESTS=OFF", "-DKIT_DEVICE=OFF")
            run("cmake", "--build", build, "-j2")
        run("cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", packages, cwd=cls.tmp.name)
        debs = [f for f in os.listdir(packages) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(packages, debs[0])
        cls.root = os.path.join(cls.tmp.name, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_control_data(self):
        arch = run("dpkg", "--print-architecture").strip()
        self.assertEqual(os.path.basename(self.deb), "brenlofix-station_%s-1_%s.deb" % (VERSION, arch))
        fields = dict(line.split(": ", 1) for line in run("dpkg-deb", "-f", self.deb, "Package", "Version",
                                                          "Depends").splitlines())
        self.assertEqual((fields["Package"], fields["Version"]), ("brenlofix-station", VERSION + "-1"))
        with open(os.path.join(TREE, "docs", "changelog"), encoding="utf-8") as f:
            changelog = f.read()
        self.assertTrue(changelog.startswith("brenlofix-station (%s) " % fields["Version"]), changelog[:80])
        depends = [d.split(" ")[0] for d in fields["Depends"].split(", ")]
        for library in ("libc6", "libstdc++6", "libsqlite3-0", "libpq5"):
            self.assertIn(library, depends)

    def test_contents(self):
        listed = [line.split()[-1] for line in run("dpkg-deb", "-c", self.deb).splitlines()]
        self.assertEqual(sorted(f for f in listed if not f.endswith("/")), FILES)
        doc = os.path.join(self.root, "usr/share/doc/brenlofix-station")
        with gzip.open(os.path.join(doc, "changelog.Debian.gz"), "rt", encoding="utf-8") as packaged, \
                open(os.path.join(TREE, "docs", "changelog"), encoding="utf-8") as source:
            self.assertEqual(packaged.read(), source.read())
        # The copyright file in Debian's format, the license's words as LICENSE has them.
        with open(os.path.join(doc, "copyright"), encoding="utf-8") as f:
            copyright_file = f.read()
        with open(os.path.join(TREE, "LICENSE"), encoding="utf-8") as f:
            license_lines = [line for line in f.read().splitlines()[4:] if line]
        self.assertTrue(copyright_file.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                                                  "copyright-format/1.0/\n"))
        self.assertIn("\nLicense: Expat\n", copyright_file)
        self.assertEqual([line for line in copyright_file.splitlines() if line[1:] in license_lines],
                         [" " + line for line in license_lines])

    def test_lintian_finds_no_error_and_no_warning(self):
        done = subprocess.run(["lintian", "--fail-on", "error,warning", "--tag-display-limit", "0", self.deb],
                              capture_output=True, text=True, timeout=600)
        faults = [line for line in done.stdout.splitlines() if line.startswith(("E:", "W:"))]
        self.assertEqual((done.returncode, faults), (0, []), done.stdout + done.stderr)
        # No tag silenced but the ones known here, each with its reason.
        with open(os.path.join(self.root, "usr/share/lintian/overrides/brenlofix-station"), encoding="utf-8") as f:
            lines = [line for line in f.read().splitlines() if line and not line.startswith("#")]
        self.assertEqual(lines, ["brenlofix-station: " + tag for tag in OVERRIDDEN])

    def test_programs_are_stripped_and_hardened(self):
        for program in COMPILED:
            with self.subTest(program=program):
                path = os.path.join(self.root, "usr/bin", program)
                kind = run("file", "-b", path)
                self.assertIn(", stripped", kind)
                self.assertNotIn("debug_info", kind)
                self.assertNotRegex(run("readelf", "-SW", path), r"\] \.comment |\] \.note ")
                dynamic = run("readelf", "-dW", path)
                self.assertRegex(dynamic, r"\(FLAGS\)\s+BIND_NOW|\(FLAGS_1\)\s+Flags: NOW")
                self.assertIn("GNU_RELRO", run("readelf", "-lW", path))
                imported = run("nm", "-D", "--undefined-only", path)
                self.assertIn("__stack_chk_fail", imported)
                self.assertRegex(imported, r"__\w+_chk\b(?<!__stack_chk)")  # a fortified call

    def test_the_programs_run_from_the_package(self):
        bin_dir = os.path.join(self.root, "usr", "bin")
        done = subprocess.run([os.path.join(bin_dir, "BrenloFix"), "-h"], input=b"", capture_output=True,
                              cwd=self.tmp.name, timeout=60)
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"Usage: BrenloFix.exe [arguments]\n", done.stdout)
        self.assertIn(b"\nVersion: %s, " % VERSION.encode(), done.stdout)  # the packages' version
        self.assertIn(b"--unattended", done.stdout)
        images = os.path.join(self.tmp.name, "images")
        os.mkdir(images)
        run(os.path.join(bin_dir, "devsim"), "make-images", images)
        # A ledger beside the records (here the images folder), which the station uses by itself.
        ledger = [os.path.join(bin_dir, "brenlofix-ledger"), "--ledger",
                  "sqlite:" + os.path.join(images, "ledger.sqlite")]
        run(*ledger, "init")
        run(*ledger, "add-macs", "02:1B:4D:00:00:10", "02:1B:4D:00:00:1F")
        run(*ledger, "add-serials", "QV4N1501", "000100", "000199")
        # The station finds the BrenloFix and the ledger beside it; a port that does not exist fails at
        # once, and the pair reserved for its board goes back to the pool.
        done = subprocess.run([os.path.join(bin_dir, "brenlofix-station"), "--listen", "127.0.0.1:0", "--images", images,
                               "--board", "/dev/no-such-station-port"], capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("/dev/no-such-station-port: ledger: Run 1: 02:1B:4D:00:00:10 back in the pool, "
                      "QV4N1501000100 back in the pool.", done.stdout)
        [name] = [f for f in os.listdir(images) if f.startswith("record-dev_no_such_station_port-")]
        with open(os.path.join(images, name), encoding="utf-8") as f:
            record = json.load(f)
        self.assertEqual((record["result"], record["failedStep"]), ("failed", "BackupIdentity"))
        self.assertEqual(run(*ledger, "reserve"), "2 02:1B:4D:00:00:10,QV4N1501000100\n")

    @unittest.skipUnless(shutil.which("apt-get"), "no apt")
    def test_apt_finds_every_dependency(self):
        out = run("apt-get", "install", "--simulate", "-o", "Debug::NoLocking=1", self.deb)
        self.assertIn("brenlofix-station", out)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
