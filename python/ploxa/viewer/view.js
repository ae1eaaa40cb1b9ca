"use strict";
// Draws an instance and its routes; with a live solve, follows its improvements.
const DATA = JSON.parse(document.getElementById("data").textContent);
const SVG = "http://www.w3.org/2000/svg";
// One colour per agent, from the package, so that the picture of plot matches the page.
const COLOURS = DATA.colours && DATA.colours.length ? DATA.colours : ["#1f77b4"];
// Time 0 as minutes after midnight, and the instance's time units in a minute.
const CLOCK = DATA.clock || { on: false, start: 0, unit: "min", per_minute: 1 };
const instance = DATA.instance;
const agents = instance.agents || [];
const nodes = new Map((instance.nodes || []).map(n => [n.id, n]));
// The solver reads only these two spellings as min-max; anything else is min-sum.
const minMax = ["min_max", "MIN_MAX"].includes((instance.options || {}).objective);
const depots = new Set(agents.flatMap(a => [a.start_node, a.end_node]));
const haversine = Object.values(instance.metrics || {}).some(m => m && m.kind === "haversine");
const hasDemands = [...nodes.values()].some(n => n.demand);
// Routes are kept in the order of the instance's agents, as progress reports send them.
const state = { routes: [], curve: [], result: null, latest: null, pending: false,
                clock: CLOCK.on, labels: nodes.size <= 40 };

const colour = k => COLOURS[k % COLOURS.length];
const number = value => (value === undefined || value === null ? "–"
                                                               : String(+Number(value).toFixed(3)));
// A load: one number, or one per dimension.
const amounts = value => (Array.isArray(value) ? value.map(number).join(" / ") : number(value));
const seconds = value => `${+Number(value).toPrecision(3)} s`;
const twoDigits = n => String(n).padStart(2, "0");

// hh:mm to the nearest minute; past midnight the hours go on (25:30), so a long day reads in
// order. Rounding keeps order, so a stop served within its window never reads as late.
function clockText(value) {
  const minutes = Math.round(CLOCK.start + value / CLOCK.per_minute);
  const whole = Math.abs(minutes);
  return `${minutes < 0 ? "-" : ""}${twoDigits(Math.floor(whole / 60))}:${twoDigits(whole % 60)}`;
}

const time = value => (value === undefined || value === null ? "–"
                       : state.clock ? clockText(value) : number(value));
const duration = value => (state.clock ? `${number(value / CLOCK.per_minute)} min` : number(value));

function make(tag, attributes, parent) {
  const element = document.createElementNS(SVG, tag);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (parent) parent.appendChild(element);
  return element;
}

function routeOf(k) {
  const id = agents[k].id;
  return ((state.result || {}).routes || []).find(r => r.agent_id === id) || {};
}

// Equal scale on both axes, y growing upwards. Longitude and latitude are projected
// equirectangularly about the mean latitude, which keeps a city's shape.
function projection(box) {
  const list = [...nodes.values()];
  const meanLatitude = list.reduce((s, n) => s + n.y, 0) / Math.max(1, list.length);
  const squeeze = haversine ? Math.cos(meanLatitude * Math.PI / 180) : 1;
  const xs = list.map(n => n.x * squeeze), ys = list.map(n => n.y);
  const [x0, x1, y0, y1] = [Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys)];
  // A box too small for the margins would give a negative scale, which turns the map over.
  const margin = 18;
  const w = Math.max(box.width - 2 * margin, 1), h = Math.max(box.height - 2 * margin, 1);
  const scale = Math.min(w / Math.max(x1 - x0, 1e-9), h / Math.max(y1 - y0, 1e-9));
  const dx = margin + (w - scale * (x1 - x0)) / 2, dy = margin + (h - scale * (y1 - y0)) / 2;
  // The screen's y grows downwards: the largest y (north) is placed at the top.
  return n => [dx + (n.x * squeeze - x0) * scale, dy + (y1 - n.y) * scale];
}

