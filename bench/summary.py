#!/usr/bin/env python3
"""Gathers the benchmark programs' JSON outputs and the desktop measurement into one file and
prints every figure beside its target (medians of the repetitions).

Usage: bench/summary.py RAW_DIR OUT_JSON
"""

import json
import pathlib
import sys

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load_medians(raw):
    """Benchmark name -> its median over the repetitions (or its only run), over every
    program's output."""
    medians, runs, context = {}, {}, None
    for path in sorted(raw.glob("*.bench.json")):
        data = json.loads(path.read_text())
        context = context or data["context"]
        for entry in data["benchmarks"]:
            if entry.get("error_occurred"):
                sys.exit(f"{entry['name']}: {entry.get('error_message', 'failed')}")
            if entry.get("run_type") == "iteration":
                runs[entry["run_name"]] = entry
            elif entry.get("aggregate_name") == "median":
                medians[entry["run_name"]] = entry
    return {**runs, **medians}, context


def seconds(entry, key):
    return entry[key] * UNIT_SECONDS[entry["time_unit"]]


class Table:
    def __init__(self, medians):
        self.medians = medians
        self.rows = []

    def time(self, figure, what, name, judged, unit, limit):
        """A timed figure: wall and CPU time; the target applies to `judged`."""
        entry = self.medians[name]
        wall = seconds(entry, "real_time") / UNIT_SECONDS[unit]
        cpu = seconds(entry, "cpu_time") / UNIT_SECONDS[unit]
        value = wall if judged == "wall" else cpu
        self.rows.append(self.row(figure, what, value, unit, limit, judged, wall, cpu))

    def add(self, figure, what, value, unit, limit):
        self.rows.append(self.row(figure, what, value, unit, limit, "value", None, None))

    @staticmethod
    def row(figure, what, value, unit, limit, judged, wall, cpu):
        met = None if limit is None else value <= limit
        return {"figure": figure, "what": what, "value": value, "unit": unit, "judged": judged,
                "wall": wall, "cpu": cpu, "target": limit, "met": met}

    def print(self):
        print(f"{'#':>2}  {'figure (medians)':<52} {'wall':>10} {'CPU':>10} {'value':>10}"
              f"  {'target':<16}")
        for r in self.rows:
            cells = [f"{r[k]:>10.3f}" if r[k] is not None else f"{'':>10}"
                     for k in ("wall", "cpu")]
            target = "" if r["target"] is None else f"{r['judged']} <= {r['target']:g}"
            verdict = {True: "met", False: "MISSED", None: ""}[r["met"]]
            print(f"{r['figure']:>2}  {r['what']:<52} {cells[0]} {cells[1]} "
                  f"{r['value']:>7.3f} {r['unit']:<2}  {target:<16} {verdict}")


def points_text(points):
    return f"1e{len(str(points)) - 1}"


def build_table(medians, desktop):
    t = Table(medians)
    t.time(1, "transaction at 115200 baud", "BM_Transaction/real_time", "wall", "ms", 1.0)
    t.time(1, "transaction at 115200 baud", "BM_Transaction/real_time", "cpu", "ms", 0.3)
    t.time(2, "transaction, supply answering after 300 ms",
           "BM_SlowSupplyTransaction/iterations:3/real_time", "cpu", "ms", 0.5)
    t.time(2, "  control: prompt supply, each after a 300 ms sleep",
           "BM_TransactionAfterIdle/iterations:3/real_time", "cpu", "ms", None)
    t.time(2, "  reference: polling the port without waiting",
           "BM_SlowSupplySpinningReference/iterations:3/real_time", "cpu", "ms", None)
    for points in (1000, 10000, 100000, 1000000, 10000000):
        name = f"BM_AppendPoint/points:{points}/schedules_redraw:"
        t.time(3, f"append at {points_text(points)} points, scheduling the redraw", name + "1",
               "cpu", "us", 1.0)
        t.time(3, "  the same, a redraw scheduled already", name + "0", "cpu", "us", None)
    for points in (1000, 10000, 100000, 1000000, 10000000):
        limit = {1000000: 5.0, 10000000: 10.0}.get(points)
        t.time(4, f"redraw at {points_text(points)} points", f"BM_Redraw/points:{points}", "wall", "ms",
               limit)
        t.time(4, f"  engine's adaptive sampling at {points_text(points)} points",
               f"BM_RedrawEngineSampling/points:{points}", "wall", "ms", None)
    memory = medians["BM_MemoryPerSample/iterations:1"]
    t.add(5, "memory per sample, three charts (RSS growth over 1e6)",
          memory["bytes_per_sample"], "B", 60.0)
    t.time(6, "poll cycle's window work at 1e6 points per chart", "BM_PollCycleWindowWork",
           "wall", "ms", 15.0)
    t.time(7, "one log line, retention check included", "BM_WriteLogLine/real_time", "wall",
           "us", 100.0)
    t.time(9, "one recorded row, the sync on its own thread",
           "BM_RecordRow/sync_every_ms:2000", "wall", "us", 20.0)
    t.time(9, "  the row alone, no sync during the run", "BM_RecordRow/sync_every_ms:0", "wall",
           "us", 20.0)
    t.time(9, "  reference: a row and its fdatasync on the worker", "BM_RecordRowSyncedEach",
           "wall", "us", None)
    t.time(10, "chart of 1e6 points saved as PNG (twice its size)", "BM_SavePng/points:1000000",
           "wall", "ms", 200.0)
    t.add(8, f"psu-host CPU share polling for {desktop['wall_seconds']:.0f} s under Xvfb",
          desktop["share_percent"], "%", 1.0)
    t.time(11, "MQTT publish call on the worker thread, broker there", "BM_RecordBrokerThere",
           "wall", "us", 20.0)
    t.time(11, "  the same, broker away (queue full, dropping)", "BM_RecordBrokerAway", "wall",
           "us", 20.0)
    t.time(12, "MQTT End: drain, offline, disconnect", "BM_EndBrokerThere/iterations:20", "wall",
           "ms", None)
    t.time(12, "  the same, broker away", "BM_EndBrokerAway/iterations:20", "wall", "ms", None)
    line = medians["BM_StationLine/stations:50/seconds:120/iterations:1"]
    t.add(13, "MQTT line of 50 stations at 1 Hz, 2 min: latency median",
          line["latency_median_ms"], "ms", 50.0)
    t.add(13, "  latency 99th percentile", line["latency_p99_ms"], "ms", 50.0)
    t.add(13, "  readings lost", line["lost"], "", 0.0)
    return t


def main():
    raw, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    medians, context = load_medians(raw)
    desktop = json.loads((raw / "desktop.json").read_text())
    table = build_table(medians, desktop)
    out.write_text(json.dumps({"context": context, "figures": table.rows, "desktop": desktop,
                               "benchmarks": list(medians.values())}, indent=2))
    table.print()
    return 0 if all(r["met"] is not False for r in table.rows) else 1


if __name__ == "__main__":
    sys.exit(main())
