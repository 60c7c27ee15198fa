// The dashboard as a person uses it, in Debian's chromium driven by
// puppeteer-core: clicks, typing, the live stream, the page's widths and
// axe-core's reading of it. Run by integration.web inside the lab:
//   node dashboard.mjs URL STAND_IN HOSTILE_ADDRESS PROFILE
// It prints {"step":"saved"} once the stand-in's alias is saved through the
// page (the test then takes the stand-in away), and last a line of JSON, the
// verdict, which the test reads field by field. The whole run is one
// document: the page routes by its hash, and is never reloaded.
import { readFileSync, rmSync } from "node:fs";
import { createRequire } from "node:module";
import puppeteer from "puppeteer-core";

const [origin, standIn, hostileAddress, profile] = process.argv.slice(2);
const axeSource = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
// Long enough for a loaded machine; a step that never comes is the fault.
const patience = { timeout: 60000 };
const verdict = { dialogs: [], widths: {}, axe: {}, injected: 0 };

const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium",
  pipe: true,
  userDataDir: profile,
  defaultViewport: { width: 1280, height: 800 },
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync"],
});
const page = await browser.newPage();

// Each device row as the list shows it: its address and label.
const rows = () => page.$$eval("#device-table tbody tr", (trs) => trs.map((tr) => ({
  address: tr.querySelector('td[data-label="Address"]').textContent,
  label: tr.querySelector('td[data-label="Name"]').textContent,
})));

const rowIs = (address, status) => page.waitForFunction((wanted, said) =>
  [...document.querySelectorAll("#device-table tbody tr")].some((tr) =>
    tr.querySelector('td[data-label="Address"]').textContent === wanted &&
    tr.querySelector('td[data-label="Status"]').textContent === said), patience, address, status);

// What a hostile name could have put in: an element of its own.
const countInjected = async () => {
  verdict.injected += await page.$$eval("#injected, img", (found) => found.length);
};

// The page's [scrollWidth, clientWidth] at a phone's width and a desktop's:
// it scrolls sideways where the first is the larger.
async function fits(view) {
  for (const width of [390, 1280]) {
    await page.setViewport({ width, height: 800 });
    verdict.widths[`${view} at ${width}`] = await page.evaluate(() =>
      [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  }
}

// axe-core's serious and critical findings, each its rule, where and why, and
// how many of its rules the page passed (none: axe did not run); in the
// light colours and the dark ones the page offers (color-scheme).
async function audit(view) {
  if (!(await page.evaluate(() => "axe" in window))) {
    await page.evaluate(axeSource);
  }
  for (const scheme of ["light", "dark"]) {
    await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: scheme }]);
    verdict.axe[`${view}, ${scheme}`] = await page.evaluate(async () => {
      const found = await window.axe.run(document, { resultTypes: ["violations"] });
      return {
        passed: found.passes.length,
        faults: found.violations.filter((violation) => ["serious", "critical"].includes(violation.impact))
          .map((violation) => `${violation.id} at ${violation.nodes.map((node) => node.target.join(" ")).join(", ")}: ` +
            violation.nodes[0].any.map((check) => check.message).join(" ")),
      };
    });
  }
  await page.emulateMediaFeatures([]);
}

// A click on the device's link in the list, and its page drawn.
async function openDevice(address) {
  await page.waitForFunction(() => !document.getElementById("devices").hidden, patience);
  const link = await page.evaluateHandle((wanted) => [...document.querySelectorAll("#device-table tbody tr")]
    .find((tr) => tr.querySelector('td[data-label="Address"]').textContent === wanted).querySelector("a"), address);
  await link.click();
  await page.waitForFunction((wanted) => !document.getElementById("device").hidden &&
    [...document.querySelectorAll("#device-facts dd")].some((dd) => dd.textContent === wanted) &&
    document.querySelector("#timeline-choice [aria-pressed]") !== null, patience, address);
}

const backToList = () => page.click('#device a[href="#"]');

try {
  page.on("dialog", (dialog) => {
    verdict.dialogs.push(dialog.message());
    dialog.dismiss().catch(() => {});
  });
  // Counted from the document's start: an injected handler the policy stopped.
  await page.evaluateOnNewDocument(() => {
    window.blocked = [];
    document.addEventListener("securitypolicyviolation", (event) => window.blocked.push(event.violatedDirective));
  });
  await page.goto(`${origin}/`);
  await rowIs(standIn, "present");
  await page.waitForSelector("#network-grids .grid", patience);
  await page.evaluate(() => { window.sameDocument = true; });
  verdict.listed = (await rows()).map((row) => row.address);
  verdict.counts = await page.$eval("#counts", (counts) => counts.textContent);
  verdict.networks = await page.$$eval("#network-grids p.network", (found) => found.map((p) => p.textContent));
  verdict.hostile = { list: (await rows()).find((row) => row.address === hostileAddress).label };
  await countInjected();
  await audit("list");
  await fits("list");

  await openDevice(hostileAddress);
  verdict.hostile.device = await page.$eval("#device-title", (title) => title.textContent);
  await countInjected();
  verdict.timeline = await page.evaluate(async () => {
    const id = /\d+$/.exec(location.hash)[0];
    const device = await (await fetch(`/api/devices/${id}`)).json();
    const bars = [...document.querySelectorAll("#timeline span")];
    return { sessions: device.sessions.length, bars: bars.filter((bar) => parseFloat(bar.style.width) > 0).length };
  });
  await audit("device");
  await fits("device");

  // The stand-in made known through the form, as a person types it.
  await backToList();
  await openDevice(standIn);
  await page.waitForSelector("#known-form:not([hidden])", patience);
  verdict.saveButton = await page.$eval("#known-save", (button) => button.textContent);
  for (const [field, text] of [["#known-alias", "phone"], ["#known-owner", "ann"], ["#known-note", 'mine, "really"']]) {
    await page.click(field, { clickCount: 3 });
    await page.type(field, text);
  }
  await page.click("#known-save");
  await page.waitForFunction(() => document.getElementById("known-said").textContent !== "", patience);
  verdict.saved = await page.$eval("#known-said", (said) => said.textContent);
  await backToList();
  console.log(JSON.stringify({ step: "saved" }));

  // Taken away by the test now: the open list tells it from the stream.
  await rowIs(standIn, "away");
  verdict.awayLabel = (await rows()).find((row) => row.address === standIn).label;
  verdict.sameDocument = await page.evaluate(() => window.sameDocument === true);
  await countInjected();
  verdict.blocked = await page.evaluate(() => window.blocked);
} catch (error) {
  verdict.error = String(error.stack || error);
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
  console.log(JSON.stringify(verdict));
}
