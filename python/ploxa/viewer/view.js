"use strict";
// Draws an instance and its routes; with a live solve, follows its improvements.
const DATA = JSON.parse(document.getElementById("data").textContent);
const SVG = "http://www.w3.org/2000/svg";
const COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b",
                 "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"];
const instance = DATA.instance;
const agents = instance.agents || [];
const nodes = new Map((instance.nodes || []).map(n => [n.id, n]));
const minMax = ((instance.options || {}).objective || "").toLowerCase() === "min_max";
const state = { routes: [], curve: [], result: null };

function make(tag, attributes, parent) {
  const element = document.createElementNS(SVG, tag);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (parent) parent.appendChild(element);
  return element;
}

function haversine() {
  return Object.values(instance.metrics || {}).some(m => m && m.kind === "haversine");
}

// Longitude and latitude projected equirectangularly (north up), other coordinates as given.
function projection() {
  const list = [...nodes.values()];
  const meanLatitude = list.reduce((s, n) => s + n.y, 0) / Math.max(1, list.length);
  const scaleX = haversine() ? Math.cos(meanLatitude * Math.PI / 180) : 1;
  const flip = haversine() ? -1 : 1;
  const points = list.map(n => [n.x * scaleX, n.y * flip]);
  const xs = points.map(p => p[0]), ys = points.map(p => p[1]);
  const [x0, x1, y0, y1] = [Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys)];
  const box = document.getElementById("map").getBoundingClientRect();
  const margin = 16, w = box.width - 2 * margin, h = box.height - 2 * margin;
  const scale = Math.min(w / Math.max(x1 - x0, 1e-9), h / Math.max(y1 - y0, 1e-9));
  const dx = margin + (w - scale * (x1 - x0)) / 2, dy = margin + (h - scale * (y1 - y0)) / 2;
  // SVG's y axis points down: plain coordinates grow upwards on the page.
  return n => [dx + (n.x * scaleX - x0) * scale, box.height - dy - (n.y * flip - y0) * scale];
}

function windowsOf(id) {
  const out = [];
  for (const c of instance.constraints || []) {
    if (c.kind !== "timewindow") continue;
    for (const item of c.items || []) {
      if (item.node !== id) continue;
      if (item.windows) out.push(...item.windows.map(w => `[${w[0]}, ${w[1]}]`));
      else out.push(`[${item.start}, ${item.end}]`);
    }
  }
  return out.join(" ");
}

function arrivalOf(id) {
  for (const route of (state.result || {}).routes || []) {
    for (const stop of route.schedule || []) if (stop.node === id) return stop.arrival;
  }
  return undefined;
}

function showTip(event, node) {
  const tip = document.getElementById("tip");
  const lines = [`node ${node.id}`];
  const windows = windowsOf(node.id);
  if (windows) lines.push(`window ${windows}`);
  const arrival = arrivalOf(node.id);
  if (arrival !== undefined) lines.push(`arrival ${+arrival.toFixed(2)}`);
  tip.textContent = lines.join("\n");
  tip.style.display = "block";
  tip.style.left = event.clientX + 12 + "px";
  tip.style.top = event.clientY + 12 + "px";
}

function drawMap() {
  const map = document.getElementById("map");
  map.replaceChildren();
  const place = projection();
  const served = new Set();
  state.routes.forEach((path, k) => {
    if (path.length < 2) return;
    path.forEach(id => served.add(id));
    const d = path.map((id, i) => (i ? "L" : "M") + place(nodes.get(id)).join(" ")).join(" ");
    make("path", { d, fill: "none", stroke: COLOURS[k % COLOURS.length], "stroke-width": 2,
                   "data-agent": agents[k].id, "data-stops": path.join(" ") }, map);
  });
  const colourOf = new Map();
  state.routes.forEach((path, k) => path.forEach(id => colourOf.set(id, COLOURS[k % 10])));
  for (const node of nodes.values()) {
    const [x, y] = place(node);
    const depot = String(node.type || "").toUpperCase() === "DEPOT";
    const left = state.routes.length > 0 && !served.has(node.id);
    const circle = make("circle", { cx: x, cy: y, r: depot ? 6 : 4, "data-node": node.id,
      class: depot ? "stop depot" : left ? "unassigned" : "stop",
      stroke: colourOf.get(node.id) || "#555" }, map);
    circle.addEventListener("mousemove", e => showTip(e, node));
    circle.addEventListener("mouseleave", () => {
      document.getElementById("tip").style.display = "none";
    });
  }
}

