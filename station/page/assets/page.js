// What every page of the station shares. Everything a board, a record or the ledger says goes into
// the page as text (textContent), never as markup.
"use strict";

const Page = {};

// el("td", {class: "x"}, "text", otherElement)
Page.el = function (tag, attributes, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes || {})) {
    if (value !== null && value !== undefined) element.setAttribute(name, value);
  }
  for (const child of children) {
    if (child === null || child === undefined) continue;
    element.append(typeof child === "string" || typeof child === "number" ? String(child) : child);
  }
  return element;
};

Page.svg = function (tag, attributes, text) {
  const element = document.createElementNS("http://www.w3.org/2000/svg", tag);
  for (const [name, value] of Object.entries(attributes || {})) element.setAttribute(name, String(value));
  if (text !== undefined) element.textContent = String(text);
  return element;
};

Page.getJson = async function (url) {
  const answer = await fetch(url, {cache: "no-store"});
  const json = await answer.json();
  if (!answer.ok) throw new Error(json.error || answer.statusText);
  return json;
};

Page.problem = function (words) {
  const p = document.getElementById("problem");
  if (!p) return;
  p.hidden = !words;
  p.textContent = words || "";
};

// 83 -> "1:23", 3725 -> "1:02:05"
Page.duration = function (seconds) {
  if (seconds === null || seconds === undefined || !isFinite(seconds)) return "–";
  seconds = Math.max(0, Math.round(seconds));
  const h = Math.floor(seconds / 3600), m = Math.floor(seconds / 60) % 60, s = seconds % 60;
  const two = (n) => String(n).padStart(2, "0");
  return h ? h + ":" + two(m) + ":" + two(s) : m + ":" + two(s);
};

Page.boardLink = (port) => "/board/" + encodeURIComponent(port);

const kSymbols = {
  "waiting": "○", "running": "▶", "succeeded": "✔", "failed": "✖",
  "stopped": "■", "timed out": "⧗", "interrupted": "■",
};
const kSources = {
  "given": "given", "kept": "kept its own", "pool": "from the pools", "factory": "factory values",
  "none": "none",
};

// The state in words: "Step 3 of 8: FlashBootLoaders", "Failed at step 2: ..."
Page.stateWords = function (board) {
  const step = board.step !== null && board.step !== undefined ? board.step : "?";
  const of = board.steps ? " of " + board.steps : "";
  const name = board.stepName ? ": " + board.stepName : "";
  switch (board.state) {
    case "waiting": return "Waiting for a board";
    case "running": return "Step " + step + of + name;
    case "succeeded": return "Succeeded";
    case "failed": return "Failed at step " + step + name;
    case "stopped": return "Stopped";
    case "timed out": return "Timed out at step " + step + name;
    case "interrupted": return "Interrupted at step " + step + name;
    default: return String(board.state || "Unknown");
  }
};

function identityLine(label, identity, source) {
  if (!identity) return null;
  const parts = [];
  if (identity.serial) parts.push("serial " + identity.serial);
  if (identity.mac) parts.push("MAC " + identity.mac);
  if (!parts.length) return null;
  const from = source ? " (" + (kSources[source] || source) + ")" : "";
  return Page.el("p", {class: "identity"}, label + ": " + parts.join(", ") + from);
}

function bar(label, fraction, text) {
  const percent = Math.round(Math.max(0, Math.min(1, fraction || 0)) * 100);
  const fill = Page.el("div", {class: "fill"});
  fill.style.width = percent + "%";
  return Page.el("div", {class: "bar-row"},
    Page.el("span", {class: "bar-label"}, label),
    Page.el("div", {class: "bar", role: "progressbar", "aria-label": label, "aria-valuemin": "0",
                    "aria-valuemax": "100", "aria-valuenow": String(percent)}, fill),
    Page.el("span", {class: "bar-text"}, text));
}

// How far the run is: the steps done and the part of the current step.
function runFraction(board, stepFraction) {
  const total = board.steps || 0;
  if (!total) return board.state === "succeeded" ? 1 : 0;
  if (board.state === "succeeded") return 1;
  const done = new Set((board.stepsDone || []).filter((s) => s.result === "succeeded").map((s) => s.step)).size;
  return Math.min(1, (done + (board.state === "running" ? stepFraction : 0)) / total);
}

