#!/usr/bin/env python3
"""Turns a Google Benchmark JSON result into docs/performance.md.

Benchmarks are named <Family>_<implementation>/<size>[/<needle length>];
the implementation "ours" is the library's routine, "ours@<kernels>" the
library's routine run with one kernel set (sse2, avx2, avx512), every other one a
peer measured on the same data in the same run. The table gives, per size,
our throughput with each kernel set and our throughput divided by each
peer's, one ratio per kernel set (above 1: we are faster).

Benchmarks that report items per second instead of bytes (the number
routines) are named <Family>_<implementation>/<input set> and carry the
input set's name as their label; their tables give numbers per second, per
input set.

A second result beside the first, results-avx2.json, holds the run as an
AVX2-only machine (the C library capped below AVX-512, the library at its
AVX2 kernels): its ratio ends each ratio cell. glibc-forms.json and
glibc-forms-avx2.json name the C library's forms each run used (written by
this script's --glibc-forms mode, run in each run's environment). For each
family measured in bytes per second a plot of throughput against size
(log-log, one line per kernel set and peer) goes to plots/ beside the report.

Usage: bench_report.py RESULT.json REPORT.md | bench_report.py --glibc-forms
"""
import collections
import ctypes
import datetime
import json
import os
import sys

# The C library routines the peers call, whose form the library picks at
# load time by the processor's features.
GLIBC_ROUTINES = ("strlen", "strstr", "memmem", "strcasestr", "memchr", "memrchr", "memcmp",
                  "strcmp", "strcasecmp")


def glibc_forms():
    """Each routine's form as the C library chose it in this process, found
    by matching its address against the library's list of its forms; a
    routine with one form only is named as it is."""

    class Impl(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("fn", ctypes.c_void_p), ("usable", ctypes.c_bool)]

    libc = ctypes.CDLL("libc.so.6")
    forms = {}
    try:
        impl_list = libc.__libc_ifunc_impl_list
    except AttributeError:
        return forms
    impl_list.restype = ctypes.c_size_t
    impl_list.argtypes = [ctypes.c_char_p, ctypes.POINTER(Impl), ctypes.c_size_t]
    for name in GLIBC_ROUTINES:
        table = (Impl * 64)()
        count = impl_list(name.encode(), table, 64)
        address = ctypes.cast(getattr(libc, name), ctypes.c_void_p).value
        chosen = [table[i].name.decode() for i in range(count) if table[i].fn == address]
        forms[name] = chosen[0] if chosen else name
    return forms


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


# The processor flags that decide which kernels can run.
VECTOR_FLAGS = ("sse2", "ssse3", "sse4_1", "sse4_2", "avx", "avx2", "bmi1", "bmi2", "erms",
                "avx512f", "avx512bw", "avx512vl")


def machine_lines():
    """The processor's vector flags and the load while the report is written."""
    lines = []
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("flags"):
                    flags = set(line.split(":", 1)[1].split())
                    present = [flag for flag in VECTOR_FLAGS if flag in flags]
                    lines.append("Vector flags: " + " ".join(present) + ".")
                    break
    except OSError:
        pass
    try:
        with open("/proc/loadavg") as f:
            load = f.read().split()[0]
        lines.append(f"Load average (1 minute) when the report was written: {load}, the"
                     " benchmark itself counting for about 1; above that the machine was"
                     " busy with other work and the numbers are indicative only.")
    except OSError:
        pass
    return lines


