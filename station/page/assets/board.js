// One board (/board/PORT) or one run (/run/N): its tile, step table beside the station's medians,
// its console (live while it runs, from the station's capture once it ended), its record and the
// earlier runs of the same board.
"use strict";

(function () {
  const path = location.pathname;
  const runNumber = path.startsWith("/run/") ? Number(path.slice(5)) : null;
  let port = runNumber === null ? decodeURIComponent(path.slice("/board/".length)) : null;
  let board = null;
  let medians = new Map();
  let shownRun = null;
  let record = null;

  const consoleText = document.getElementById("console");
  let consoleBytes = 0, consoleBusy = false, consoleAgain = false, consoleStarted = null;

  // The console from the last byte shown on, one request at a time.
  async function fetchConsole() {
    if (port === null) return;
    if (consoleBusy) {
      consoleAgain = true;
      return;
    }
    consoleBusy = true;
    try {
      do {
        consoleAgain = false;
        const part = await Page.getJson("/api/console?port=" + encodeURIComponent(port) + "&from=" + consoleBytes);
        if (part.from === consoleBytes && part.text) {
          consoleText.append(part.text);
          consoleBytes = part.next;
          consoleText.scrollTop = consoleText.scrollHeight;
        }
      } while (consoleAgain);
    } catch (error) {
      Page.problem(String(error.message || error));
    }
    consoleBusy = false;
  }

  // An ended run's console, from the capture the station kept of it (none: no console section).
  async function showEndedConsole(number) {
    let from = 0;
    try {
      for (;;) {
        const part = await Page.getJson("/api/console?run=" + number + "&from=" + from);
        if (!part.text || part.next <= from) break;
        consoleText.append(part.text);
        from = part.next;
      }
    } catch (error) {
      document.getElementById("console-section").hidden = true;
    }
  }

  function stepRows(steps) {
    const body = document.querySelector("#steps tbody");
    body.replaceChildren();
    for (const step of steps || []) {
      const median = medians.get(step.step + " " + step.name);
      body.append(Page.el("tr", {},
        Page.el("td", {}, step.step), Page.el("td", {}, step.name), Page.el("td", {}, step.result),
        Page.el("td", {}, step.attempts === undefined ? "" : step.attempts),
        Page.el("td", {}, typeof step.seconds === "number" ? step.seconds.toFixed(1) : ""),
        Page.el("td", {}, median === undefined ? "–" : median.toFixed(1))));
    }
  }

  function facts(table, pairs) {
    table.replaceChildren();
    for (const [name, value] of pairs) {
      table.append(Page.el("tr", {}, Page.el("th", {}, name), Page.el("td", {}, value === null || value === undefined ? "–" : String(value))));
    }
  }

  async function showRun(number) {
    if (number === null || number === undefined) return;
    try {
      const answer = await Page.getJson("/api/runs/" + number);
      shownRun = number;
      record = answer.record;
      const run = answer.run;
      document.getElementById("run-section").hidden = false;
      facts(document.getElementById("run-table"), [
        ["Run", run.run], ["Station", run.station], ["Port", run.port], ["Started", run.started],
        ["Result", run.result], ["Exit status", run.exit], ["Failed step", run.failedStep],
        ["Serial number", run.serial], ["MAC address", run.mac], ["Pool", run.pool], ["Log", run.log]]);
      if (record) {
        document.getElementById("record-section").hidden = false;
        document.getElementById("record").textContent = JSON.stringify(record, null, 2);
        if (!board || board.state !== "running" || !(board.stepsDone || []).length) stepRows(record.steps);
      }
      const earlier = document.getElementById("earlier");
      earlier.replaceChildren();
      for (const other of answer.earlier) {
        earlier.append(Page.el("li", {}, Page.el("a", {href: "/run/" + other.run}, "Run " + other.run),
          " " + [other.started, other.station, other.port, other.result].filter((x) => x).join(", ")));
      }
      document.getElementById("earlier-section").hidden = answer.earlier.length === 0;
    } catch (error) {
      Page.problem(String(error.message || error));
    }
  }

  function showBoard(next) {
    const newRun = !board || next.started !== board.started;
    board = next;
    document.getElementById("tile").replaceChildren(Page.tile(board, performance.now(), false));
    // The record, once there, is the run's final word on its steps.
    const fromRecord = record && shownRun === board.run && (board.state !== "running" || !(board.stepsDone || []).length);
    stepRows(fromRecord ? record.steps : board.stepsDone);
    if (newRun && consoleStarted !== board.started) {
      consoleStarted = board.started;
      consoleText.replaceChildren();
      consoleBytes = 0;
    }
    fetchConsole();
    if (board.run !== null && board.run !== undefined && (board.run !== shownRun || board.state !== "running")) {
      showRun(board.run);
    }
  }

  async function loadMedians() {
    try {
      const answer = await Page.getJson("/api/steps");
      medians = new Map(answer.steps.map((s) => [s.step + " " + s.name, s.median]));
      if (record && (!board || board.state !== "running" || !(board.stepsDone || []).length)) stepRows(record.steps);
      else if (board) stepRows(board.stepsDone);
    } catch (error) {
      // A station without a ledger has no medians: the column stays empty.
    }
  }

  function follow() {
    document.getElementById("title").textContent = "Port " + port;
    document.title = "Station: " + port;
    document.getElementById("actions").hidden = false;
    Page.live("?console=" + encodeURIComponent(port), {
      boards: (all) => {
        const mine = all.find((b) => b.port === port);
        if (mine) showBoard(mine);
        else Page.problem("The station has no port " + port + ".");
      },
      board: (one) => { if (one.port === port) showBoard(one); },
      console: () => fetchConsole(),
    });
  }

  document.getElementById("act-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const answerText = document.getElementById("act-answer");
    const form = new URLSearchParams({action: event.submitter.value, port: port,
                                      token: document.getElementById("token").value});
    try {
      const answer = await fetch("/api/act", {method: "POST", body: form});
      const json = await answer.json();
      answerText.textContent = json.error || json.done;
    } catch (error) {
      answerText.textContent = "The station did not answer.";
    }
  });

  loadMedians();
  if (runNumber !== null) {
    document.getElementById("title").textContent = "Run " + runNumber;
    document.title = "Station: run " + runNumber;
    showRun(runNumber).then(() => Page.getJson("/api/boards")).then((all) => {
      const live = all.find((b) => b.run === runNumber);
      if (live) {
        port = live.port;
        follow();
      } else {
        showEndedConsole(runNumber);
      }
    }).catch((error) => Page.problem(String(error.message || error)));
  } else {
    follow();
  }
  setInterval(() => Page.tickClocks(document.getElementById("tile")), 1000);
})();
