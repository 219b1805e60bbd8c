#!/usr/bin/python3
"""gzip_file.py INPUT OUTPUT: INPUT gzipped as Debian installs documents (gzip -9n: the best
compression, no name or time stamp in the header, so that the same text makes the same bytes)."""
import gzip
import sys


def write_gzipped(data, output):
    with open(output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, compresslevel=9,
                                                 mtime=0) as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: gzip_file.py INPUT OUTPUT")
    with open(sys.argv[1], "rb") as f:
        write_gzipped(f.read(), sys.argv[2])
