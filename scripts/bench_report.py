#!/usr/bin/env python3
"""Turns a Google Benchmark JSON result into docs/performance.md.

Benchmarks are named <Family>_<implementation>/<size>[/<needle length>];
the implementation "ours" is the library's routine, every other one a peer
measured on the same data in the same run. The table gives, per size, our
throughput and our throughput divided by each peer's (above 1: we are faster).

Benchmarks that report items per second instead of bytes (the number
routines) are named <Family>_<implementation>/<input set> and carry the
input set's name as their label; their tables give numbers per second, per
input set.
"""
import collections
import datetime
import json
import sys


def human(size):
    size = int(size)
    for unit, factor in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= factor and size % factor == 0:
            return f"{size // factor} {unit}"
    return f"{size} B"


def cpu_model(context):
    """The processor's name: Google Benchmark's, else /proc/cpuinfo's."""
    if context.get("cpu_name"):
        return context["cpu_name"]
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name" and value.strip():
                    return value.strip()
    except OSError:
        pass
    return "unknown CPU"


def ratio_cells(ours, by_impl, peers):
    """Our rate over each peer's, or "-" where the peer has no result."""
    return [f"{ours / by_impl[peer]:.2f}" if by_impl.get(peer) else "-" for peer in peers]


def main(source, target):
    with open(source) as f:
        data = json.load(f)
    rates = collections.OrderedDict()
    item_rates = collections.OrderedDict()
    for bench in data["benchmarks"]:
        if bench.get("error_occurred"):
            continue
        if "bytes_per_second" not in bench:
            if "items_per_second" in bench:
                name, *args = bench["name"].split("/")
                family, _, implementation = name.partition("_")
                label = bench.get("label") or "/".join(args)
                item_rates.setdefault(family, collections.OrderedDict()).setdefault(label, {})[
                    implementation] = bench["items_per_second"]
            continue
        name, *args = bench["name"].split("/")
        family, _, implementation = name.partition("_")
        key = (family, tuple(args))
        rates.setdefault(family, collections.OrderedDict()).setdefault(tuple(args), {})[
            implementation] = bench["bytes_per_second"]
    context = data["context"]
    cpu = cpu_model(context)
    lines = [
        "# Performance",
        "",
        "Each routine of the library beside the routines a user would otherwise",
        "pick, on the same data in the same run (`scripts/bench`, Release build,",
        "Linux). Throughput is in bytes of input per second; a ratio above 1",
        "means the library's routine is faster than that peer.",
        "",
        f"Measured {datetime.date.today().isoformat()} on {cpu}"
        f" ({context.get('num_cpus', '?')} cores,"
        f" {context.get('mhz_per_cpu', '?')} MHz).",
        "",
    ]
    for family, by_args in rates.items():
        peers = [name for name in next(iter(by_args.values())) if name != "ours"]
        lines.append(f"## {family}")
        lines.append("")
        header = ["size"] + (["needle"] if len(next(iter(by_args))) > 1 else [])
        header += ["ours (MB/s)"] + [f"vs {peer}" for peer in peers]
        lines.append("| " + " | ".join(header) + " |")
        lines.append("|" + "---|" * len(header))
        for args, by_impl in by_args.items():
            ours = by_impl.get("ours")
            if ours is None:
                continue
            row = [human(args[0])] + ([args[1]] if len(args) > 1 else [])
            row.append(f"{ours / 1e6:,.0f}")
            row += ratio_cells(ours, by_impl, peers)
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
    if item_rates:
        lines.append("The number routines are measured in numbers per second, per input set.")
        lines.append("")
    for family, by_label in item_rates.items():
        peers = [name for name in next(iter(by_label.values())) if name != "ours"]
        lines.append(f"## {family}")
        lines.append("")
        header = ["inputs", "ours (M/s)"] + [f"vs {peer}" for peer in peers]
        lines.append("| " + " | ".join(header) + " |")
        lines.append("|" + "---|" * len(header))
        for label, by_impl in by_label.items():
            ours = by_impl.get("ours")
            if ours is None:
                continue
            row = [label, f"{ours / 1e6:,.1f}"] + ratio_cells(ours, by_impl, peers)
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
    with open(target, "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
