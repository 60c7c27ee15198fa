// The dashboard: the devices, a device's timeline, and the events as they
// come. Every text from the network goes in through textContent: a name is
// shown, never read as markup.
"use strict";

const state = { devices: [], sortKey: "label", ascending: true, page: 0, events: [], lastEvent: null, session: null, wantedType: "" };

function element(tag, text, className) {
  const made = document.createElement(tag);
  if (text !== undefined && text !== null) {
    made.textContent = String(text);
  }
  if (className) {
    made.className = className;
  }
  return made;
}

// toLocaleString's own format, made once: each call of it makes another.
const localTime = new Intl.DateTimeFormat(undefined, {
  year: "numeric", month: "numeric", day: "numeric", hour: "numeric", minute: "numeric", second: "numeric",
});

function when(utc) {
  if (!utc) {
    return "";
  }
  const date = new Date(utc);
  return isNaN(date) ? utc : localTime.format(date);
}

function statusOf(device) {
  return device.present ? "present" : device.missing ? "missing" : "away";
}

function labelOf(device) {
  return device.alias || device.name || "";
}

// Addresses sort by their numbers; everything else as text.
function sortValue(device, key) {
  if (key === "label") {
    return labelOf(device).toLowerCase();
  }
  if (key === "status") {
    return statusOf(device);
  }
  if (key === "address") {
    const parts = device.address.split(".");
    return parts.length === 4 ? parts.reduce((sum, part) => sum * 256 + Number(part), 0) : device.address;
  }
  const value = device[key];
  return typeof value === "string" ? value.toLowerCase() : value === null ? "" : value;
}

function newToday(device) {
  const midnight = new Date();
  midnight.setHours(0, 0, 0, 0);
  return new Date(device.first_seen) >= midnight;
}

const shows = {
  all: () => true,
  unknown: (device) => !device.known,
  new: newToday,
  away: (device) => !device.present,
};

// Each device's searched text, made at its first search and kept while the
// list read is the same, rather than at every key typed.
const haystacks = new WeakMap();

function matches(device, words) {
  if (!words.length) {
    return true;
  }
  let haystack = haystacks.get(device);
  if (haystack === undefined) {
    haystack = [labelOf(device), device.name, device.address, device.mac, device.vendor, device.type, device.model, device.owner]
      .filter(Boolean).join(" ").toLowerCase();
    haystacks.set(device, haystack);
  }
  return words.every((word) => haystack.includes(word));
}

// Each column's heading, which a phone's width shows beside each cell.
const headings = new Map();

function cell(row, key, text, className) {
  const td = element("td", text, className || key);
  if (!headings.has(key)) {
    headings.set(key, document.querySelector(`th[data-key="${key}"]`).textContent);
  }
  td.dataset.label = headings.get(key);
  row.append(td);
  return td;
}

// A page of rows: what a screen or two shows is laid out at once, not ten
// thousand rows nobody scrolls through; the pager, search and filters reach
// the rest.
const pageRows = 100;

function pageOf(shown) {
  state.page = Math.max(0, Math.min(state.page, Math.ceil(shown.length / pageRows) - 1));
  const first = state.page * pageRows;
  const pager = document.getElementById("pager");
  pager.hidden = shown.length <= pageRows;
  document.getElementById("page-said").textContent =
    `rows ${first + 1}-${Math.min(first + pageRows, shown.length)} of ${shown.length}`;
  document.getElementById("previous-page").disabled = state.page === 0;
  document.getElementById("next-page").disabled = first + pageRows >= shown.length;
  return shown.slice(first, first + pageRows);
}