# What each table measures, printed under it.
FAMILY_NOTES = {
    "TextLength": "TextLengthSse2 on a text of the given length, beside glibc strlen and a"
                  " byte loop.",
    "TextLengthWords": "TextLength (four-byte words in the SSE2 set, the vector kernel in the"
                       " others) beside strlen.",
    "Find": "Exact TextFind; the needle stands at the haystack's end, so every search"
            " scans the whole haystack. Peers: strstr, memmem, std::string_view::find and"
            " the Boyer-Moore-Horspool searcher of the C++ library.",
    "FindBackward": "Exact TextFind backward from the end, the needle at the haystack's"
                    " start, beside std::string_view::rfind.",
    "FindCase": "TextFind mode 1 (ignoring case) beside strcasestr, needle at the end.",
    "FindWord": "TextFind for whole words beside a plain loop, needle at the end.",
    "Compare": "TextCompare of two equal texts (every byte compared) beside strcmp.",
    "CompareCase": "TextCompare ignoring case, texts equal but for case, beside strcasecmp.",
    "FileCompare": "FileCompare of two equal files of random bytes from the page cache"
                   " (bytes of both files per second) beside std::fread into 4,096-byte"
                   " buffers and memcmp; both read 4,096 bytes a call.",
    "RecallCrLf": "Recall of a CR LF file of random words (about 40 bytes a line) from the"
                  " page cache, beside std::getline into a std::vector<std::string> and an"
                  " mmap plus memchr split into string views. Recall reads the file into"
                  " heap pages it owns (a block of 4 MiB or more asks the kernel for huge"
                  " pages); the memchr peer only maps the page cache.",
    "RecallLf": "The same with LF line ends.",
    "RecallUtf16": "Recall of a UTF-16 file beside reading it, converting it with iconv and"
                   " splitting it the same way.",
    "Store": "Store of the recalled lines of a CR LF file to a new file beside writing"
             " the same lines with CR LF to a std::ofstream.",
    "SortInts": "NumberArraySort of a million random integers beside qsort and std::sort.",
    "SortFloats": "The same for floating-point numbers.",
    "SortStrings": "StringArraySort of the lines of the project's sources beside std::sort"
                   " with a case-insensitive comparison.",
    "Assemble": "TextAssemble of pieces of 4 to 15 bytes into the temporary text area"
                " beside std::string append and a sized std::string filled with memcpy. Each"
                " assembly also keeps the result ring and the temporary area up to date, and"
                " a std::string of 2 such pieces fits its inline buffer.",
    "Assign": "Assignment of an assembled text to an array element beside std::string"
              " assignment: the element owns its text and reuses its block when the new"
              " text fits, as std::string reuses its capacity.",
    "Format": "FormatNumber beside snprintf and std::to_chars on the same doubles.",
    "Read": "ReadNumber into a double beside strtold, strtod and std::from_chars on the"
            " same texts.",
}


# The order of the columns and tables: the benchmarks run in random order.
KERNEL_ORDER = ["ours", "ours@sse2", "ours@avx2", "ours@avx512"]


def family_order(family):
    names = list(FAMILY_NOTES)
    return (names.index(family) if family in names else len(names), family)


def numeric(args):
    return tuple(int(a) if a.isdigit() else 0 for a in args)


def note_lines(family):
    note = FAMILY_NOTES.get(family)
    return [note, ""] if note else []


def split_kernels(by_args):
    """The library's columns ("ours" or one per kernel set) and the peers."""
    names = []
    for by_impl in by_args.values():
        for name in by_impl:
            if name not in names:
                names.append(name)
    kernels = [name for name in names if name == "ours" or name.startswith("ours@")]
    peers = sorted(name for name in names if name not in kernels)
    kernels.sort(key=lambda name: KERNEL_ORDER.index(name) if name in KERNEL_ORDER else 99)
    return kernels, peers


def kernel_label(name):
    return name.partition("@")[2] or "ours"