// One tile; `seen`: when this board object arrived (performance.now()), for the clocks.
Page.tile = function (board, seen, linked) {
  const state = board.state || "waiting";
  const tile = Page.el("section", {class: "tile state-" + state.replace(/ /g, "-"), "data-port": board.port,
                                   "data-state": state});
  const title = Page.el("h2", {class: "port"}, linked ? Page.el("a", {href: Page.boardLink(board.port)}, board.port)
                                                      : board.port);
  tile.append(title);
  tile.append(Page.el("p", {class: "state"}, Page.el("span", {class: "symbol", "aria-hidden": "true"},
                                                       kSymbols[state] || "?"),
                      Page.el("span", {class: "words"}, Page.stateWords(board))));
  if (board.words && state !== "running") tile.append(Page.el("p", {class: "failure"}, board.words));
  const identity = board.identity || {};
  const read = identityLine("Read", identity.read, null);
  const programmed = identityLine("Programmed", identity.programmed, identity.source);
  if (read) tile.append(read);
  if (programmed) tile.append(programmed);
  if (!read && !programmed && identity.source) {
    tile.append(Page.el("p", {class: "identity"}, "Identity: " + (kSources[identity.source] || identity.source)));
  }
  if (state !== "waiting") {
    const stepFraction = board.total ? board.bytes / board.total : 0;
    const stepText = board.total ? Math.round(100 * stepFraction) + " %" : (state === "running" ? "…" : "");
    tile.append(bar("Step", state === "succeeded" ? 1 : stepFraction, state === "succeeded" ? "100 %" : stepText));
    const run = runFraction(board, stepFraction);
    tile.append(bar("Run", run, Math.round(100 * run) + " %"));
    const clocks = Page.el("p", {class: "clocks"});
    const left = board.leftSeconds !== null && board.leftSeconds !== undefined ? board.leftSeconds
                                                                             : Page.estimateLeft(board);
    clocks.dataset.elapsed = board.elapsedSeconds === null || board.elapsedSeconds === undefined ? "" : board.elapsedSeconds;
    clocks.dataset.left = left === null ? "" : left;
    clocks.dataset.seen = seen;
    clocks.dataset.running = state === "running" ? "1" : "";
    tile.append(clocks);
    const attempts = [];
    if (board.attempt) attempts.push("Attempt " + board.attempt);
    attempts.push((board.retries || 0) + ((board.retries || 0) === 1 ? " retry" : " retries"));
    tile.append(Page.el("p", {class: "attempts"}, attempts.join(" · ")));
  }
  Page.tickClocks(tile);
  return tile;
};

// The station's median time of each step ({step, name, median}), from its recent runs.
Page.medians = [];
Page.loadMedians = async function () {
  try {
    Page.medians = (await Page.getJson("/api/steps")).steps;
  } catch (error) {
    Page.medians = [];  // no ledger: no estimate
  }
};

// Time left of a running board the station gave no estimate for: the medians of the steps after
// this one, and of this one what its median leaves.
Page.estimateLeft = function (board) {
  if (board.state !== "running" || board.step === null || board.step === undefined || !Page.medians.length) return null;
  const done = (board.stepsDone || []).reduce((sum, s) => sum + (s.seconds || 0), 0);
  const inStep = Math.max(0, (board.elapsedSeconds || 0) - done);
  let left = 0;
  for (const m of Page.medians) {
    if (m.step > board.step) left += m.median;
    if (m.step === board.step) left += Math.max(0, m.median - inStep);
  }
  return left;
};

// Elapsed goes on and left goes down between two events of a running board.
Page.tickClocks = function (root) {
  const now = performance.now();
  for (const clocks of root.querySelectorAll(".clocks")) {
    const since = clocks.dataset.running ? (now - Number(clocks.dataset.seen)) / 1000 : 0;
    const elapsed = clocks.dataset.elapsed === "" ? null : Number(clocks.dataset.elapsed) + since;
    const left = clocks.dataset.left === "" ? null : Math.max(0, Number(clocks.dataset.left) - since);
    clocks.textContent = "Elapsed " + Page.duration(elapsed) +
      (clocks.dataset.running ? " · Left " + (left === null ? "not known yet" : "about " + Page.duration(left)) : "");
  }
};

// The station's event stream, opened again by itself when the station went away.
Page.live = function (query, handlers) {
  const status = document.getElementById("live");
  let source = null;
  const say = (words, good) => {
    if (!status) return;
    status.textContent = words;
    status.className = "live " + (good ? "live-on" : "live-off");
  };
  const connect = () => {
    source = new EventSource("/events" + query);
    source.onopen = () => say("Live", true);
    source.onerror = () => {
      say("Reconnecting to the station…", false);
      if (source.readyState === EventSource.CLOSED) {
        source.close();
        setTimeout(connect, 1000);
      }
    };
    for (const [type, handler] of Object.entries(handlers)) {
      source.addEventListener(type, (event) => handler(JSON.parse(event.data)));
    }
  };
  connect();
};