function drawDevices() {
  const words = document.getElementById("search").value.toLowerCase().split(/\s+/).filter(Boolean);
  const show = shows[document.getElementById("show").value] || shows.all;
  const type = document.getElementById("type-filter").value;
  const shown = state.devices.filter((device) => matches(device, words) && show(device) &&
    (!type || device.type === type));
  const key = state.sortKey;
  // Each device's value once, not at each of the sort's comparisons.
  const direction = state.ascending ? 1 : -1;
  const sorted = shown.map((device) => [sortValue(device, key), device])
    .sort(([x], [y]) => (x < y ? -1 : x > y ? 1 : 0) * direction).map(([, device]) => device);
  const body = document.querySelector("#device-table tbody");
  const rows = pageOf(sorted).map((device) => {
    const row = element("tr", null, device.present ? "present-row" : "away");
    const link = element("a", labelOf(device) || "(no name)");
    link.href = `#device/${device.id}`;
    cell(row, "label", null).append(link);
    cell(row, "address", device.address);
    cell(row, "mac", device.mac);
    cell(row, "vendor", device.vendor);
    cell(row, "type", [device.type, device.model].filter(Boolean).join(" "));
    cell(row, "status", statusOf(device), statusOf(device));
    cell(row, "since", when(device.since));
    cell(row, "first_seen", when(device.first_seen));
    cell(row, "last_seen", when(device.last_seen));
    cell(row, "known", device.known ? "yes" : "no");
    return row;
  });
  body.replaceChildren(...rows);
  document.querySelectorAll("#device-table th").forEach((th) => {
    th.setAttribute("aria-sort", th.dataset.key !== key ? "none" : state.ascending ? "ascending" : "descending");
  });
  const present = state.devices.filter((device) => device.present).length;
  const unknown = state.devices.filter((device) => !device.known).length;
  const fresh = state.devices.filter(newToday).length;
  document.getElementById("counts").textContent =
    `${state.devices.length} devices: ${present} present, ${state.devices.length - present} away, ` +
    `${unknown} unknown, ${fresh} new today` +
    (shown.length !== state.devices.length ? `; ${shown.length} shown` : "");
}

function turnPage(by) {
  state.page += by;
  drawDevices();
}

// A new search, filter or order starts at its first page.
function drawFirstPage() {
  state.page = 0;
  drawDevices();
}

function gridOf(devices) {
  const grid = element("div", null, "grid");
  const cells = document.createDocumentFragment();
  for (const [offset, device] of devices) {
    const cell = element("a", offset, statusOf(device));
    cell.href = `#device/${device.id}`;
    cell.title = `${device.address} ${labelOf(device)} ${statusOf(device)}`;
    cell.setAttribute("aria-label", cell.title);
    cell.style.gridRow = String(Math.floor(offset / 16) + 1);
    cell.style.gridColumn = String((offset % 16) + 1);
    cells.append(cell);
  }
  grid.append(cells);
  return grid;
}

let networkDrawing = 0;

// Each /24 the devices are in, a square of 16 by 16 under its label, each
// device at its own offset: rows start at multiples of 16. Below the list,
// so drawn after it, a /24 a task: forty of them (10 000 devices) never hold
// the page still, and a newer list stops an older drawing.
function drawNetwork() {
  const blocks = new Map();
  for (const device of state.devices) {
    const parts = device.address.split(".");
    if (parts.length !== 4) {
      continue;
    }
    const network = parts.slice(0, 3).join(".");
    if (!blocks.has(network)) {
      blocks.set(network, []);
    }
    blocks.get(network).push([Number(parts[3]), device]);
  }
  const numeric = (network) => network.split(".").reduce((sum, part) => sum * 256 + Number(part), 0);
  const networks = [...blocks.keys()].sort((a, b) => numeric(a) - numeric(b));
  const drawing = ++networkDrawing;
  const grids = document.getElementById("network-grids");
  grids.replaceChildren();
  const next = (at) => {
    if (drawing !== networkDrawing || at >= networks.length) {
      return;
    }
    grids.append(element("p", `${networks[at]}.0/24`, "network"), gridOf(blocks.get(networks[at])));
    setTimeout(next, 0, at + 1);
  };
  setTimeout(next, 0, 0);
}

// What a link conflict's event heard: an address's two MACs, or a MAC's addresses.
function conflictText(conflict) {
  if (!conflict) {
    return "";
  }
  return conflict.kind === "address" ? ` (${conflict.macs.join(" and ")})` : ` (${conflict.addresses} addresses)`;
}

function eventItem(event) {
  const device = event.device;
  const name = device.alias || device.name || "";
  const text = `${when(event.time)} ${event.kind} ${device.address} ${name} ${device.mac || ""}` +
    (event.previous ? ` (was ${event.previous})` : "") + conflictText(event.conflict);
  const item = element("li");
  const link = element("a", text.replace(/\s+/g, " ").trim());
  // A conflict's event may name no device the database has.
  if (device.id) {
    link.href = `#device/${device.id}`;
  }
  item.append(link);
  return item;
}

function drawEvents() {
  const newest = state.events.slice(-200).reverse();
  document.getElementById("events").replaceChildren(...newest.map(eventItem));
}

async function fetchJson(path) {
  const response = await fetch(path, { cache: "no-store" });
  if (!response.ok) {
    throw new Error(`${path}: ${response.status}`);
  }
  return response.json();
}