def whole_process_rows(source):
    """The table of bench/sortlines_vs_sort.sh, when it has run: its result
    lies beside the benchmark result as sortlines.json."""
    path = os.path.join(os.path.dirname(source), "sortlines.json")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        run = json.load(f)
    rows = [
        "## The example programs (whole processes)",
        "",
        "examples/sortlines and examples/linestat beside the programs they stand in for, each",
        f"run once on a generated file of {run['size_mib']} MiB (`bench/sortlines_vs_sort.sh`):",
        "wall time and peak memory (GNU time). A time ratio above 1 means ours took less",
        "time; a memory ratio below 1 means ours used less. The outputs are checked to agree.",
        "",
        "| task | ours (s) | ours (MiB) | peer | peer (s) | peer (MiB) | time ratio | memory ratio |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for r in run["runs"]:
        time_ratio = r["peer_s"] / r["ours"] if r["ours"] > 0 else float("inf")
        memory_ratio = r["ours_mib"] / r["peer_mib"] if r["peer_mib"] > 0 else float("inf")
        rows.append(f"| `{r['task']}` | {r['ours']:.2f} | {r['ours_mib']} | `{r['peer']}` | "
                    f"{r['peer_s']:.2f} | {r['peer_mib']} | {time_ratio:.2f} | {memory_ratio:.2f} |")
    rows.append("")
    return rows


def load_rates(source):
    """Byte rates by family, arguments and implementation; item rates by
    family, (order, label) and implementation; the run's context."""
    with open(source) as f:
        data = json.load(f)
    rates = collections.OrderedDict()
    item_rates = collections.OrderedDict()
    for bench in data["benchmarks"]:
        if bench.get("error_occurred"):
            continue
        # With repetitions, only the medians count (named <benchmark>_median).
        if bench.get("run_type") == "aggregate":
            if bench.get("aggregate_name") != "median":
                continue
            bench = dict(bench, name=bench.get("run_name", bench["name"]))
        if "bytes_per_second" not in bench:
            if "items_per_second" in bench:
                name, *args = bench["name"].split("/")
                family, _, implementation = name.partition("_")
                label = (numeric(args), bench.get("label") or "/".join(args))
                item_rates.setdefault(family, collections.OrderedDict()).setdefault(label, {})[
                    implementation] = bench["items_per_second"]
            continue
        name, *args = bench["name"].split("/")
        family, _, implementation = name.partition("_")
        rates.setdefault(family, collections.OrderedDict()).setdefault(tuple(args), {})[
            implementation] = bench["bytes_per_second"]
    return rates, item_rates, data["context"]


def load_beside(source, name):
    path = os.path.join(os.path.dirname(source), name)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def glibc_lines(source):
    """Which forms of the C library's routines the two runs used."""
    default = load_beside(source, "glibc-forms.json")
    capped = load_beside(source, "glibc-forms-avx2.json")
    if not default:
        return []
    rows = ["The C library's routines that the peers call, in the form the C library chose"
            " for each run (a routine with one form only keeps its name):", "",
            "| routine | default run | AVX2-only run |", "|---|---|---|"]
    for name in GLIBC_ROUTINES:
        if name in default:
            rows.append(f"| {name} | {default[name]} | {(capped or {}).get(name, '-')} |")
    return rows + [""]


def main(source, target):
    rates, item_rates, context = load_rates(source)
    avx2_path = os.path.join(os.path.dirname(source), "results-avx2.json")
    avx2_rates = load_rates(avx2_path)[0] if os.path.exists(avx2_path) else {}
    plot_dir = os.path.join(os.path.dirname(target), "plots")
    plots = draw_plots(rates, avx2_rates, plot_dir)
    cpu = cpu_model(context)
    lines = [
        "# Performance",
        "",
        "Each routine of the library beside the routines a user would otherwise",
        "pick, on the same data in the same run (`scripts/bench`, Release build,",
        "Linux). Throughput is in bytes of input per second; a ratio above 1",
        "means the library's routine is faster than that peer. Each figure is the",
        "median of five repetitions.",
        "",
        f"Measured {datetime.date.today().isoformat()} on {cpu}"
        f" ({context.get('num_cpus', '?')} cores,"
        f" {context.get('mhz_per_cpu', '?')} MHz).",
        "",
    ] + [line + "\n" for line in machine_lines()] + [
        "Columns per kernel set: the library's routine run with its SSE2 kernels"
        " (the reference, and the only ones on 32-bit targets), with its AVX2"
        " kernels and with the AVX-512 set (the set chosen at start-up on this"
        " processor; a routine without an AVX-512 kernel runs its AVX2 kernel"
        " there). A ratio cell gives one ratio per kernel set, in the same order.",
        "",
        "The column avx2-only is a second run on the same processor as an"
        " AVX2-only machine: the C library capped below AVX-512"
        " (`GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX512F,-AVX512BW,-AVX512VL,-AVX512DQ,-AVX512CD`),"
        " the library at its AVX2 kernels (`TARNWICK_KERNELS=avx2`); its ratio"
        " ends each ratio cell. The default column of a user's machine is the"
        " last kernel set before it (avx512 here).",
        "",
    ] + glibc_lines(source) + [
        "The plots show throughput against size on log-log axes: solid lines for"
        " the library's kernel sets, dashed for the peers, dotted for the"
        " AVX2-only run.",
        "",
    ]
    for family in sorted(rates, key=family_order):
        by_args = collections.OrderedDict(sorted(rates[family].items(),
                                                 key=lambda item: numeric(item[0])))
        kernels, peers = split_kernels(by_args)
        if not kernels:
            continue
        capped_args = avx2_rates.get(family, {})
        capped_kernels = split_kernels(capped_args)[0] if capped_args else []
        capped = capped_kernels[0] if capped_kernels else None
        labels = [kernel_label(k) for k in kernels] + (["avx2-only"] if capped else [])
        lines.append(f"## {family}")
        lines.append("")
        if family in plots:
            lines.append(f"![{family}: throughput against size](plots/{plots[family]})")
            lines.append("")
        header = ["size"] + (["needle"] if len(next(iter(by_args))) > 1 else [])
        header += ["ours (MB/s)" if k == "ours" else f"ours {kernel_label(k)} (MB/s)"
                   for k in kernels]
        if capped:
            header.append("ours avx2-only (MB/s)")
        header += [f"vs {peer} ({' / '.join(labels)})" if len(labels) > 1 else f"vs {peer}"
                   for peer in peers]
        lines.append("| " + " | ".join(header) + " |")
        lines.append("|" + "---|" * len(header))
        for args, by_impl in by_args.items():
            if not any(by_impl.get(k) for k in kernels):
                continue
            row = [human(args[0])] + ([args[1]] if len(args) > 1 else [])
            row += [f"{by_impl[k] / 1e6:,.0f}" if by_impl.get(k) else "-" for k in kernels]
            per_kernel = [ratio_cells(by_impl.get(k), by_impl, peers) if by_impl.get(k)
                          else ["-"] * len(peers) for k in kernels]
            if capped:
                capped_impl = capped_args.get(args, {})
                ours = capped_impl.get(capped)
                row.append(f"{ours / 1e6:,.0f}" if ours else "-")
                per_kernel.append(ratio_cells(ours, capped_impl, peers) if ours
                                  else ["-"] * len(peers))
            row += [" / ".join(cells) for cells in zip(*per_kernel)]
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
        lines += note_lines(family)
    if item_rates:
        lines.append("Routines measured in items per second (numbers, or lines for the string sort)"
                     " give their rates per input set, in millions per second.")
        lines.append("")
    for family in sorted(item_rates, key=family_order):
        by_label = item_rates[family]
        peers = sorted({name for by_impl in by_label.values() for name in by_impl} - {"ours"})
        lines.append(f"## {family}")
        lines.append("")
        header = ["inputs", "ours (M/s)"] + [f"vs {peer}" for peer in peers]
        lines.append("| " + " | ".join(header) + " |")
        lines.append("|" + "---|" * len(header))
        for (_, label), by_impl in sorted(by_label.items()):
            ours = by_impl.get("ours")
            if ours is None:
                continue
            row = [label, f"{ours / 1e6:,.1f}"] + ratio_cells(ours, by_impl, peers)
            lines.append("| " + " | ".join(row) + " |")
        lines.append("")
        lines += note_lines(family)
    lines += whole_process_rows(source)
    with open(target, "w") as f:
        f.write("\n".join(lines))


# Line styles of the plots: one colour per kernel set and per peer.
KERNEL_COLOURS = {"ours": "black", "ours@sse2": "tab:green", "ours@avx2": "tab:blue",
                  "ours@avx512": "tab:red"}
PEER_COLOURS = ["tab:orange", "tab:purple", "tab:brown", "tab:pink", "tab:olive", "tab:cyan",
                "tab:gray"]


def draw_plots(rates, avx2_rates, plot_dir):
    """One SVG per family measured in bytes per second, throughput (MB/s)
    against size on log-log axes, one panel per needle length; returns the
    file names by family. Without matplotlib, no plots."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        import matplotlib.ticker
    except ImportError:
        print("matplotlib is missing (Debian: python3-matplotlib): no plots", file=sys.stderr)
        return {}
    matplotlib.rcParams["svg.fonttype"] = "none"  # text stays text: small files
    matplotlib.rcParams["svg.hashsalt"] = "tarnwick"  # the same data draws the same file
    os.makedirs(plot_dir, exist_ok=True)
    written = {}
    for family in sorted(rates, key=family_order):
        by_args = rates[family]
        kernels, peers = split_kernels(by_args)
        if not kernels:
            continue
        panels = sorted({args[1:] for args in by_args}, key=numeric)
        figure, axes = plt.subplots(1, len(panels), figsize=(4.2 * len(panels) + 1.2, 3.4),
                                    squeeze=False, sharey=True)
        capped_args = avx2_rates.get(family, {})
        capped_kernels = split_kernels(capped_args)[0] if capped_args else []
        for axis, panel in zip(axes[0], panels):
            def series(source, name):
                points = sorted((int(args[0]), impl[name]) for args, impl in source.items()
                                if args[1:] == panel and impl.get(name))
                return [p[0] for p in points], [p[1] / 1e6 for p in points]

            for name in kernels:
                xs, ys = series(by_args, name)
                axis.plot(xs, ys, marker="o", color=KERNEL_COLOURS.get(name, "black"),
                          label=f"ours {kernel_label(name)}")
            for index, peer in enumerate(peers):
                xs, ys = series(by_args, peer)
                colour = PEER_COLOURS[index % len(PEER_COLOURS)]
                axis.plot(xs, ys, marker=".", linestyle="--", color=colour, label=peer)
                if capped_kernels:
                    xs, ys = series(capped_args, peer)
                    axis.plot(xs, ys, marker=".", linestyle=":", color=colour,
                              label=f"{peer}, avx2-only")
            for name in capped_kernels:
                xs, ys = series(capped_args, name)
                axis.plot(xs, ys, marker="o", linestyle=":", color="tab:blue",
                          label="ours avx2-only")
            axis.set_xscale("log", base=2)
            sizes = sorted({int(args[0]) for args in by_args if args[1:] == panel})
            axis.set_xticks(sizes, [human(size) for size in sizes])
            axis.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
            axis.set_yscale("log")
            axis.set_xlabel("size (bytes)")
            axis.grid(True, which="both", linewidth=0.3)
            if panel:
                axis.set_title(f"needle {panel[0]}")
        axes[0][0].set_ylabel("MB/s")
        handles, labels = axes[0][0].get_legend_handles_labels()
        figure.legend(handles, labels, loc="center right", fontsize="small", frameon=False)
        figure.suptitle(family)
        figure.tight_layout(rect=(0, 0, 1 - 1.3 / (4.2 * len(panels) + 1.2), 1))
        name = f"{family.lower()}.svg"
        figure.savefig(os.path.join(plot_dir, name), metadata={"Date": None})
        plt.close(figure)
        written[family] = name
    return written


if __name__ == "__main__":
    if sys.argv[1:] == ["--glibc-forms"]:
        print(json.dumps(glibc_forms()))
    else:
        main(sys.argv[1], sys.argv[2])
