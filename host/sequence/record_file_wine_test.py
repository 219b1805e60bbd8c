#!/usr/bin/python3
"""The run's record as the Windows program writes it, under wine: BrenloFix.exe -h --unattended
--report record.json writes its record ("rejected": the help text was asked for) through
record.json.tmp. Two folders:
  fresh     nothing there before: the record is written, no record.json.tmp is left;
  leftover  a record.json.tmp a killed run left, half written: replaced, the record written whole.
(A link planted as record.json.tmp cannot be tried here: wine 8 shows a POSIX symbolic link as
the file it points to, not as a reparse point, so deleting it deletes that file; Windows' DeleteFile
removes the link itself.)

usage: record_file_wine_test.py PATH/TO/BrenloFix.exe WINEPREFIX
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

EXE, PREFIX = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])


def run(folder):
    env = dict(os.environ, WINEDEBUG="-all", WINEPREFIX=PREFIX)
    done = subprocess.run(["wine", EXE, "-h", "--unattended", "--report", "record.json"], cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=300)
    return done.returncode, done.stdout.decode("latin-1")


def read_record(folder):
    with open(os.path.join(folder, "record.json")) as f:
        return json.load(f)


def main():
    work = tempfile.mkdtemp(prefix="record-file-wine-")
    try:
        for case in ("fresh", "leftover"):
            folder = os.path.join(work, case)
            os.makedirs(folder)
            temporary = os.path.join(folder, "record.json.tmp")
            if case == "leftover":
                with open(temporary, "wb") as f:
                    f.write(b"{\"result\": \"running\", half a rec")
            status, shown = run(folder)
            assert not os.path.lexists(temporary), "%s: record.json.tmp left" % case
            assert status == 0, "%s: exit status %d:\n%s" % (case, status, shown[-2000:])
            record = read_record(folder)
            assert record["result"] == "rejected", record
            assert not os.path.islink(os.path.join(folder, "record.json")), case
            print("%s: record written (%s)" % (case, record["result"]))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
