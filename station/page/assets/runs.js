// The ledger's runs, newest first, searched and paged; the CSV link downloads the same filter.
"use strict";

(function () {
  const fields = ["board", "port", "station", "result", "since"];
  const params = new URLSearchParams(location.search);
  for (const name of fields) document.getElementById("f-" + name).value = params.get(name) || "";
  const page = Math.max(1, Number(params.get("page")) || 1);

  function filterQuery() {
    const query = new URLSearchParams();
    for (const name of fields) {
      const value = document.getElementById("f-" + name).value;
      if (value) query.set(name, value);
    }
    return query;
  }

  async function load() {
    const query = filterQuery();
    document.getElementById("csv").href = "/api/runs.csv?" + query;
    query.set("page", page);
    try {
      const answer = await Page.getJson("/api/runs?" + query);
      const body = document.querySelector("#runs tbody");
      body.replaceChildren();
      for (const run of answer.runs) {
        const cells = ["station", "port", "started", "result", "exit", "failedStep", "serial", "mac", "pool", "log"]
          .map((key) => Page.el("td", {}, run[key] === null ? "–" : String(run[key])));
        body.append(Page.el("tr", {"data-run": run.run, class: "result-" + String(run.result).replace(/ /g, "-")},
                            Page.el("td", {}, Page.el("a", {href: "/run/" + run.run}, String(run.run))), ...cells));
      }
      const first = (page - 1) * answer.per + 1;
      document.getElementById("count").textContent = answer.total
        ? "Runs " + first + " to " + (first + answer.runs.length - 1) + " of " + answer.total + ", newest first."
        : "No run matches.";
      document.getElementById("page-number").textContent = "Page " + page;
      const link = (id, number, show) => {
        const a = document.getElementById(id);
        a.hidden = !show;
        const q = filterQuery();
        q.set("page", number);
        a.href = "/runs?" + q;
      };
      link("newer", page - 1, page > 1);
      link("older", page + 1, page * answer.per < answer.total);
      document.body.dataset.loaded = "1";
    } catch (error) {
      Page.problem(String(error.message || error));
    }
  }
  load();
})();
