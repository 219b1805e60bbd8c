#!/usr/bin/python3
"""The Linux station package, made as ./kit package makes it (a Release build of its own without
tests and board tools, then CPack's DEB generator), and used as a station PC would:
  - its control data names the package, its version and the libraries dpkg-shlibdeps found;
  - it holds BrenloFix, devsim, brenlofix-station, brenlofix-ledger and the guides under /usr,
    nothing else;
  - unpacked into a scratch root, BrenloFix -h prints its help and ends with status 0, devsim writes
    the images, brenlofix-ledger makes a ledger beside the records, and brenlofix-station finds the
    BrenloFix and the brenlofix-ledger beside it, takes the ledger's first identity for its board,
    reads the run's record and gives the identity back to the pool, where it is handed out again;
  - apt, asked to simulate `apt install ./package.deb`, finds every dependency on this Debian.

  station_package_test.py SOURCE_DIR VERSION
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TREE, VERSION = sys.argv[1], sys.argv[2]
FILES = ["./etc/brenlofix-station.conf", "./usr/bin/BrenloFix", "./usr/bin/brenlofix-ledger",
         "./usr/bin/brenlofix-station", "./usr/bin/devsim", "./usr/lib/systemd/system/brenlofix-station.service",
         "./usr/lib/sysusers.d/brenlofix-station.conf", "./usr/share/doc/brenlofix-station/copyright", "./usr/share/doc/brenlofix-station/devsim.md",
         "./usr/share/doc/brenlofix-station/operator-guide.md"]


def run(*argv, **kw):
    done = subprocess.run(argv, capture_output=True, text=True, **kw)
    if done.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(argv), done.stdout[-3000:], done.stderr[-3000:]))
    return done.stdout


class StationPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="station-package-")
        build = os.path.join(cls.tmp.name, "build")
        run("cmake", "-S", TREE, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DKIT_TESTS=OFF", "-DKIT_DEVICE=OFF")
        run("cmake", "--build", build, "-j2")
        run("cpack", cwd=build)
        packages = os.path.join(build, "packages")
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
        depends = [d.split(" ")[0] for d in fields["Depends"].split(", ")]
        for library in ("libc6", "libstdc++6", "libsqlite3-0", "libpq5"):
            self.assertIn(library, depends)

    def test_contents(self):
        listed = [line.split()[-1] for line in run("dpkg-deb", "-c", self.deb).splitlines()]
        self.assertEqual(sorted(f for f in listed if not f.endswith("/")), FILES)
        self.assertNotIn("debug_info", run("file", os.path.join(self.root, "usr/bin/BrenloFix")))

    def test_the_programs_run_from_the_package(self):
        bin_dir = os.path.join(self.root, "usr", "bin")
        done = subprocess.run([os.path.join(bin_dir, "BrenloFix"), "-h"], input=b"", capture_output=True,
                              cwd=self.tmp.name, timeout=60)
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"Usage: BrenloFix.exe [arguments]\n", done.stdout)
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
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
