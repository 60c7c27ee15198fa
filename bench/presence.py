"""Each phone's presence through a simulated day, as two watches told it:
false "gone" events (the phones never leave) and a timeline, an hour of the
day a character: '#' present all of it, '-' told gone for some of it, ' '
not yet found.

    python3 bench/presence.py COMPRESS HEARING DEAF

HEARING and DEAF name the stamped output of bench/day's two watches
(NAME.lines, NAME.heartbeats: arrival time, then the line).
"""
import bisect
import json
import sys

SWEEPS_AN_HOUR = 12


def read(name):
    sweeps = []
    with open(f"{name}.heartbeats") as heartbeats:
        for line in heartbeats:
            if " swept, " in line:
                sweeps.append(float(line.split()[0]))
    events = []
    with open(f"{name}.lines") as lines:
        for line in lines:
            stamp, _, text = line.partition(" ")
            events.append((float(stamp), json.loads(text)))
    return sweeps, events


def timelines(sweeps, events):
    """Per address: the hour of each sweep, present or not, and gone events."""
    hours = (len(sweeps) + SWEEPS_AN_HOUR - 1) // SWEEPS_AN_HOUR
    states = {}
    for stamp, event in events:
        sweep = bisect.bisect_left(sweeps, stamp)
        states.setdefault(event["address"], []).append((sweep, event["change"]))
    result = {}
    for address, changes in sorted(states.items()):
        marks = []
        for hour in range(hours):
            first, last = hour * SWEEPS_AN_HOUR, (hour + 1) * SWEEPS_AN_HOUR
            before = [c for s, c in changes if s < first]
            within = [c for s, c in changes if first <= s < last]
            known = bool(before) or bool(within)
            if "gone" in within or (before and before[-1] == "gone"):
                marks.append("-")
            else:
                marks.append("#" if known else " ")
        gone = sum(1 for _, c in changes if c == "gone")
        result[address] = ("".join(marks), gone)
    return result


def main():
    compress, hearing, deaf = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    for label, name in (("listening", hearing), ("deaf", deaf)):
        sweeps, events = read(name)
        if len(sweeps) > 1:
            gap = (sweeps[-1] - sweeps[0]) / (len(sweeps) - 1)
            print(f"{label}: {len(sweeps)} sweeps, one every {gap:.1f} s "
                  f"({gap * compress / 60:.1f} simulated minutes)")
        lines = timelines(sweeps, events)
        print(f"{label}: {sum(g for _, g in lines.values())} false gone events")
        for address, (marks, gone) in lines.items():
            print(f"  {address:<12} |{marks}| {gone} gone")


if __name__ == "__main__":
    main()
