#!/usr/bin/python3
"""The run's events as a station follows them: BrenloFix against devsim over RFC 2217, unattended,
with --events beside --report. The events must tell the same run as the record.

  retried    a blank board whose serial flasher stalls once in step 3: --events FILE; the lines
             are checked against the record afterwards (steps, attempts, the retry from step 2,
             the identity written, the images' sizes and CRCs, the transfers' progress, the end
             with the exit status)
  stopped    a board with the kit's boot loaders and an identity of its own: --events fd:N on a
             pipe read as the run goes; the first progress of the kernel upload is answered with
             SIGTERM, and the events end with step 5 interrupted and the exit status 1

usage: run_events_test.py PATH/TO/BrenloFix PATH/TO/devsim [retried|stopped ...]
"""
import datetime
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zlib

BRENLOFIX, DEVSIM = sys.argv[1], sys.argv[2]
MAC, SERIAL = "02:1B:4D:12:34:56", "QV4N150101ABC"
# The identity U-Boot's built-in environment holds on the simulated board.
OLD_MAC, OLD_SERIAL = "00:0E:99:02:5A:17", "QV4N150107A23"
IMAGES = [("flasher", "sft_DM6446_NAND.bin"), ("ubl", "ubl_DM6446_NAND.bin"),
          ("uboot", "uboot.large.bin"), ("kernel", "uImage")]
FLASHING_STEPS = ["DetectTarget", "BackupIdentity", "UploadFlasher", "FlashBootLoaders",
                  "ProgramEnvironment", "UploadKernel", "MakeKernelClones"]