function windowsOf(id) {
  const out = [];
  for (const c of instance.constraints || []) {
    if (c.kind !== "timewindow") continue;
    for (const item of c.items || []) {
      if (item.node !== id) continue;
      if (item.windows) out.push(...item.windows);
      else out.push([item.start, item.end]);
    }
  }
  return out;
}

function visitOf(id) {
  for (const [k, path] of state.routes.entries()) {
    const place = path.indexOf(id);
    if (place < 0) continue;
    const stop = (routeOf(k).schedule || []).find(s => s.node === id);
    return { agent: agents[k].id, order: place, stops: Math.max(0, path.length - 2), stop };
  }
  return null;
}

// Arriving early is no fault: the stop waits, and only the start of service meets a window.
function verdict(start, windows) {
  const slack = 1e-6 * Math.max(1, Math.abs(start));
  if (windows.some(([a, b]) => a - slack <= start && start <= b + slack)) return "in its window";
  const missed = windows.filter(([, b]) => b < start).map(([, b]) => start - b);
  return missed.length ? `late by ${duration(Math.min(...missed))}` : "before its window";
}

function visitLines(stop, windows) {
  const wait = stop.start - stop.arrival;
  return [`arrival ${time(stop.arrival)}` + (wait > 1e-9 ? `, waits ${duration(wait)}` : ""),
          `service starts ${time(stop.start)}` +
          (windows.length ? ` · ${verdict(stop.start, windows)}` : "")];
}

function tipLines(node) {
  const lines = [`node ${node.id}` + (node.type ? ` (${node.type})` : "")];
  const starting = agents.filter(a => a.start_node === node.id || a.end_node === node.id);
  if (starting.length) lines.push(`depot of agent ${starting.map(a => a.id).join(", ")}`);
  const windows = windowsOf(node.id);
  if (windows.length) lines.push(`window ${windows.map(([a, b]) => `${time(a)}–${time(b)}`)
                                                     .join(", ")}`);
  if (node.service) lines.push(`service ${duration(node.service)}`);
  if (node.demand) lines.push(`demand ${amounts(node.demand)}`);
  const visit = depots.has(node.id) ? null : visitOf(node.id);
  if (visit) lines.push(`stop ${visit.order} of ${visit.stops}, agent ${visit.agent}`);
  if (visit && visit.stop) lines.push(...visitLines(visit.stop, windows));
  return lines;
}

function showTip(event, node) {
  const tip = document.getElementById("tip");
  tip.textContent = tipLines(node).join("\n");
  tip.style.display = "block";
  const below = event.clientY + 14 + tip.offsetHeight < window.innerHeight;
  tip.style.left = Math.min(event.clientX + 14, window.innerWidth - tip.offsetWidth - 8) + "px";
  tip.style.top = (below ? event.clientY + 14 : event.clientY - 14 - tip.offsetHeight) + "px";
}

function hideTip() {
  document.getElementById("tip").style.display = "none";
}

function line(ids, place) {
  return ids.map((id, i) => (i ? "L" : "M") + place(nodes.get(id)).join(" ")).join(" ");
}

// Without the return to the end node, the route's last leg costs nothing and is not driven:
// it is drawn faintly, dashed.
function drawRoutes(map, place, width) {
  const freeLastLeg = (instance.options || {}).return_to_end === false;
  state.routes.forEach((path, k) => {
    const points = path.filter(id => nodes.has(id));
    if (points.length < 2) return;
    const driven = freeLastLeg && points.length > 2 ? points.slice(0, -1) : points;
    make("path", { d: line(driven, place), class: "route", stroke: colour(k),
                   "stroke-width": width, "data-agent": agents[k].id,
                   "data-stops": path.join(" ") }, map);
    if (driven !== points) {
      make("path", { d: line(points.slice(-2), place), class: "route free", stroke: colour(k),
                     "stroke-width": width, "data-leg-of": agents[k].id }, map);
    }
  });
}

