// The jig at a glance: one tile per port, in the station's order, changed as the events come.
"use strict";

(function () {
  const tiles = document.getElementById("tiles");
  const order = [];
  const boards = new Map();

  function show(board) {
    const tile = Page.tile(board, performance.now(), true);
    const old = tiles.querySelector('[data-port="' + CSS.escape(board.port) + '"]');
    if (old) {
      old.replaceWith(tile);
    } else {
      tiles.append(tile);
    }
  }

  Page.live("", {
    boards: (all) => {
      tiles.replaceChildren();
      order.length = 0;
      boards.clear();
      for (const board of all) {
        order.push(board.port);
        boards.set(board.port, board);
        show(board);
      }
    },
    board: (board) => {
      if (!boards.has(board.port)) order.push(board.port);
      boards.set(board.port, board);
      show(board);
    },
  });
  Page.getJson("/api/station").then((station) => {
    if (station.station) {
      document.getElementById("title").textContent = "The jig of " + station.station;
      document.title = "Station " + station.station + ": the jig";
    }
  }).catch(() => {});
  setInterval(() => Page.tickClocks(tiles), 1000);
  Page.loadMedians();
  setInterval(Page.loadMedians, 60000);
})();
