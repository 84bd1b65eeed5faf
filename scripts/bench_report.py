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
"""
import collections
import datetime
import json
import os
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
                  " heap pages it owns; the memchr peer only maps the page cache.",
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
              " assignment: the element owns its text, so each assignment allocates a new"
              " block and releases the old one, where std::string reuses its capacity.",
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
    peers = [name for name in run if name not in ("size_mib", "ours")]
    header = ["file", "ours (s)"] + [f"vs {peer}" for peer in peers]
    rows = [
        "## sortlines (whole process)",
        "",
        "examples/sortlines beside the same sort by another program, each run once on",
        "one file of random lines (`bench/sortlines_vs_sort.sh`); a ratio above 1",
        "means sortlines took less time. The outputs are checked to agree.",
        "",
        "| " + " | ".join(header) + " |",
        "|" + "---|" * len(header),
        "| " + " | ".join([f"{run['size_mib']} MiB", f"{run['ours']:.2f}"] +
                          [f"{run[peer] / run['ours']:.2f}" for peer in peers]) + " |",
        "",
    ]
    return rows


def main(source, target):
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
        "means the library's routine is faster than that peer. Each figure is the",
        "median of three repetitions.",
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
    ]
    for family in sorted(rates, key=family_order):
        by_args = collections.OrderedDict(sorted(rates[family].items(),
                                                 key=lambda item: numeric(item[0])))
        kernels, peers = split_kernels(by_args)
        if not kernels:
            continue
        lines.append(f"## {family}")
        lines.append("")
        header = ["size"] + (["needle"] if len(next(iter(by_args))) > 1 else [])
        header += ["ours (MB/s)" if k == "ours" else f"ours {kernel_label(k)} (MB/s)"
                   for k in kernels]
        header += [f"vs {peer} ({' / '.join(kernel_label(k) for k in kernels)})"
                   if len(kernels) > 1 else f"vs {peer}" for peer in peers]
        lines.append("| " + " | ".join(header) + " |")
        lines.append("|" + "---|" * len(header))
        for args, by_impl in by_args.items():
            if not any(by_impl.get(k) for k in kernels):
                continue
            row = [human(args[0])] + ([args[1]] if len(args) > 1 else [])
            row += [f"{by_impl[k] / 1e6:,.0f}" if by_impl.get(k) else "-" for k in kernels]
            per_kernel = [ratio_cells(by_impl.get(k), by_impl, peers) if by_impl.get(k)
                          else ["-"] * len(peers) for k in kernels]
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


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
