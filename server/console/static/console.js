// Draws a chart above every table marked data-chart, from the table's own
// figures: the columns whose heading carries data-series, one point per row.
// Without JavaScript (or without Chart.js) the tables alone are shown.
"use strict";
(function () {
  const colours = ["#1f5fbf", "#d9822b", "#2e9e5b", "#8e44ad", "#c0392b"];
  function draw(table) {
    const holder = document.querySelector('[data-chart-for="' + table.id + '"]');
    if (!holder || typeof Chart === "undefined")
      return;
    const heads = Array.from(table.tHead.rows[0].cells);
    const rows = Array.from(table.tBodies[0].rows);
    const labels = rows.map(r => r.cells[0].textContent);
    const datasets = [];
    heads.forEach((th, col) => {
      if (!th.hasAttribute("data-series"))
        return;
      const colour = colours[datasets.length % colours.length];
      // Small counts (clicks, start-ups) beside displays get a scale of their own.
      datasets.push({ label: th.textContent, data: rows.map(r => Number(r.cells[col].textContent) || 0),
                      borderColor: colour, backgroundColor: colour, tension: 0.2, cubicInterpolationMode: "monotone",
                      yAxisID: th.getAttribute("data-series") === "right" ? "y1" : "y" });
    });
    const scales = { y: { beginAtZero: true, ticks: { precision: 0 } } };
    if (datasets.some(d => d.yAxisID === "y1"))
      scales.y1 = { beginAtZero: true, position: "right", grid: { drawOnChartArea: false }, ticks: { precision: 0 } };
    const canvas = document.createElement("canvas");
    canvas.setAttribute("role", "img");
    canvas.setAttribute("aria-label", "Chart of the table below");
    holder.appendChild(canvas);
    new Chart(canvas, { type: table.dataset.chart || "line", data: { labels, datasets },
      options: { responsive: true, maintainAspectRatio: false, animation: false,
                 scales } });
  }
  document.addEventListener("DOMContentLoaded", () => document.querySelectorAll("table[data-chart]").forEach(draw));
})();