function drawStops(map, place, small) {
  const agentOf = new Map();
  state.routes.forEach((path, k) => path.forEach(id => agentOf.set(id, k)));
  const radius = small ? 2.5 : 4.5;
  for (const node of nodes.values()) {
    const [x, y] = place(node);
    const k = agentOf.get(node.id);
    let mark;
    if (depots.has(node.id)) {
      const side = Math.max(8, radius * 2.4);
      mark = make("rect", { x: x - side / 2, y: y - side / 2, width: side, height: side,
                            rx: 2, class: "depot" }, map);
    } else {
      const left = state.routes.length > 0 && k === undefined;
      mark = make("circle", { cx: x, cy: y, r: radius, class: left ? "unassigned" : "stop",
                              stroke: k === undefined ? "#8a96a3" : colour(k),
                              "stroke-width": small ? 1.5 : 2 }, map);
    }
    mark.setAttribute("data-node", node.id);
    mark.addEventListener("mousemove", e => showTip(e, node));
    mark.addEventListener("mouseleave", hideTip);
  }
}

// Each node's id and, on a route, its place along it: "7 #3" is the third stop.
function drawLabels(map, place) {
  const order = new Map();
  state.routes.forEach(path => path.slice(1, -1).forEach((id, i) => order.set(id, i + 1)));
  for (const node of nodes.values()) {
    const [x, y] = place(node);
    const text = order.has(node.id) && !depots.has(node.id) ? `${node.id} #${order.get(node.id)}`
                                                            : String(node.id);
    make("text", { x: x + 7, y: y - 6, class: "label", "data-label": node.id }, map)
      .textContent = text;
  }
}

function drawMap() {
  const map = document.getElementById("map");
  map.replaceChildren();
  if (nodes.size === 0) return;
  const place = projection(map.getBoundingClientRect());
  const small = nodes.size > 150;
  drawRoutes(map, place, small ? 1.3 : 2.2);
  drawStops(map, place, small);
  if (state.labels) drawLabels(map, place);
  document.getElementById("map-note").textContent =
    `${nodes.size} nodes, ${agents.length} agents` +
    (haversine ? " · longitude and latitude, north up" : " · y up");
}

function curveScale(points, box) {
  const widest = Math.max(...points.map(p => number(p.value).length));
  const m = { left: 26 + 6.5 * widest, right: 12, top: 10, bottom: 36 };
  const t0 = points[0].time, t1 = Math.max(points[points.length - 1].time, t0 + 1e-9);
  const values = points.map(p => p.value);
  const v0 = Math.min(...values), v1 = Math.max(...values);
  const w = box.width - m.left - m.right, h = box.height - m.top - m.bottom;
  return {
    x: t => m.left + w * (t - t0) / (t1 - t0),
    y: v => m.top + h * (v1 === v0 ? 0.5 : (v1 - v) / (v1 - v0)),
    t0, t1, v0, v1, m, box,
  };
}

function drawAxes(s) {
  const axes = document.getElementById("curve-axes");
  axes.replaceChildren();
  axes.setAttribute("class", "axis");
  const bottom = s.box.height - s.m.bottom, middle = (s.m.top + bottom) / 2;
  for (const v of s.v0 === s.v1 ? [s.v0] : [s.v1, s.v0]) {
    make("line", { x1: s.m.left, x2: s.box.width - s.m.right, y1: s.y(v), y2: s.y(v) }, axes);
    make("text", { x: s.m.left - 6, y: s.y(v) + 4, "text-anchor": "end" }, axes)
      .textContent = number(v);
  }
  make("text", { x: s.m.left, y: bottom + 15 }, axes).textContent = +s.t0.toPrecision(3);
  make("text", { x: s.box.width - s.m.right, y: bottom + 15, "text-anchor": "end" }, axes)
    .textContent = +s.t1.toPrecision(3);
  make("text", { x: (s.m.left + s.box.width - s.m.right) / 2, y: bottom + 31,
                 "text-anchor": "middle", class: "title", "data-axis": "x" }, axes)
    .textContent = "processor time (s)";
  make("text", { x: 0, y: 0, transform: `translate(12 ${middle}) rotate(-90)`,
                 "text-anchor": "middle", class: "title", "data-axis": "y" }, axes)
    .textContent = minMax ? "longest route (cost)" : "total (cost)";
}

