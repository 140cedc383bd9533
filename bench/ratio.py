#!/usr/bin/env python3
"""ratio.py RESULTS.json: MB/s of each benchmark and its ratio to OpenSSL.

RESULTS.json is blowfish_bench's --benchmark_out (or --benchmark_format=json)
output. Encoders are compared with OpenSSL_encrypt of the same size, Decode
with OpenSSL_decrypt. With --benchmark_repetitions the medians are used.
"""
import json
import sys


def rates(benchmarks):
    """{(name, size): bytes per second}, medians preferred over single runs."""
    found = {}
    for b in benchmarks:
        kind = b.get("aggregate_name")
        if kind not in (None, "median"):
            continue
        name, size = b["run_name"].split("/")
        key = (name, int(size))
        if kind == "median" or key not in found:
            found[key] = b["bytes_per_second"]
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        found = rates(json.load(f)["benchmarks"])
    print(f"{'benchmark':<22}{'size':>10}{'MB/s':>10}{'x OpenSSL':>11}")
    for (name, size), rate in sorted(found.items(), key=lambda i: (i[0][1], i[0][0])):
        baseline = "OpenSSL_decrypt" if name == "Decode" else "OpenSSL_encrypt"
        ratio = rate / found[(baseline, size)] if (baseline, size) in found else 0
        label = f"{size >> 10} KiB" if size < 1 << 20 else f"{size >> 20} MiB"
        print(f"{name:<22}{label:>10}{rate / 1e6:>10.0f}{ratio:>10.2f}x")


if __name__ == "__main__":
    main()
