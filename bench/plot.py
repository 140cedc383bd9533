#!/usr/bin/python3
"""plot.py CIPHER.json WHOLE_RUN.json DOCS: draws DOCS/cipher.svg and
DOCS/whole-run.svg, and writes their figures as tables into DOCS/performance.md
between its "figures" comment lines.

CIPHER.json is blowfish_bench's JSON output (with --benchmark_context=cpu=...),
WHOLE_RUN.json is what bench/whole-run.sh -o writes. Every figure is a ratio
to a baseline of the same run, and every picture names its host and date.
Needs matplotlib (Debian: python3-matplotlib, for /usr/bin/python3).
"""
import json
import re
import sys

import matplotlib
import matplotlib.ticker
matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402

from ratio import rates  # noqa: E402

matplotlib.rcParams.update({"svg.hashsalt": "tarnwick", "font.size": 9})
KIB = 1024
LIBRARIES = {"OpenSSL_encrypt": "OpenSSL", "gcrypt_encrypt": "libgcrypt",
             "nettle_encrypt": "nettle"}


def size_label(size):
    return f"{size // KIB} KiB" if size < KIB * KIB else f"{size // KIB // KIB} MiB"


def caption(host):
    return f"Measured on {host}, by `bash bench/redraw.sh`."


def save(figure, path, host):
    figure.get_layout_engine().set(rect=(0, 0.05, 1, 0.95))
    figure.text(0.01, 0.01, f"{host}; bash bench/redraw.sh", fontsize=7, color="0.35")
    figure.savefig(path, metadata={"Date": None})


def cipher(path, docs):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    found, context = rates(data["benchmarks"]), data["context"]
    sizes = sorted({s for n, s in found if n == "OpenSSL_encrypt"})
    names = {n for n, _ in found if n.startswith("Kernel_") or n in LIBRARIES}
    ratio = {n: [found[(n, s)] / found[("OpenSSL_encrypt", s)] for s in sizes] for n in names}
    # The kernels slowest first, then the libraries, whatever order they ran in.
    names = (sorted((n for n in names if n not in LIBRARIES), key=lambda n: sum(ratio[n]))
             + [n for n in LIBRARIES if n in names])
    figure, axes = plt.subplots(figsize=(7.5, 4.2), layout="constrained")
    for name in names:
        library = name in LIBRARIES
        axes.plot(sizes, ratio[name], marker="s" if library else "o",
                  linestyle="--" if library else "-",
                  label=LIBRARIES.get(name, "Tarnwick " + name.removeprefix("Kernel_")))
    axes.set_yscale("log", base=2)
    axes.set(xscale="log", xticks=sizes, xlabel="buffer size",
             ylabel="throughput, x OpenSSL's on the same buffer",
             title="Blowfish ECB encryption, one thread, medians")
    axes.set_xticklabels([size_label(s) for s in sizes])
    axes.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
    axes.yaxis.set_major_formatter(lambda y, _: f"{y:g}x")
    axes.grid(True, color="0.9")
    axes.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1, 1))
    host = (f"{context['cpu']}, {context['num_cpus']} cores, {context['date'][:10]},"
            f" load average {context['load_avg'][0]:.2f} at the start")
    save(figure, f"{docs}/cipher.svg", host)
    header = "| size | " + " | ".join(LIBRARIES.get(n, n.removeprefix("Kernel_")) for n in names)
    rows = [f"| {size_label(s)} | " + " | ".join(f"{ratio[n][i]:.2f}x" for n in names)
            for i, s in enumerate(sizes)]
    return "\n".join([header + " |", "|---" * (len(names) + 1) + "|"]
                     + [r + " |" for r in rows] + ["", caption(host)])


def whole_run(path, docs):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    median, runs = data["median"], data["runs_s"]
    bars = [("Tarnwick, every core", "{d}"), ("Tarnwick, one thread", "{d} 1t"),
            ("Tarnwick, unsynced build", "{d} unsynced"), ("openssl enc", "openssl {d}"),
            ("dd conv=fsync", "dd {d}"), ("cat", "cat")]
    figure, panels = plt.subplots(1, 2, figsize=(7.5, 3), sharey=True, layout="constrained")
    table = ["| run | | wall, x `cat` | wall, x `dd conv=fsync` | CPU, x one thread | peak RSS |",
             "|---|---|---|---|---|---|"]
    for axes, direction in zip(panels, ("-e", "-d")):
        shown = [(label, key.format(d=direction)) for label, key in bars
                 if key.format(d=direction) in median]
        dd = median["dd " + direction]["wall_s"]
        walls = [median[n]["wall_s"] / dd for _, n in shown]
        spread = [[w - min(runs[n]) / dd for w, (_, n) in zip(walls, shown)],
                  [max(runs[n]) / dd - w for w, (_, n) in zip(walls, shown)]]
        axes.barh([label for label, _ in shown], walls, xerr=spread, ecolor="0.2", capsize=2,
                  color=["tab:blue" if label.startswith("Tarnwick") else "0.65"
                         for label, _ in shown])
        axes.set_xlim(0, max(w + top for w, top in zip(walls, spread[1])) * 1.15)
        for y, wall in enumerate(walls):
            axes.text(wall, y - 0.1, f" {wall:.2f}x", fontsize=7)
        axes.set(title=f"{direction} ({'encrypt' if direction == '-e' else 'decrypt'})",
                 xlabel="wall time, x dd conv=fsync's")
        for label, name in shown:
            if name == "cat" and direction == "-d":
                continue  # one cat run serves both directions
            single = median.get(f"{direction} 1t") if name == direction else None
            cpu = f"{median[name]['cpu_s'] / single['cpu_s']:.2f}x" if single else ""
            table.append(f"| {label} | {'' if name == 'cat' else direction}"
                         f" | {median[name]['wall_s'] / median['cat']['wall_s']:.2f}x"
                         f" | {median[name]['wall_s'] / dd:.2f}x | {cpu}"
                         f" | {median[name]['peak_mib']:.1f} MiB |")
    panels[0].invert_yaxis()  # the axis is shared: once inverts both
    size = re.sub(r"([KMG])$", r" \1iB", re.sub(r"(\d)$", r"\1 bytes", data["size"]))
    figure.suptitle(f"Whole runs on a {size} file from page cache, medians of {data['runs']}"
                    f" (whiskers: fastest and slowest run)")
    host = (f"{data['cpu']}, {data['cores']} cores, {data['date']}, other processes"
            f" keeping {data['load']:.2f} cores busy")
    save(figure, f"{docs}/whole-run.svg", host)
    return "\n".join(table + ["", caption(host)])


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    docs = sys.argv[3]
    tables = {"cipher": cipher(sys.argv[1], docs), "whole-run": whole_run(sys.argv[2], docs)}
    with open(f"{docs}/performance.md", encoding="utf-8") as f:
        text = f.read()
    for name, table in tables.items():
        text = re.sub(rf"(<!-- figures: {name} -->\n).*?(\n<!-- end -->)",
                      lambda m, t=table: m.group(1) + t + m.group(2), text, flags=re.S)
    with open(f"{docs}/performance.md", "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