def start_devsim(work, *options):
    port_file = os.path.join(work, "port")
    # Without the board's device delays: the events, not the board's pace, are what is checked here.
    devsim = subprocess.Popen([DEVSIM, "--port", "0", "--port-file", port_file, "--speed", "0",
                               "--state", os.path.join(work, "board.state")] + list(options),
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.time() + 10
    while not (os.path.exists(port_file) and open(port_file).read().strip()):
        assert devsim.poll() is None, "devsim ended: %s" % devsim.stderr.read().decode()
        assert time.time() < deadline, "devsim did not start listening"
        time.sleep(0.05)
    return devsim, "rfc2217://127.0.0.1:" + open(port_file).read().strip()


def stop(process):
    if process and process.poll() is None:
        process.kill()
        process.wait()


def parse_events(text):
    events = [json.loads(line) for line in text.splitlines()]
    assert text.endswith("\n"), "the last event is not a whole line: %r" % text[-200:]
    last_t = 0.0
    for event in events:
        assert event["v"] == 1, event
        assert event["t"] >= last_t, "time went back: %s" % event
        assert round(event["t"], 3) == event["t"], event
        last_t = event["t"]
        datetime.datetime.strptime(event["time"], "%Y-%m-%dT%H:%M:%S.%fZ")
    return events


def check_images(run_start, work):
    images = run_start["images"]
    assert [(i["name"], i["file"]) for i in images] == IMAGES, images
    for image in images:
        data = open(os.path.join(work, image["file"]), "rb").read()
        assert image["size"] == len(data), image
        assert image["crc32"] == "0x%08x" % zlib.crc32(data), image


def check_steps_against_record(events, record):
    """Every begin has its end before the next begin; tries and results add up as in the record."""
    tries, seconds, last_result, open_try = {}, {}, {}, None
    for event in events:
        if event["event"] == "step-begin":
            assert open_try is None, "step %s began inside %s" % (event, open_try)
            step = event["step"]
            assert event["name"] == FLASHING_STEPS[step], event
            tries[step] = tries.get(step, 0) + 1
            assert event["attempt"] == tries[step], event
            open_try = event
        elif event["event"] == "step-end":
            assert open_try and (event["step"], event["attempt"]) == (open_try["step"], open_try["attempt"]), event
            assert (event["words"] == "") == (event["result"] == "succeeded"), event
            seconds[event["step"]] = seconds.get(event["step"], 0) + event["seconds"]
            assert abs(event["t"] - open_try["t"] - event["seconds"]) < 0.05, (open_try, event)
            last_result[event["step"]] = event["result"]
            open_try = None
        elif event["event"] == "progress":
            assert open_try and event["step"] == open_try["step"], event
    assert open_try is None, "a step never ended: %s" % open_try
    recorded = {s["step"]: s for s in record["steps"]}
    assert sorted(recorded) == sorted(tries), (record["steps"], tries)
    for step, entry in recorded.items():
        assert entry["attempts"] == tries[step], (entry, tries)
        assert entry["result"] == last_result[step], (entry, last_result)
        assert abs(entry["seconds"] - seconds[step]) < 0.01 * tries[step] + 0.002, (entry, seconds[step])


def check_progress(events, sizes):
    """Each transfer's counts grow to its size, at most four a second; sizes: step -> its files' sizes."""
    transfers = []  # (step, [events])
    for event in events:
        if event["event"] == "step-begin":
            current = None
        if event["event"] != "progress":
            continue
        assert 0 < event["bytes"] <= event["total"], event
        if current is None or event["total"] != current[-1]["total"] or event["bytes"] < current[-1]["bytes"] \
                or current[-1]["bytes"] == current[-1]["total"]:
            current = []
            transfers.append((event["step"], current))
        current.append(event)
    by_step = {}
    for step, transfer in transfers:
        by_step.setdefault(step, []).append(transfer[0]["total"])
        assert transfer[-1]["bytes"] == transfer[-1]["total"], "a transfer never told its end: %s" % transfer[-1]
        for before, after in zip(transfer, transfer[1:-1]):
            assert after["t"] - before["t"] >= 0.249, "more than four a second: %s %s" % (before, after)
    for step, totals in by_step.items():
        assert totals == sizes[step] * (len(totals) // len(sizes[step])), (step, totals, sizes)
    return by_step


def retried_run(work):
    devsim = brenlofix = None
    try:
        devsim, url = start_devsim(work, "--fault", "flasher-stall")
        events_path, record_path = os.path.join(work, "events.jsonl"), os.path.join(work, "record.json")
        brenlofix = subprocess.Popen([BRENLOFIX, "-p", url, "-m", MAC, "-s", SERIAL, "--unattended",
                                      "--typing", "echo", "--report", record_path, "--events", events_path],
                                     cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        output = brenlofix.communicate(timeout=600)[0].decode("latin-1")
        status = brenlofix.returncode
    finally:
        stop(brenlofix)
        stop(devsim)
    assert status == 0, "exit status %d:\n%s" % (status, output[-3000:])
    record = json.load(open(record_path))
    events = parse_events(open(events_path, encoding="utf-8").read())
    kinds = [e["event"] for e in events]

    start = events[0]
    assert start["event"] == "run-start" and kinds.count("run-start") == 1, kinds
    assert start["port"] == url and start["unattended"] is True and start["typing"] == "echo", start
    assert start["identity"] == {"given": {"mac": MAC, "serial": SERIAL}, "fallback": None}, start
    assert start["steps"] == [{"step": i, "name": n} for i, n in enumerate(FLASHING_STEPS)], start["steps"]
    check_images(start, work)

    check_steps_against_record(events, record)
    # The identity once step 1 read the blank board, before step 2 begins.
    identity = [e for e in events if e["event"] == "identity"]
    assert identity == [dict(identity[0], read=None, lacked=["mac", "serial"],
                             toProgram={"mac": MAC, "serial": SERIAL}, source="given")], identity
    at = events.index(identity[0])
    assert events[at - 1]["event"] == "step-end" and events[at - 1]["step"] == 1, events[at - 1]
    assert events[at + 1]["event"] == "step-begin" and events[at + 1]["step"] == 2, events[at + 1]

    # The stall fails step 3 once; the run goes back to step 2, told by one retry.
    retries = [i for i, e in enumerate(events) if e["event"] == "retry"]
    assert len(retries) == 1, kinds
    failed, retry, again = events[retries[0] - 1], events[retries[0]], events[retries[0] + 1]
    assert (failed["event"], failed["step"], failed["attempt"], failed["result"]) == \
        ("step-end", 3, 1, "failed"), failed
    assert failed["words"], failed
    assert (retry["step"], retry["attempt"], retry["of"]) == (2, 2, 3), retry
    assert (again["event"], again["step"], again["attempt"]) == ("step-begin", 2, 2), again

    # identity.written in the record: told once, inside step 4.
    assert record["identity"]["written"] is True, record["identity"]
    written = kinds.index("identity-written")
    assert kinds.count("identity-written") == 1, kinds
    begun = [e for e in events[:written] if e["event"] == "step-begin"][-1]
    assert begun["step"] == 4 and events[written + 1]["event"] == "step-end", events[written - 1:written + 2]

    sizes = {name: os.path.getsize(os.path.join(work, f)) for name, f in IMAGES}
    by_step = check_progress(events, {2: [sizes["flasher"]], 3: [sizes["ubl"], sizes["uboot"]],
                                      5: [sizes["kernel"]]})
    assert sorted(by_step) == [2, 3, 5] and len(by_step[2]) == 2 and len(by_step[3]) == 4, by_step

    end = events[-1]
    assert kinds.count("run-end") == 1 and end["event"] == "run-end", kinds[-3:]
    assert (end["result"], end["status"], end["step"]) == (record["result"], status, 6), (end, record["result"])
    assert record["exitStatus"] == status
    print("retried: %d events, %d of them progress; run-end %s" % (len(events), kinds.count("progress"), end))


def stopped_run(work):
    devsim = brenlofix = None
    read_end, write_end = os.pipe()
    try:
        devsim, url = start_devsim(work, "--flashed")
        record_path = os.path.join(work, "record.json")
        brenlofix = subprocess.Popen([BRENLOFIX, "-p", url, "--unattended", "--report", record_path,
                                      "--events", "fd:%d" % write_end],
                                     cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        events, text, stopped_at = [], "", None
        with os.fdopen(read_end, "r", encoding="utf-8") as pipe:
            for line in pipe:  # each event arrives as it happens
                text += line
                event = json.loads(line)
                events.append(event)
                if event["event"] == "progress" and event["step"] == 5 and stopped_at is None:
                    assert event["bytes"] < event["total"], event
                    stopped_at = time.time()
                    brenlofix.send_signal(signal.SIGTERM)
        status = brenlofix.wait(timeout=60)
    finally:
        stop(brenlofix)
        stop(devsim)
    assert stopped_at is not None, "no progress of step 5 came: %s" % [e["event"] for e in events]
    parse_events(text)
    record = json.load(open(record_path))
    assert status == 1 and record["result"] == "interrupted", (status, record["result"])
    assert events[0]["event"] == "run-start" and events[0]["identity"] == {"given": None, "fallback": None}
    assert events[0]["typing"] == "paced", events[0]
    identity = [e for e in events if e["event"] == "identity"]
    assert len(identity) == 1 and identity[0]["read"] == {"mac": OLD_MAC, "serial": OLD_SERIAL}, identity
    assert "lacked" not in identity[0], identity
    assert identity[0]["toProgram"] == identity[0]["read"] and identity[0]["source"] == "kept", identity
    check_steps_against_record(events, record)
    ended, end = events[-2], events[-1]
    assert (ended["event"], ended["step"], ended["result"]) == ("step-end", 5, "interrupted"), ended
    assert "SIGTERM" in ended["words"], ended
    assert (end["event"], end["result"], end["status"], end["step"]) == ("run-end", "interrupted", status, 5), end
    print("stopped: %d events; the last two %s %s" % (len(events), ended, end))


def main():
    # CTest runs each one as a test of its own, side by side; without a name, both.
    runs = {"retried": retried_run, "stopped": stopped_run}
    failures = 0
    for name in sys.argv[3:] or list(runs):
        run = runs[name]
        work = tempfile.mkdtemp(prefix="run-events-")
        try:
            subprocess.run([DEVSIM, "make-images", work], check=True, stdout=subprocess.DEVNULL)
            run(work)
        except AssertionError as error:
            failures += 1
            print("FAIL %s: %s" % (name, error))
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
