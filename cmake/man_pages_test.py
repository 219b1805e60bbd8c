#!/usr/bin/python3
"""The manual pages as the station package installs them, against their programs:
  - the options a page documents are the options its program's --help names, no more and no fewer
    (an option added to a program and not to its page fails here);
  - man renders each gzipped page without a warning, its NAME line as whatis reads it and every
    option in the text.

  man_pages_test.py SOURCE_DIR PAGES_DIR PROGRAM=PATH...
"""
import os
import subprocess
import sys
import unittest

TREE, PAGES = sys.argv[1], sys.argv[2]
PROGRAMS = dict(arg.split("=", 1) for arg in sys.argv[3:])
sys.path.insert(0, os.path.join(TREE, "cmake"))
from man_page import OPTION, Page  # noqa: E402


def help_text(program):
    """What the program prints for --help (BrenloFix: -h, which waits for a key: given none)."""
    flag = "-h" if program == "BrenloFix" else "--help"
    done = subprocess.run([PROGRAMS[program], flag], input=b"", capture_output=True, timeout=60)
    text = (done.stdout + done.stderr).decode("utf-8", "replace")
    if done.returncode != 0 or "Usage" not in text.replace("usage", "Usage"):
        raise AssertionError("%s %s ended with %d:\n%s" % (program, flag, done.returncode, text))
    return text


def page(program):
    with open(os.path.join(TREE, "docs", "man", program + ".txt"), encoding="utf-8") as f:
        return Page(f.read())


class ManPages(unittest.TestCase):
    def test_every_program_has_its_page(self):
        self.assertEqual(sorted(PROGRAMS), ["BrenloFix", "brenlofix-ledger", "brenlofix-station", "devsim"])
        self.assertEqual(sorted(os.listdir(PAGES)), sorted(p + ".1.gz" for p in PROGRAMS))

    def test_a_page_documents_the_options_its_program_names(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                named = set(OPTION.findall(help_text(program)))
                documented = page(program).options()
                self.assertGreater(len(named), 3, "%s --help names no options" % program)
                self.assertEqual(sorted(named - documented), [], "in --help, not on the page")
                self.assertEqual(sorted(documented - named), [], "on the page, not in --help")

    def test_man_renders_each_page(self):
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MAN_KEEP_FORMATTING="", MANROFFSEQ="")
        for program in PROGRAMS:
            with self.subTest(program=program):
                path = os.path.join(PAGES, program + ".1.gz")
                # As lintian checks a page: every warning groff or man gives is a fault.
                checked = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", path],
                                         env=env, capture_output=True, text=True, timeout=60)
                self.assertEqual((checked.returncode, checked.stderr), (0, ""))
                shown = subprocess.run(["man", "-l", path], env=env, capture_output=True, text=True, timeout=60)
                self.assertEqual(shown.returncode, 0, shown.stderr)
                text = shown.stdout.replace("\u2010", "-")
                source = page(program)
                self.assertIn("%s - %s" % (program, source.summary.split()[0]), " ".join(text.split()))
                self.assertEqual(set(OPTION.findall(text)) >= source.options(), True,
                                 sorted(source.options() - set(OPTION.findall(text))))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
