#!/usr/bin/env python3
"""ratio.py RESULTS.json: MB/s of each benchmark and its ratio to OpenSSL.

RESULTS.json is blowfish_bench's --benchmark_out (or --benchmark_format=json)
output. Encoders are compared with OpenSSL_encrypt of the same size, Decode
with OpenSSL_decrypt. The tool's cipher stage (Stage_*: one chunk per
thread, on one and two threads, their rates summed) has no OpenSSL run of its
size. With --benchmark_repetitions the medians are used.
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
        # Stage runs are named Stage_Encode/262144/real_time/threads:2.
        name, size, *options = b["run_name"].split("/")
        threads = [o.split(":")[1] for o in options if o.startswith("threads:")]
        key = (name + (f" x{threads[0]}" if threads else ""), int(size))
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
        ratio = (f"{rate / found[(baseline, size)]:.2f}x"
                 if (baseline, size) in found else "")
        label = f"{size >> 10} KiB" if size < 1 << 20 else f"{size >> 20} MiB"
        print(f"{name:<22}{label:>10}{rate / 1e6:>10.0f}{ratio:>11}")


if __name__ == "__main__":
    main()