// The type filter offers the types the devices have.
function fillTypes() {
  const select = document.getElementById("type-filter");
  const chosen = select.value || state.wantedType;
  state.wantedType = "";
  const types = [...new Set(state.devices.map((device) => device.type).filter(Boolean))].sort();
  const options = types.map((type) => {
    const option = element("option", type);
    option.value = type;
    return option;
  });
  const any = element("option", "any");
  any.value = "";
  select.replaceChildren(any, ...options);
  select.value = types.includes(chosen) ? chosen : "";
}

async function loadDevices() {
  state.devices = await fetchJson("/api/devices");
  fillTypes();
  drawDevices();
  drawNetwork();
}

let refresh = null;

// Events arrive as the watch commits them; the list is read again after a burst.
function listen() {
  const live = document.getElementById("live");
  const stream = new EventSource(`/api/events/stream${state.lastEvent !== null ? `?after=${state.lastEvent}` : ""}`);
  stream.onopen = () => { live.textContent = "Live."; };
  stream.onerror = () => { live.textContent = "Reconnecting…"; };
  stream.onmessage = (message) => {
    const event = JSON.parse(message.data);
    state.events.push(event);
    state.lastEvent = event.id;
    drawEvents();
    clearTimeout(refresh);
    refresh = setTimeout(() => loadDevices().catch(() => {}), 200);
  };
}

function drawTimeline(device, span) {
  const timeline = document.getElementById("timeline");
  const end = Date.now() / 1000;
  const start = end - span;
  const bars = [];
  let presentFor = 0;
  for (const session of device.sessions) {
    const began = Math.max(Date.parse(session.began) / 1000, start);
    const ended = session.ended ? Date.parse(session.ended) / 1000 : end;
    if (ended < start || began > end) {
      continue;
    }
    presentFor += ended - began;
    const bar = element("span");
    bar.style.left = `${((began - start) / span) * 100}%`;
    bar.style.width = `${((ended - began) / span) * 100}%`;
    bar.title = `${when(session.began)} to ${session.ended ? when(session.ended) : "now"}`;
    bars.push(bar);
  }
  timeline.replaceChildren(...bars);
  timeline.setAttribute("aria-label", `present ${Math.round((presentFor / span) * 100)}% of the span`);
  document.querySelectorAll("#timeline-choice button").forEach((button) => {
    button.setAttribute("aria-pressed", String(Number(button.dataset.span) === span));
  });
}

// away_after in the file's words: 20m rather than 1200.
function durationText(seconds) {
  if (!seconds) {
    return "";
  }
  return seconds % 3600 === 0 ? `${seconds / 3600}h` : seconds % 60 === 0 ? `${seconds / 60}m` : `${seconds}s`;
}

// The inventory's row of the device, edited in place; a device it does not
// know gets one ("this device is mine").
function showKnownForm(device) {
  const form = document.getElementById("known-form");
  const editable = Boolean(state.session && state.session.editable);
  form.hidden = !editable;
  document.getElementById("read-only").hidden = editable;
  if (!editable) {
    return;
  }
  document.getElementById("known-title").textContent = device.known ? "In your inventory" : "Not in your inventory";
  document.getElementById("known-save").textContent = device.known ? "Save" : "This device is mine";
  document.getElementById("known-said").textContent = "";
  form.elements.alias.value = device.alias || "";
  form.elements.owner.value = device.owner || "";
  form.elements.expect.value = device.expect || "";
  form.elements.away_after.value = durationText(device.away_after);
  form.elements.note.value = device.note || "";
  form.onsubmit = async (submitted) => {
    submitted.preventDefault();
    const said = document.getElementById("known-said");
    const body = { device: device.id };
    for (const field of ["alias", "owner", "expect", "away_after", "note"]) {
      body[field] = form.elements[field].value.trim();
    }
    const response = await fetch("/api/known", {
      method: "POST",
      headers: { "Content-Type": "application/json", "X-Hostsweep-Token": state.session.token },
      body: JSON.stringify(body),
    });
    if (!response.ok) {
      said.textContent = `Not saved: ${await response.text()}`;
      return;
    }
    await showDevice(device.id);
    document.getElementById("known-said").textContent = "Saved to the --known file; the watch takes it at its next sweep.";
    loadDevices().catch(() => {});
  };
}

let eventsShowing = 0;

