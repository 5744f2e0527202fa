#!/usr/bin/env python3
"""Prints the performance goals as one table: each row's goal, the measured median and the
ratio to the goal. Reads Google Benchmark JSON files (run with repetitions) from the folder
given, and the AES-256-CBC figure of `openssl speed` from the file openssl.txt there."""
import json
import pathlib
import re
import statistics
import sys

folder = pathlib.Path(sys.argv[1])


def runs(name):
    path = folder / (name + ".json")
    if not path.exists():
        return []
    return [b for b in json.loads(path.read_text())["benchmarks"] if b.get("run_type") == "iteration"]


def median(name, bench, field):
    values = [b[field] for b in runs(name) if b["run_name"] == bench and field in b]
    return statistics.median(values) if values else None


def openssl_bytes_per_second():
    path = folder / "openssl.txt"
    if not path.exists():
        return None
    medians = []
    for line in path.read_text().splitlines():
        m = re.match(r"\s*AES-256-CBC\s+([0-9.]+)k", line, re.I)
        if m:
            medians.append(float(m.group(1)) * 1000)
    return statistics.median(medians) if medians else None


rows = []


def row(measure, goal, value, unit, ratio, ok):
    rows.append((measure, goal, "n/a" if value is None else f"{value:.3f} {unit}",
                 "n/a" if ratio is None else f"{ratio:.2f}", "n/a" if ok is None else ("yes" if ok else "NO")))


# 1. Desktop side of one getLoginData, 1 and 8 clients, against a Beast server of the same
# shape run right after it in the same process: ratios of the percentiles, per repetition.
for conns, calls in ((1, 150), (8, 25)):
    bench = f"BM_GetLoginDataRoad/conns:{conns}/calls_per_conn:{calls}/iterations:1/manual_time"
    for q, goal in (("p50", 2.0), ("p99", 1.3)):
        r = median("road_bench", bench, f"ratio_desk_{q}")
        ours = median("road_bench", bench, f"desk_{q}_ms")
        base = median("road_bench", bench, f"base_desk_{q}_ms")
        row(f"desktop side {q}, {conns} client(s), ours / baseline ({ours and round(ours, 3)} / {base and round(base, 3)} ms)",
            f"<= {goal}x", r, "x", None if r is None else r / goal, None if r is None else r <= goal)
    pieces = [median("road_bench", bench, f"desk_{k}_{q}_ms") for k in ("in", "split", "out") for q in ("p50", "p99")]
    if None not in pieces:
        rows.append((f"  {conns} client(s): in / link work / out, p50 (p99)", "",
                     " / ".join(f"{pieces[i]:.3f} ({pieces[i + 1]:.3f})" for i in (0, 2, 4)) + " ms", "", ""))

# sendPing throughput (wrk, kept-alive connections) against a one-thread Beast server.
for conns in (8, 64):
    bench = f"BM_PingThroughput/conns:{conns}/iterations:1/manual_time"
    r = median("road_bench", bench, "ratio")
    ours = median("road_bench", bench, "ours_rps")
    beast = median("road_bench", bench, "beast_rps")
    row(f"sendPing throughput, {conns} connections, ours / Beast ({ours and round(ours)} / {beast and round(beast)} req/s)",
        ">= 0.8x", r, "x", None if r is None else r / 0.8, None if r is None else r >= 0.8)

# Resident memory after 8 concurrent 4 MiB bodies against the resident memory serving before.
bench = "BM_LargeBodiesRss/iterations:1/manual_time"
r = median("road_bench", bench, "ratio")
serving = median("road_bench", bench, "serving_mb")
after = median("road_bench", bench, "after_mb")
row(f"resident memory after 8 x 4 MiB bodies ({serving and round(serving, 1)} -> {after and round(after, 1)} MB)",
    "<= 2x serving", r, "x", None if r is None else r / 2.0, None if r is None else r <= 2.0)

# 2. Link processing with compression, 1 KiB messages, against the LE 2M ceiling.
for chunk in (182, 512):
    bench = f"splitAndReassemble/bytes:1024/chunk:{chunk}/mode:2"
    x = median("blec_bench", bench, "x_radio")
    row(f"link processing, compressed + encrypted, 1 KiB, chunk {chunk}", ">= 100x 17.5 MB/s",
        x, "x radio", None if x is None else x / 100.0, None if x is None else x >= 100.0)

# 3. Generated records, decode of 1000 sites, ours / stock.
for compact, label in (("true", "compact"), ("false", "binary")):
    ours = median("records_bench", f"BM_OursDecode<{compact}>/1000", "cpu_time")
    stock = median("records_bench", f"BM_StockDecode<{compact}>/1000", "cpu_time")
    r = None if not ours or not stock else ours / stock
    row(f"records decode, 1000 sites, {label}, ours / stock", "<= 1.25", r, "", None if r is None else r / 1.25,
        None if r is None else r <= 1.25)

# 4. Salted blob encryption of 1 MiB against raw AES-256-CBC.
blob = median("crypto_bench", "BM_BlobEncrypt/1048576", "bytes_per_second")
raw = openssl_bytes_per_second()
r = None if not blob or not raw else blob / raw
row(f"salted blob encryption, 1 MiB ({blob and round(blob / 1e6)} MB/s; openssl {raw and round(raw / 1e6)} MB/s)",
    ">= 0.5x openssl", r, "x", None if r is None else r / 0.5, None if r is None else r >= 0.5)

widths = [max(len(str(r[i])) for r in rows + [("measure", "goal", "median", "ratio to goal", "met")]) for i in range(5)]
header = ("measure", "goal", "median", "ratio to goal", "met")
print()
load = folder / "load.txt"
if load.exists():
    print("load average (start of the run / end):", " / ".join(load.read_text().split("\n")[:2]))
print("  ".join(h.ljust(w) for h, w in zip(header, widths)))
print("  ".join("-" * w for w in widths))
for r in rows:
    print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)))
