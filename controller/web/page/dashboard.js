// The dashboard: the devices, a device's timeline, and the events as they
// come. Every text from the network goes in through textContent: a name is
// shown, never read as markup.
"use strict";

const state = { devices: [], sortKey: "label", ascending: true, events: [], lastEvent: null };

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

function when(utc) {
  if (!utc) {
    return "";
  }
  const date = new Date(utc);
  return isNaN(date) ? utc : date.toLocaleString();
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

function matches(device, words) {
  const haystack = [labelOf(device), device.name, device.address, device.mac, device.vendor, device.type, device.model, device.owner]
    .filter(Boolean).join(" ").toLowerCase();
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

function drawDevices() {
  const words = document.getElementById("search").value.toLowerCase().split(/\s+/).filter(Boolean);
  const shown = state.devices.filter((device) => matches(device, words));
  const key = state.sortKey;
  shown.sort((a, b) => {
    const x = sortValue(a, key);
    const y = sortValue(b, key);
    return (x < y ? -1 : x > y ? 1 : 0) * (state.ascending ? 1 : -1);
  });
  const body = document.querySelector("#device-table tbody");
  const rows = shown.map((device) => {
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
  document.getElementById("counts").textContent =
    `${state.devices.length} devices: ${present} present, ${state.devices.length - present} away, ${unknown} unknown` +
    (shown.length !== state.devices.length ? `; ${shown.length} shown` : "");
}

function eventItem(event) {
  const device = event.device;
  const name = device.alias || device.name || "";
  const text = `${when(event.time)} ${event.kind} ${device.address} ${name} ${device.mac || ""}` +
    (event.previous ? ` (was ${event.previous})` : "");
  const item = element("li");
  const link = element("a", text.replace(/\s+/g, " ").trim());
  link.href = `#device/${device.id}`;
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

async function loadDevices() {
  state.devices = await fetchJson("/api/devices");
  drawDevices();
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

async function showDevice(id) {
  const device = await fetchJson(`/api/devices/${id}`);
  document.getElementById("device-title").textContent = labelOf(device) || device.address;
  const facts = [["Address", device.address], ["Name", device.name], ["Alias", device.alias], ["Owner", device.owner],
    ["MAC", device.mac], ["Maker", device.vendor], ["Type", device.type], ["Model", device.model],
    ["Status", `${statusOf(device)} since ${when(device.since)}`], ["First seen", when(device.first_seen)],
    ["Last seen", when(device.last_seen)], ["Known", device.known ? "yes" : "no"]];
  document.getElementById("device-facts").replaceChildren(...facts.filter(([, value]) => value)
    .flatMap(([term, value]) => [element("dt", term), element("dd", value)]));
  const values = [["address", device.addresses], ["name", device.names], ["MAC", device.macs]].flatMap(([kind, list]) =>
    list.map((past) => element("li", `${kind} ${past.value}: ${when(past.first_seen)} to ${when(past.last_seen)}`)));
  document.getElementById("device-values").replaceChildren(...values);
  document.getElementById("device-events").replaceChildren(...device.events.slice().reverse().map(eventItem));
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

document.addEventListener("DOMContentLoaded", () => {
  document.getElementById("search").addEventListener("input", drawDevices);
  document.querySelectorAll("#device-table th").forEach((th) => {
    th.querySelector("button").addEventListener("click", () => {
      state.ascending = state.sortKey === th.dataset.key ? !state.ascending : true;
      state.sortKey = th.dataset.key;
      drawDevices();
    });
  });
  window.addEventListener("hashchange", route);
  route();
  Promise.all([loadDevices(), fetchJson("/api/events").then((events) => {
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