// The newest events at once, the older ones (up to 500) after the page is
// drawn, unless another device's page came first.
function showDeviceEvents(newestFirst) {
  const list = document.getElementById("device-events");
  const showing = ++eventsShowing;
  list.replaceChildren(...newestFirst.slice(0, 50).map(eventItem));
  setTimeout(() => {
    if (showing === eventsShowing) {
      list.append(...newestFirst.slice(50).map(eventItem));
    }
  });
}

async function showDevice(id) {
  const device = await fetchJson(`/api/devices/${id}`);
  document.getElementById("device-title").textContent = labelOf(device) || device.address;
  const facts = [["Address", device.address], ["Name", device.name], ["Alias", device.alias], ["Owner", device.owner],
    ["MAC", device.mac], ["Maker", device.vendor], ["Type", device.type], ["Model", device.model],
    ["Status", `${statusOf(device)} since ${when(device.since)}`], ["First seen", when(device.first_seen)],
    ["Last seen", when(device.last_seen)], ["Known", device.known ? "yes" : "no"], ["Note", device.note]];
  document.getElementById("device-facts").replaceChildren(...facts.filter(([, value]) => value)
    .flatMap(([term, value]) => [element("dt", term), element("dd", value)]));
  const values = [["address", device.addresses], ["name", device.names], ["MAC", device.macs]].flatMap(([kind, list]) =>
    list.map((past) => element("li", `${kind} ${past.value}: ${when(past.first_seen)} to ${when(past.last_seen)}`)));
  document.getElementById("device-values").replaceChildren(...values);
  // Those it announces now were last heard when it was.
  const until = (service) => service.last_seen ? when(service.last_seen) : device.present ? "now" : when(device.last_seen);
  const services = device.services.map((service) =>
    element("li", `${service.type}: ${when(service.first_seen)} to ${until(service)}`));
  document.getElementById("device-services")
    .replaceChildren(...(services.length ? services : [element("li", "none announced")]));
  showDeviceEvents(device.events.slice().reverse());
  showKnownForm(device);
  document.querySelectorAll("#timeline-choice button").forEach((button) => {
    button.onclick = () => drawTimeline(device, Number(button.dataset.span));
  });
  drawTimeline(device, 86400);
}

function route() {
  const wanted = /^#device\/(\d+)$/.exec(location.hash);
  document.getElementById("device").hidden = !wanted;
  document.getElementById("devices").hidden = Boolean(wanted);
  if (wanted) {
    showDevice(wanted[1]).catch((error) => { document.getElementById("device-title").textContent = String(error.message); });
  }
}

// The list as a link keeps it: ?q=, ?show=, ?type= and ?sort= (a column's
// key, after "-" for descending).
function takeParameters(params) {
  document.getElementById("search").value = params.get("q") || "";
  document.getElementById("show").value = shows[params.get("show")] ? params.get("show") : "all";
  state.wantedType = params.get("type") || "";
  const sort = params.get("sort");
  if (sort && document.querySelector(`th[data-key="${CSS.escape(sort.replace(/^-/, ""))}"]`)) {
    state.ascending = !sort.startsWith("-");
    state.sortKey = sort.replace(/^-/, "");
  }
}

document.addEventListener("DOMContentLoaded", () => {
  takeParameters(new URLSearchParams(location.search));
  document.getElementById("search").addEventListener("input", drawFirstPage);
  document.getElementById("show").addEventListener("change", drawFirstPage);
  document.getElementById("type-filter").addEventListener("change", drawFirstPage);
  document.getElementById("previous-page").addEventListener("click", () => turnPage(-1));
  document.getElementById("next-page").addEventListener("click", () => turnPage(1));
  document.querySelectorAll("#device-table th").forEach((th) => {
    th.querySelector("button").addEventListener("click", () => {
      state.ascending = state.sortKey === th.dataset.key ? !state.ascending : true;
      state.sortKey = th.dataset.key;
      drawFirstPage();
    });
  });
  window.addEventListener("hashchange", route);
  Promise.all([fetchJson("/api/session").then((session) => { state.session = session; route(); }), loadDevices(), fetchJson("/api/events").then((events) => {
    state.events = events;
    state.lastEvent = events.length ? events[events.length - 1].id : 0;
    drawEvents();
  })]).catch((error) => { document.getElementById("counts").textContent = String(error.message); })
    .finally(() => {
      // ?live=0: a still page (a printout, a screenshot), no stream held open.
      if (new URLSearchParams(location.search).get("live") !== "0") {
        listen();
      } else {
        document.getElementById("live").textContent = "Not live: reload for the latest.";
      }
    });
});
