#!/usr/bin/env python3
"""The dashboard's page in headless Chromium, driven over the DevTools
protocol on a pipe (no port, no package beyond python3 and chromium).

  dashboard_page.py time URL [--runs N] [--device ID]   each run in a fresh
      profile (an empty cache): first contentful paint, the sorted device
      list in the page, and the first frame after it (the list on the
      screen), in ms from navigation; then, from the list, device ID's page
      (3) until its timeline's 30 days are drawn; the median of N (5)
  dashboard_page.py open URL --pages N --seconds S   N pages, each in a
      profile of its own (its own connections and event stream), held open
      for S seconds

Run inside the lab's namespace, with the dashboard on its loopback.
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

# Before the page's own script: when the list's first rows go in, and the
# frame after them. The protocol's scripts are not bound by the page's
# content-security policy.
WATCHER = """
window.__timing = {};
new PerformanceObserver((list) => {
  for (const entry of list.getEntries()) {
    if (entry.name === "first-contentful-paint") window.__timing.content = entry.startTime;
  }
}).observe({ type: "paint", buffered: true });
document.addEventListener("DOMContentLoaded", () => {
  const body = document.querySelector("#device-table tbody");
  new MutationObserver((records, observer) => {
    if (!body.rows.length) return;
    observer.disconnect();
    window.__timing.listed = performance.now();
    requestAnimationFrame(() => setTimeout(() => { window.__timing.shown = performance.now(); }));
  }).observe(body, { childList: true });
});
"""

# From the list to a device's page and its 30 days, each step's frame drawn.
TIMELINE = """
(async () => {
  const frame = () => new Promise((done) => requestAnimationFrame(() => setTimeout(done)));
  const began = performance.now();
  location.hash = "#device/DEVICE";
  while (!document.getElementById("timeline").hasAttribute("aria-label")) await frame();
  document.querySelector('#timeline-choice button[data-span="2592000"]').click();
  await frame();
  return performance.now() - began;
})()
"""


class Browser:
    def __init__(self, chromium):
        self.profile = tempfile.mkdtemp(prefix="hostsweep-page-")
        to_browser, self._write = os.pipe()
        self._read, from_browser = os.pipe()

        # The browser reads commands on its descriptor 3 and answers on 4.
        def descriptors():
            reading, writing = os.dup(to_browser), os.dup(from_browser)
            os.dup2(reading, 3)
            os.dup2(writing, 4)

        self.process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--remote-debugging-pipe",
             "--user-data-dir=" + self.profile, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=descriptors, pass_fds=(3, 4))
        os.close(to_browser)
        os.close(from_browser)
        self._next = 0
        self._buffer = b""

    def call(self, method, session=None, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._write, json.dumps(message).encode() + b"\0")
        while True:
            answer = self._message()
            if answer.get("id") == self._next:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]

    def _message(self):
        while b"\0" not in self._buffer:
            chunk = os.read(self._read, 65536)
            if not chunk:
                raise RuntimeError("chromium ended")
            self._buffer += chunk
        text, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(text)

    def page(self, url, before=None):
        """A page of a profile of its own at `url`: (context, session)."""
        context = self.call("Target.createBrowserContext")["browserContextId"]
        target = self.call("Target.createTarget", url="about:blank",
                           browserContextId=context)["targetId"]
        session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable", session)
        if before:
            self.call("Page.addScriptToEvaluateOnNewDocument", session, source=before)
        self.call("Page.navigate", session, url=url)
        return context, session

    def value(self, session, expression):
        return self.call("Runtime.evaluate", session, expression=expression,
                         returnByValue=True)["result"].get("value")

    def close(self):
        try:
            self.call("Browser.close")
        except RuntimeError:
            pass
        self.process.wait(timeout=10)
        shutil.rmtree(self.profile, ignore_errors=True)


def time_page(browser, url, runs, device):
    figures = {"content": [], "listed": [], "shown": [], "timeline": []}
    for _ in range(runs):
        context, session = browser.page(url, WATCHER)
        deadline = time.monotonic() + 30
        timing = {}
        while time.monotonic() < deadline and not {"content", "shown"} <= timing.keys():
            time.sleep(0.05)
            timing = browser.value(session, "window.__timing") or {}
        if not {"content", "shown"} <= timing.keys():
            raise RuntimeError(f"the page never showed its list: {timing}")
        timing["timeline"] = browser.call(
            "Runtime.evaluate", session, expression=TIMELINE.replace("DEVICE", str(device)),
            awaitPromise=True, returnByValue=True)["result"]["value"]
        for key in figures:
            figures[key].append(timing[key])
        browser.call("Target.disposeBrowserContext", browserContextId=context)
    median = {key: statistics.median(values) for key, values in figures.items()}
    print(f"page {url}, median of {runs} (fresh profiles): first content {median['content']:.0f} ms, "
          f"sorted list {median['listed']:.0f} ms, its first frame {median['shown']:.0f} ms; "
          f"each run's frame: {', '.join(f'{value:.0f}' for value in figures['shown'])} ms; "
          f"device {device}'s 30-day timeline {median['timeline']:.0f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["time", "open"])
    parser.add_argument("url")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--device", type=int, default=3)
    parser.add_argument("--pages", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    options = parser.parse_args()
    # Stopped by the benchmark (SIGTERM): the browser closed and its profile
    # removed all the same.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    browser = Browser(options.chromium)
    try:
        if options.mode == "time":
            time_page(browser, options.url, options.runs, options.device)
        else:
            for _ in range(options.pages):
                browser.page(options.url)
            time.sleep(options.seconds)
    finally:
        browser.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
