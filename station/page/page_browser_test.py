#!/usr/bin/python3
"""The station's page in Debian's Chromium, headless, driven by Selenium: four boards of page_feed
go through their steps (one fails step 2 once and is retried, one fails for good with markup in its
words, one prints HTML markup on its console); the tiles follow without a reload, within 250 ms;
the markup shows as text and runs nothing; the yield page's counts and failing-step chart equal the
ledger's; the CSV the runs page links to equals brenlofix-ledger runs --csv; a screenshot of the jig
goes into the build folder; a station that stops and starts again is found again by the open page.

    page_browser_test.py PAGE_FEED BRENLOFIX_LEDGER BUILD_DIR
"""
import csv
import io
import os
import statistics
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "testing"))
sys.path.insert(0, HERE)
import page_fixture  # noqa: E402
from page_api_test import expected_yield, fill  # noqa: E402

FEED = LEDGER = BUILD = None
MARKUP = '<script>window.hacked = "script"</script><img src="x" onerror="window.hacked = \'img\'">'


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                     "--user-data-dir=" + profile, "--window-size=1700,1100"]:
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class PageInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="page-browser-")
        cls.ledger = page_fixture.Ledger(LEDGER, cls.tmp.name)
        cls.today, cls.earlier = fill(cls.ledger)
        cls.feed = page_fixture.Feed(FEED, "--ledger", cls.ledger.url, "--station", "line-1",
                                     "--ports", "rfc2217://10.0.0.7:7001,COM4,/dev/ttyUSB2,COM6")
        cls.ports = ["rfc2217://10.0.0.7:7001", "COM4", "/dev/ttyUSB2", "COM6"]
        cls.driver = browser(os.path.join(cls.tmp.name, "profile"))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.feed.stop()
        cls.tmp.cleanup()

    def wait(self, condition, timeout=10):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.02).until(lambda driver: condition())

    def tile(self, port):
        return self.driver.execute_script(
            "const t = document.querySelector('.tile[data-port=\"' + CSS.escape(arguments[0]) + '\"]');"
            "return t ? {state: t.dataset.state, text: t.innerText, seen: (window.seenAt || {})[arguments[0]] || 0} : null;",
            port)

    def test_jig_board_yield_and_runs(self):
        d = self.driver
        d.get(self.feed.address)
        self.wait(lambda: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 4)
        self.assertEqual([t.get_attribute("data-port") for t in d.find_elements(By.CSS_SELECTOR, ".tile")], self.ports)
        self.assertIn("Waiting for a board", self.tile("COM4")["text"])
        # Each tile's last change, stamped in the page; the page is never loaded again.
        d.execute_script("""
            window.notReloaded = true; window.seenAt = {};
            new MutationObserver((changes) => {
              for (const c of changes) for (const n of c.addedNodes)
                if (n.dataset && n.dataset.port) window.seenAt[n.dataset.port] = Date.now();
            }).observe(document.getElementById('tiles'), {childList: true});""")

        a, b, c, dd = self.ports
        identity = {"read": None, "programmed": {"mac": "02:1B:4D:00:10:2A", "serial": "QV4N1501000042"},
                    "source": "pool"}
        waits = []

        def send(port, expect, **board):
            sent = time.time()
            self.feed.board(**page_fixture.board(port, **board))
            self.wait(lambda: expect in self.tile(port)["text"])
            waits.append(self.tile(port)["seen"] / 1000.0 - sent)

        # Every board through its steps; board B fails step 2 once and takes it again.
        done = {port: [] for port in self.ports}
        self.feed.console(dd, "U-Boot 1.3.4\n" + MARKUP + "\n=> ", clear=True)
        for step in range(9):
            for port in self.ports:
                if port == c and step > 5:
                    continue
                name = page_fixture.STEPS[step]
                common = dict(steps=8, identity=identity, started="2026-12-08T09:00:00.000Z", elapsedSeconds=step * 10,
                              leftSeconds=(8 - step) * 10)
                if port == b and step == 2:
                    send(port, "Attempt 1", state="running", step=step, stepName=name, bytes=4000, total=16000,
                         stepsDone=list(done[port]), **common)
                    send(port, "Attempt 2 · 1 retry", state="running", step=step, stepName=name, attempt=2,
                         retries=1, stepsDone=list(done[port]), **common)
                    self.assertIn("Step 2 of 8: UploadFlasher", self.tile(port)["text"])
                    continue
                if port == c and step == 5:
                    send(port, "Failed at step 5: UploadKernel", state="failed", step=step, stepName=name,
                         words="TFTP: <b>Retry</b> count exceeded", stepsDone=list(done[port]), **common)
                    continue
                send(port, "Step %d of 8: %s" % (step, name), state="running", step=step, stepName=name,
                     bytes=8000, total=16000, stepsDone=list(done[port]), **common)
                done[port].append({"step": step, "name": name, "seconds": 1.0, "result": "succeeded"})
            if step == 5:
                d.save_screenshot(os.path.join(BUILD, "page_jig.png"))  # three running, one failed
        for port in (a, b, dd):
            send(port, "Succeeded", state="succeeded", step=8, steps=8, stepName="UpdateKernelPackages",
                 identity=identity, stepsDone=done[port], elapsedSeconds=90, leftSeconds=0,
                 retries=1 if port == b else 0)
        self.assertTrue(d.execute_script("return window.notReloaded === true"))
        self.assertEqual({p: self.tile(p)["state"] for p in self.ports},
                         {a: "succeeded", b: "succeeded", c: "failed", dd: "succeeded"})
        failed = self.tile(c)["text"]
        self.assertIn("TFTP: <b>Retry</b> count exceeded", failed)  # the words as written, not bold
        self.assertIn("1 retry", self.tile(b)["text"])
        self.assertIn("serial QV4N1501000042, MAC 02:1B:4D:00:10:2A (from the pools)", self.tile(a)["text"])
        self.assertLess(statistics.median(waits), 0.25, waits)
        print("from a board change to its tile: median %.0f ms, 99th percentile %.0f ms over %d changes"
              % (1000 * statistics.median(waits), 1000 * sorted(waits)[int(0.99 * (len(waits) - 1))], len(waits)),
              file=sys.stderr)

        # The board whose console printed markup: shown as text, nothing run.
        d.find_element(By.LINK_TEXT, dd).click()
        self.wait(lambda: "=> " in d.find_element(By.ID, "console").text)
        self.assertIn(MARKUP, d.find_element(By.ID, "console").text)
        self.feed.console(dd, "\n" + MARKUP + " again")
        self.wait(lambda: "again" in d.find_element(By.ID, "console").text)
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#console *, main script, main img"), [])
        time.sleep(0.5)
        self.assertIsNone(d.execute_script("return window.hacked"))
        self.assertEqual(d.execute_script("return document.querySelectorAll('#steps tbody tr').length"), 9)

        # The yield: today's counts and the failing steps' chart, as the ledger has them.
        d.get(self.feed.address + "yield?from=%s&to=%s" % (self.earlier, self.today))
        self.wait(lambda: d.execute_script("return document.body.dataset.loaded === '1'"))
        want = expected_yield(self.ledger.records, self.earlier, self.today)
        shown = {row.find_element(By.TAG_NAME, "th").text: row.find_element(By.TAG_NAME, "td").text
                 for row in d.find_elements(By.CSS_SELECTOR, "#summary tr")}
        self.assertEqual((shown["Started"], shown["Succeeded"], shown["Failed"]),
                         (str(want["started"]), str(want["succeeded"]), str(want["failed"])))
        self.assertEqual(shown["First-pass yield"], "%.1f %%" % (100 * want["firstPassYield"]))
        bars = d.execute_script("return [...document.querySelectorAll('#pareto-chart .bar-item')]"
                                ".map((g) => [g.dataset.label, Number(g.dataset.value)])")
        self.assertEqual(dict(bars), want["failuresByStep"])
        self.assertEqual([v for _, v in bars], sorted(want["failuresByStep"].values(), reverse=True))
        table = [[td.text for td in row.find_elements(By.TAG_NAME, "td")[:2]]
                 for row in d.find_elements(By.CSS_SELECTOR, "#pareto tbody tr")]
        self.assertEqual(table, [[label, str(value)] for label, value in bars])

        # The runs page: a search, and its CSV link gives the ledger's own CSV for that search.
        d.get(self.feed.address + "runs?port=B&since=2000-01-01")
        self.wait(lambda: d.execute_script("return document.body.dataset.loaded === '1'"))
        rows = d.find_elements(By.CSS_SELECTOR, "#runs tbody tr")
        expected = self.ledger.run("runs", "--since", "2000-01-01", "--port", "B", "--csv")
        runs = [row["Run"] for row in csv.DictReader(io.StringIO(expected))]
        self.assertEqual([r.get_attribute("data-run") for r in rows], list(reversed(runs)))
        downloaded = d.execute_async_script(
            "fetch(document.getElementById('csv').href).then((r) => r.text()).then(arguments[0])")
        self.assertEqual(downloaded, expected)

        # The station stops and starts again at the same address: the jig connects again by itself.
        d.get(self.feed.address)
        self.wait(lambda: len(d.find_elements(By.CSS_SELECTOR, ".tile")) == 4)
        d.execute_script("window.notReloaded = true")
        listen = self.feed.address[len("http://"):].rstrip("/")
        self.feed.stop()
        self.wait(lambda: "Reconnecting" in d.find_element(By.ID, "live").text)
        type(self).feed = page_fixture.Feed(FEED, "--listen", listen, "--ports", "COM9")
        self.feed.board(**page_fixture.board("COM9", "running", 1, "BackupIdentity"))
        self.wait(lambda: self.tile("COM9") and "Step 1 of 8: BackupIdentity" in self.tile("COM9")["text"], 20)
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, ".tile")), 1)
        self.assertEqual(d.find_element(By.ID, "live").text, "Live")
        self.assertTrue(d.execute_script("return window.notReloaded === true"))


if __name__ == "__main__":
    FEED, LEDGER, BUILD = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