function drawCurve() {
  const box = document.getElementById("curve-box").getBoundingClientRect();
  const curve = document.getElementById("curve");
  const dots = document.getElementById("curve-dots");
  const points = state.curve;
  document.getElementById("curve-title").textContent =
    `Improvements: ${minMax ? "longest route" : "total cost"} over processor time`;
  curve.setAttribute("data-points", points.length);
  dots.replaceChildren();
  if (points.length === 0) return;
  const s = curveScale(points, box);
  drawAxes(s);
  // A step line: each value holds until the next improvement.
  const xy = [];
  points.forEach((p, i) => {
    if (i > 0) xy.push(`${s.x(p.time)},${s.y(points[i - 1].value)}`);
    xy.push(`${s.x(p.time)},${s.y(p.value)}`);
    if (points.length <= 60) {
      make("circle", { cx: s.x(p.time), cy: s.y(p.value), r: 2.5, class: "dot" }, dots);
    }
  });
  curve.setAttribute("points", xy.join(" "));
}

function loadOf(path) {
  const add = (sum, demand) => (Array.isArray(demand)
    ? demand.map((d, k) => (Array.isArray(sum) ? sum[k] || 0 : k === 0 ? sum : 0) + d)
    : Array.isArray(sum) ? sum.map((s, k) => s + (k === 0 ? demand : 0)) : sum + demand);
  return path.filter(id => !depots.has(id))
    .reduce((sum, id) => add(sum, (nodes.get(id) || {}).demand || 0), 0);
}

// Columns without anything to show (no demands, no times) are left out.
function tableColumns() {
  const routes = (state.result || {}).routes || [];
  const timed = routes.some(r => r.start_time !== undefined);
  return [
    ["agent", (path, k) => agents[k].id],
    ["stops", path => Math.max(0, path.length - 2)],
    ["cost", (path, k) => number(routeOf(k).cost)],
    ...(hasDemands ? [["load", path => amounts(loadOf(path))]] : []),
    ...(timed ? [["start", (path, k) => time(routeOf(k).start_time)],
                 ["end", (path, k) => time(routeOf(k).end_time)]] : []),
  ];
}

function tableRow(cells, k) {
  const row = document.createElement("tr");
  cells.forEach(([name, text], i) => {
    const cell = row.insertCell();
    cell.setAttribute("data-col", name);
    if (i === 0 && k !== undefined) {
      const swatch = cell.appendChild(document.createElement("span"));
      swatch.className = "swatch";
      swatch.style.background = colour(k);
    }
    cell.appendChild(document.createTextNode(text));
  });
  return row;
}

function focusAgent(k) {
  const map = document.getElementById("map");
  map.classList.toggle("focus", k !== null);
  for (const path of map.querySelectorAll(".route")) {
    const owner = path.dataset.agent ?? path.dataset.legOf;
    path.classList.toggle("chosen", k !== null && owner === String(agents[k].id));
  }
}

function drawTable() {
  const columns = tableColumns();
  const head = document.querySelector("#routes-table thead tr");
  head.replaceChildren(...columns.map(([name]) => {
    const cell = document.createElement("th");
    cell.textContent = name;
    return cell;
  }));
  const body = document.querySelector("#routes-table tbody");
  body.replaceChildren(...state.routes.map((path, k) => {
    const row = tableRow(columns.map(([name, value]) => [name, value(path, k)]), k);
    row.setAttribute("data-agent", agents[k].id);
    row.addEventListener("mouseenter", () => focusAgent(k));
    row.addEventListener("mouseleave", () => focusAgent(null));
    return row;
  }));
  drawTotals(columns);
}

