"use strict";
// Live results: the page's data once over HTTP, then every change pushed over a WebSocket.
// Values are written with textContent only: names come from the competitor list.
(function () {
  var page = document.body.getAttribute("data-page");
  var api = { race: "/api/race", qualifiche: "/api/qualifiche", finali: "/api/finali" }[page];
  var state = document.getElementById("state");
  var empty = document.getElementById("empty");

  function el(tag, text, className) {
    var e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (className) e.className = className;
    return e;
  }

  function nameCell(car) {
    var td = el("td", car.name, "name");
    td.appendChild(el("small", "Canale " + car.channel));
    return td;
  }

  function fill(tbody, cars, row) {
    tbody.textContent = "";
    cars.forEach(function (car) { tbody.appendChild(row(car)); });
    empty.hidden = cars.length > 0;
  }

  function line(cells) {
    var tr = document.createElement("tr");
    cells.forEach(function (c) { tr.appendChild(c); });
    return tr;
  }

  var render = {
    race: function (d) {
      document.getElementById("race").textContent = d.race || "Gara in corso";
      document.getElementById("remaining").textContent = d.remaining || "-";
      fill(document.querySelector("#cars tbody"), d.cars || [], function (car) {
        return line([el("td", car.position, "pos"), nameCell(car), el("td", car.laps, "laps"),
          el("td", car.last, "last"), el("td", car.best, "best"), el("td", car.total, "total")]);
      });
    },
    qualifiche: function (d) {
      fill(document.querySelector("#cars tbody"), d.cars || [], function (car) {
        return line([el("td", car.position, "pos"), nameCell(car), el("td", car.heat, "heat"),
          el("td", car.laps, "laps"), el("td", car.best, "best"), el("td", car.total, "total")]);
      });
    },
    finali: function (d) {
      var box = document.getElementById("finals");
      box.textContent = "";
      var finals = d.finals || [];
      finals.forEach(function (f) {
        box.appendChild(el("h2", "Finale " + f.final));
        var table = el("table", null, "final");
        table.appendChild(line(["Pos.", "Nome", "Giri", "Giro migliore", "Tempo totale"].map(function (t, i) {
          return el("th", t, i === 1 ? "left" : "");
        })));
        f.cars.forEach(function (car) {
          table.appendChild(line([el("td", car.position === null ? "-" : car.position, "pos"), nameCell(car),
            el("td", car.laps, "laps"), el("td", car.best, "best"), el("td", car.total, "total")]));
        });
        box.appendChild(table);
      });
      empty.hidden = finals.length > 0;
    }
  };

  function show(type, data) {
    if (type !== page || !data) return;
    render[page](data);
    state.className = "";
    state.textContent = "In diretta - aggiornato alle " + new Date().toLocaleTimeString("it-IT");
  }

  var request = new XMLHttpRequest();
  request.open("GET", api);
  request.onload = function () {
    try { show(page, JSON.parse(request.responseText)); } catch (e) { /* the push brings it */ }
  };
  request.send();

  var delay = 1000;
  function connect() {
    var ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws");
    ws.onopen = function () { delay = 1000; };
    ws.onmessage = function (e) {
      var m;
      try { m = JSON.parse(e.data); } catch (err) { return; }
      show(m.type, m.data);
    };
    ws.onclose = function () {
      state.className = "lost";
      state.textContent = "Collegamento perso, nuovo tentativo...";
      setTimeout(connect, delay);
      delay = Math.min(delay * 2, 10000);
    };
  }
  connect();
})();
