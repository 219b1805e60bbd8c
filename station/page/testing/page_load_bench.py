#!/usr/bin/python3
"""How the page serves a full station: page_feed with 32 boards, each changing four times a second
(what a station's progress events give at most), and five browsers' event streams open. Prints the
time from a board change handed to the page to its arrival in each stream (median, 99th
percentile) and the CPU time the page's process spent.

    page_load_bench.py PAGE_FEED [SECONDS]
"""
import json
import os
import statistics
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import page_fixture  # noqa: E402

BOARDS, STREAMS, RATE = 32, 5, 4


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    feed_program = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
    ports = ["rfc2217://127.0.0.1:%d" % (7001 + n) for n in range(BOARDS)]
    feed = page_fixture.Feed(feed_program, "--ports", ",".join(ports))
    sent = {}  # (port, sequence) -> time handed to the page
    waits = []
    lock = threading.Lock()

    def stream():
        answer = urllib.request.urlopen(feed.address + "events", timeout=60)
        kind = None
        try:
            for raw in answer:
                line = raw.decode().rstrip("\n")
                if line.startswith("event: "):
                    kind = line[7:]
                elif line.startswith("data: ") and kind == "board":
                    now = time.monotonic()
                    board = json.loads(line[6:])
                    with lock:
                        start = sent.get((board["port"], board["bytes"]))
                        if start is not None:
                            waits.append(now - start)
        except (OSError, ValueError, AttributeError):
            pass

    for _ in range(STREAMS):
        threading.Thread(target=stream, daemon=True).start()
    time.sleep(1)
    cpu_before = cpu_seconds(feed.process.pid)
    begin = time.monotonic()
    sequence = 0
    while time.monotonic() - begin < seconds:
        tick = time.monotonic()
        for port in ports:
            sequence += 1
            board = page_fixture.board(port, "running", 5, "UploadKernel", bytes=sequence, total=10 ** 9)
            with lock:
                sent[(port, sequence)] = time.monotonic()
            feed.process.stdin.write("board " + json.dumps(board) + "\n")
        feed.process.stdin.flush()
        for _ in ports:
            feed.expect("ok")
        time.sleep(max(0, 1.0 / RATE - (time.monotonic() - tick)))
    time.sleep(1)
    cpu = cpu_seconds(feed.process.pid) - cpu_before
    elapsed = time.monotonic() - begin
    feed.stop()
    waits.sort()
    print("%d boards changing %d times a second, %d event streams, %.0f s: %d changes, %d deliveries"
          % (BOARDS, RATE, STREAMS, elapsed, sequence, len(waits)))
    print("change to stream: median %.1f ms, 99th percentile %.1f ms, most %.1f ms"
          % (1000 * statistics.median(waits), 1000 * waits[int(0.99 * (len(waits) - 1))], 1000 * waits[-1]))
    print("the page's process: %.2f s of CPU in %.0f s (%.1f %% of a core)" % (cpu, elapsed, 100 * cpu / elapsed))


if __name__ == "__main__":
    main()