function drawTotals(columns) {
  const foot = document.querySelector("#routes-table tfoot");
  const stats = (state.result || {}).statistics;
  const stops = state.routes.reduce((sum, path) => sum + Math.max(0, path.length - 2), 0);
  const cells = columns.map(([name]) => [name, name === "agent" ? "all" : name === "stops" ? stops
    : name === "cost" && stats ? number(stats.sum_cost) : ""]);
  foot.replaceChildren(...(state.routes.length > 1 ? [tableRow(cells)] : []));
}

function leftOut() {
  const served = new Set(state.routes.flat());
  const reasons = new Map(((state.result || {}).unassigned || []).map(s => [s.node, s.reason]));
  const items = [...reasons].map(([node, reason]) => [node, reason]);
  if (state.routes.length === 0) return items;
  for (const node of nodes.values()) {
    if (served.has(node.id) || depots.has(node.id) || reasons.has(node.id)) continue;
    const optional = node.required === false;
    items.push([node.id, optional ? `optional, left out (prize ${number(node.prize || 0)})`
                                  : "on no route"]);
  }
  return items;
}

function drawLeftOut() {
  const list = document.getElementById("unassigned");
  const items = leftOut().map(([node, reason]) => {
    const item = document.createElement("li");
    item.className = "left";
    item.setAttribute("data-node", node);
    item.textContent = `node ${node}: ${reason}`;
    return item;
  });
  if (items.length === 0) {
    const none = document.createElement("li");
    none.className = "none";
    none.textContent = state.routes.length ? "every stop is on a route" : "no routes yet";
    items.push(none);
  }
  list.replaceChildren(...items);
}

function drawStatus() {
  const status = document.getElementById("status");
  const result = state.result, latest = state.latest;
  status.classList.toggle("live", DATA.live && !result);
  if (result) {
    status.textContent = `${result.status} · longest ${number(result.statistics.max_cost)} · ` +
      `total ${number(result.statistics.sum_cost)} · ${result.stop_reason || ""}`;
  } else if (latest) {
    status.textContent = `solving · longest ${number(latest.longest)} · total ` +
      `${number(latest.total)} · ${seconds(latest.time)} (${latest.source})`;
  } else {
    status.textContent = DATA.live ? "solving" : "the instance alone, without a result";
  }
}

function draw() {
  state.pending = false;
  drawMap();
  drawCurve();
  drawTable();
  drawLeftOut();
  drawStatus();
}

// Improvements can come faster than the page can draw a large plan: one drawing per frame.
function drawSoon() {
  if (!state.pending) requestAnimationFrame(draw);
  state.pending = true;
}

function takeResult(result) {
  state.result = result;
  state.routes = agents.map(a => (result.routes.find(r => r.agent_id === a.id) || {}).node_ids
                                 || []);
  state.curve = (result.anytime || []).map(s => ({
    time: s.time, value: minMax ? s.max_cost : s.sum_cost }));
}

function takeProgress(report) {
  // Of the reports sent again to a page that connects late, only the latest has routes.
  if (report.routes) state.routes = report.routes;
  state.latest = report;
  state.curve.push({ time: report.time, value: minMax ? report.longest : report.total });
}

function follow() {
  const events = new EventSource("events");
  events.addEventListener("progress", e => {
    takeProgress(JSON.parse(e.data));
    drawSoon();
  });
  events.addEventListener("result", e => {
    takeResult(JSON.parse(e.data));
    events.close();
    drawSoon();
  });
}

// The map's switches: labels (on by default for small instances) and the clock.
function setUpSwitches() {
  const labels = document.getElementById("show-labels");
  const clock = document.getElementById("show-clock");
  labels.checked = state.labels;
  clock.checked = state.clock;
  document.getElementById("clock-note").textContent =
    `0 = ${clockText(0)}, ${CLOCK.unit === "s" ? "seconds" : "minutes"}`;
  labels.addEventListener("change", () => { state.labels = labels.checked; drawSoon(); });
  clock.addEventListener("change", () => { state.clock = clock.checked; drawSoon(); });
}

if (DATA.result) takeResult(DATA.result);
setUpSwitches();
draw();
if (DATA.live) follow();
window.addEventListener("resize", drawSoon);
