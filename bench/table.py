"""Reads bench/run's raw figures and prints the side-by-side table.

   table.py RESULTS-DIR RUNS RUNS-20 WITH-20 NMAP-20-CAP
"""
import csv
import re
import statistics
import sys
from pathlib import Path

OUT = Path(sys.argv[1])
RUNS, RUNS_20, WITH_20, NMAP_CAP = (int(a) for a in sys.argv[2:6])
TOOLS = {"24": ["hostsweep", "hostsweep-quick", "hostsweep-no-makers", "fping", "nmap", "nmap-sn",
               "nbtscan"],
         "24q": ["hostsweep", "hostsweep-quick", "nmap-sn"],
         "20": ["hostsweep", "fping", "nmap"]}


def timing(path):
    """wall, cpu (user+sys) seconds and peak MiB from GNU time's last line."""
    wall, user, system, peak = path.read_text().split("\n")[-2].split()
    return float(wall), float(user) + float(system), int(peak) / 1024


def found(tool, text):
    """(alive, named, MACs) in a tool's output."""
    if tool.startswith("hostsweep"):
        rows = [r for r in csv.DictReader(text.splitlines()) if r["state"] in ("alive", "silent")]
        return len(rows), sum(1 for r in rows if r["name"]), sum(1 for r in rows if r["mac"])
    if tool == "fping":
        return len(text.split()), 0, 0
    if tool.startswith("nmap"):
        hosts = re.findall(r"^Nmap scan report for (.*)$", text, re.M)
        named = sum(1 for h in hosts if "(" in h)
        macs = text.count("NetBIOS MAC:" if tool == "nmap" else "MAC Address:")
        return len(hosts), named, macs
    rows = [line.split() for line in text.splitlines() if re.match(r"^\d+\.\d+\.\d+\.\d+\s", line)]
    return len(rows), sum(1 for r in rows if len(r) > 1), sum(
        1 for r in rows if re.search(r"[0-9a-f]{2}(:[0-9a-f]{2}){5}", " ".join(r), re.I))


def spread(values, unit=""):
    if not values:
        return "-"
    median = statistics.median(values)
    if len(values) == 1:
        return f"{median:.2f}{unit}"
    return f"{median:.2f}{unit} [{min(values):.2f}-{max(values):.2f}]"


def runs_of(size, tool):
    # Runs only: "hostsweep-1", never "hostsweep-quick-1".
    return sorted(OUT.glob(f"{size}-{tool}-[0-9]*.time"), key=lambda p: int(p.stem.split("-")[-1]))


def section(size, label):
    print(f"\n{label}")
    header = ("tool", "wall s median [min-max]", "cpu s (user+sys)", "peak MiB",
              "hostsweep/tool wall", "alive", "named", "MACs")
    rows = [header]
    ours = {p.stem.split("-")[-1]: timing(p)[0] for p in runs_of(size, "hostsweep")}
    for tool in TOOLS[size]:
        paths = runs_of(size, tool)
        if not paths:
            continue
        figures = [timing(p) for p in paths]
        ratios = [ours[p.stem.split("-")[-1]] / f[0]
                  for p, f in zip(paths, figures) if p.stem.split("-")[-1] in ours and f[0] > 0]
        ratio = "-" if tool == "hostsweep" else spread(ratios, "x")
        result = found(tool, paths[-1].with_suffix(".out").read_text(errors="replace"))
        capped = tool == "nmap" and size == "20" and max(f[0] for f in figures) >= NMAP_CAP - 1
        rows.append((tool + (" (capped)" if capped else ""),
                     spread([f[0] for f in figures]), spread([f[1] for f in figures]),
                     spread([f[2] for f in figures]), ratio, *map(str, result)))
    widths = [max(len(r[i]) for r in rows) for i in range(len(header))]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


def worker_figures(priority):
    values = {}
    for path in sorted(OUT.glob(f"worker-{priority}-*.out")):
        for line in path.read_text().splitlines():
            key, value = line.split()
            values.setdefault(key, []).append(int(value))
    if not values:
        return
    print(f"\nworker, {priority} priority ({len(values['peak_rss_kib'])} runs; batch: "
          "10.213.0.12 live, then 10.213.0.100 live in a successor)")
    us = values["start_to_first_echo_us"]
    gap = values["first_to_second_target_us"]
    print(f"  process start to first echo request   {spread([v / 1000 for v in us], ' ms')}")
    print(f"  first echo to successor's first echo  {spread([v / 1000 for v in gap], ' ms')}")
    print(f"  peak memory, worker and successor     "
          f"{spread([v / 1024 for v in values['peak_rss_kib']], ' MiB')}")


section("24", f"/24: 10.213.0.0/24, 254 addresses, {RUNS} runs each, alternating, cold neighbours")
section("24q", f"/24 less foxtrot and mute (a dropped adapter query, dropped echo requests), "
        f"{RUNS} runs each")
if WITH_20:
    section("20", f"/20: 10.213.0.0/20, 4094 addresses, {RUNS_20} runs each "
            f"(nmap once, capped at {NMAP_CAP} s)")


def against_arp_scan():
    """hostsweep --localnet and arp-scan --localnet, host by host."""
    ours_path, theirs_path = OUT / "localnet-hostsweep.out", OUT / "localnet-arp-scan.out"
    if not ours_path.exists() or not theirs_path.exists():
        return
    ours = {r["address"]: r for r in csv.DictReader(ours_path.read_text().splitlines())
            if r["state"] in ("alive", "silent")}
    theirs = {}
    for line in theirs_path.read_text().splitlines():
        fields = line.split("\t")
        if len(fields) >= 3:
            # arp-scan's words for the makers it has none for, in ours.
            maker = {"(Unknown: locally administered)": "(locally administered)",
                     "(Unknown)": ""}.get(fields[2], fields[2])
            theirs[fields[0]] = (fields[1].lower(), maker)
    print("\nhostsweep --localnet against arp-scan --localnet (the lab's 10.213.0.0/20; "
          "arp-scan answers only for hosts on the link, so the scanner itself is ours alone)")
    agree = 0
    for address in sorted(set(ours) | set(theirs), key=lambda a: tuple(map(int, a.split(".")))):
        row, peer = ours.get(address), theirs.get(address)
        if row and peer and row["mac"] == peer[0] and row["vendor"] == peer[1]:
            agree += 1
            continue
        mine = f'{row["state"]} {row["mac"] or "-"} {row["vendor"] or "-"}' if row else "not found"
        other = f"{peer[0]} {peer[1]}" if peer else "not found"
        print(f"  {address:15} hostsweep: {mine}\n  {'':15} arp-scan:  {other}")
    print(f"  {agree} hosts agree on host, MAC and maker; "
          f"hostsweep found {len(ours)}, arp-scan {len(theirs)}")


against_arp_scan()
if (OUT / "registries").exists():
    print("\nmakers' registries (ieee-data):\n  " +
          (OUT / "registries").read_text().strip().replace("\n", "\n  "))
worker_figures("normal")
worker_figures("realtime")
if (OUT / "load").exists():
    print("\n" + (OUT / "load").read_text().strip())
print("\nhostsweep's cpu and peak memory include its workers (GNU time counts reaped children);"
      "\npeak memory is the largest single process, the controller's on large sweeps.")