function drawCurve() {
  const box = document.getElementById("curve-box").getBoundingClientRect();
  const curve = document.getElementById("curve");
  const points = state.curve;
  curve.setAttribute("data-points", points.length);
  if (points.length === 0) return;
  const t0 = points[0].time, t1 = Math.max(points[points.length - 1].time, t0 + 1e-9);
  const values = points.map(p => p.value);
  const v0 = Math.min(...values), v1 = Math.max(...values);
  const m = 10, w = box.width - 2 * m, h = box.height - 2 * m;
  // A step line: each value holds until the next improvement.
  const xy = [];
  points.forEach((p, i) => {
    const x = m + w * (p.time - t0) / (t1 - t0);
    const y = m + h * (v1 === v0 ? 0.5 : (v1 - p.value) / (v1 - v0));
    if (i > 0) xy.push(`${x},${xy[xy.length - 1].split(",")[1]}`);
    xy.push(`${x},${y}`);
  });
  curve.setAttribute("points", xy.join(" "));
}

function loadOf(path) {
  return path.reduce((sum, id) => sum + ((nodes.get(id) || {}).demand || 0), 0);
}

function number(value) {
  return value === undefined ? "" : String(+Number(value).toFixed(3));
}

function drawTable() {
  const body = document.querySelector("#routes-table tbody");
  body.replaceChildren();
  const routes = (state.result || {}).routes;
  state.routes.forEach((path, k) => {
    const route = routes ? routes[k] : {};
    const row = document.createElement("tr");
    row.setAttribute("data-agent", agents[k].id);
    const stops = Math.max(0, path.length - 2);
    const demands = [...nodes.values()].some(n => n.demand);
    const cells = [agents[k].id, number(route.cost), stops, demands ? number(loadOf(path)) : "",
                   number(route.start_time), number(route.end_time)];
    cells.forEach((text, i) => {
      const cell = document.createElement("td");
      if (i === 0) {
        const swatch = document.createElement("span");
        swatch.className = "swatch";
        swatch.style.background = COLOURS[k % COLOURS.length];
        cell.appendChild(swatch);
      }
      cell.appendChild(document.createTextNode(text));
      row.appendChild(cell);
    });
    body.appendChild(row);
  });
  const left = ((state.result || {}).unassigned || []).map(s => `node ${s.node}: ${s.reason}`);
  document.getElementById("unassigned").textContent =
    left.length ? "Unassigned: " + left.join("; ") : "";
}

function drawStatus() {
  const result = state.result;
  const last = state.curve[state.curve.length - 1];
  document.getElementById("status").textContent = result
    ? `${result.status}: longest ${number(result.statistics.max_cost)}, total ` +
      number(result.statistics.sum_cost)
    : last ? `solving: ${minMax ? "longest" : "total"} ${number(last.value)}` : "solving";
}

function draw() {
  drawMap();
  drawCurve();
  drawTable();
  drawStatus();
}

function takeResult(result) {
  state.result = result;
  state.routes = result.routes.map(r => r.node_ids);
  state.curve = (result.anytime || []).map(s => ({
    time: s.time, value: minMax ? s.max_cost : s.sum_cost }));
}

function follow() {
  const events = new EventSource("events");
  events.addEventListener("progress", e => {
    const p = JSON.parse(e.data);
    state.routes = p.routes;
    state.curve.push({ time: p.time, value: minMax ? p.longest : p.total });
    draw();
  });
  events.addEventListener("result", e => {
    takeResult(JSON.parse(e.data));
    events.close();
    draw();
  });
}

if (DATA.result) takeResult(DATA.result);
draw();
if (DATA.live) follow();
window.addEventListener("resize", draw);
