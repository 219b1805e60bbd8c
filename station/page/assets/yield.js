// The yield of today and of a chosen period, from the ledger: counts, the failing steps as a Pareto
// chart, boards an hour, and the time of each step. Every chart has its numbers in a table beside it.
"use strict";

(function () {
  const params = new URLSearchParams(location.search);
  const today = new Date().toISOString().slice(0, 10);
  document.getElementById("from").value = params.get("from") || today;
  document.getElementById("to").value = params.get("to") || params.get("from") || today;
  document.getElementById("station").value = params.get("station") || "";

  const percent = (x) => (x === null || x === undefined ? "–" : (100 * x).toFixed(1) + " %");

  function summary(table, y) {
    table.replaceChildren();
    for (const [name, value] of [["Started", y.started], ["Succeeded", y.succeeded], ["Failed", y.failed],
                                 ["Ended otherwise or still running", y.started - y.succeeded - y.failed],
                                 ["First-pass yield", percent(y.firstPassYield)],
                                 ["Median run time", y.runTime.count ? Page.duration(y.runTime.median) : "–"],
                                 ["95th percentile run time", y.runTime.count ? Page.duration(y.runTime.p95) : "–"]]) {
      table.append(Page.el("tr", {"data-name": name}, Page.el("th", {}, name), Page.el("td", {}, value)));
    }
  }

  // Bars from the left, one a row, each with its label and number; the numbers also in a table.
  function barChart(box, title, rows, cumulative) {
    box.replaceChildren();
    if (!rows.length) {
      box.append(Page.el("p", {}, "Nothing in this period."));
      return;
    }
    const rowHeight = 34, labelWidth = 230, barWidth = 420, width = labelWidth + barWidth + 80;
    const height = rows.length * rowHeight + 10;
    const most = Math.max(...rows.map((r) => r.value), 1);
    const chart = Page.svg("svg", {viewBox: "0 0 " + width + " " + height, width: width, height: height,
                                   role: "img", "aria-label": title});
    chart.append(Page.svg("title", {}, title));
    rows.forEach((row, i) => {
      const y = 5 + i * rowHeight;
      const g = Page.svg("g", {class: "bar-item", "data-label": row.label, "data-value": row.value});
      g.append(Page.svg("text", {x: labelWidth - 8, y: y + rowHeight / 2 + 6, "text-anchor": "end"}, row.label));
      g.append(Page.svg("rect", {x: labelWidth, y: y + 4, height: rowHeight - 10,
                                 width: Math.max(2, barWidth * row.value / most), class: row.kind || "bar-fill"}));
      g.append(Page.svg("text", {x: labelWidth + barWidth * row.value / most + 8, y: y + rowHeight / 2 + 6},
                        String(row.value) + (row.extra ? " " + row.extra : "")));
      chart.append(g);
    });
    if (cumulative) chart.classList.add("pareto");
    box.append(chart);
  }

  async function load() {
    const query = new URLSearchParams();
    for (const name of ["from", "to", "station"]) {
      const value = document.getElementById(name).value;
      if (value) query.set(name, value);
    }
    try {
      const answer = await Page.getJson("/api/yield?" + query);
      Page.problem("");
      summary(document.getElementById("today"), answer.today);
      const y = answer.period;
      document.getElementById("period-title").textContent = y.from === y.to ? y.from : y.from + " to " + y.to;
      summary(document.getElementById("summary"), y);

      barChart(document.getElementById("pareto-chart"), "Failed runs by step, most first",
               y.failuresByStep.map((f) => ({label: f.step, value: f.runs, extra: "(" + f.cumulativePercent.toFixed(0) + " %)"})), true);
      const pareto = document.querySelector("#pareto tbody");
      pareto.replaceChildren();
      for (const f of y.failuresByStep) {
        const words = f.words.map((w) => (w.words || "(no words)") + " × " + w.runs).join("; ");
        pareto.append(Page.el("tr", {}, Page.el("td", {}, f.step), Page.el("td", {}, f.runs),
                              Page.el("td", {}, f.cumulativePercent.toFixed(1)), Page.el("td", {}, words)));
      }

      barChart(document.getElementById("hours-chart"), "Boards that succeeded, by hour",
               y.boardsPerHour.map((h) => ({label: h.hour.slice(0, 13).replace("T", " ") + "h", value: h.succeeded,
                                            extra: h.failed ? "(" + h.failed + " failed)" : ""})), false);
      const hours = document.querySelector("#hours tbody");
      hours.replaceChildren();
      for (const h of y.boardsPerHour) {
        hours.append(Page.el("tr", {}, Page.el("td", {}, h.hour), Page.el("td", {}, h.succeeded), Page.el("td", {}, h.failed)));
      }

      const times = document.querySelector("#step-times tbody");
      times.replaceChildren();
      for (const s of y.stepTimes) {
        times.append(Page.el("tr", {}, Page.el("td", {}, s.step), Page.el("td", {}, s.name), Page.el("td", {}, s.count),
                             Page.el("td", {}, s.median.toFixed(2)), Page.el("td", {}, s.p95.toFixed(2))));
      }
      document.body.dataset.loaded = "1";
    } catch (error) {
      Page.problem(String(error.message || error));
    }
  }

  document.getElementById("period").addEventListener("submit", (event) => {
    event.preventDefault();
    const query = new URLSearchParams(new FormData(event.target));
    history.replaceState(null, "", "/yield?" + query);
    load();
  });
  load();
})();
