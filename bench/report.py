"""Renders RESULTS.md and its plots from what run_bench.py measured: every
figure from the results or targets.py, none in the prose. `python3
bench/report.py [FOLDER]` redraws them from FOLDER/results.json (default bench/)."""

import json
import os
import sys
import textwrap

import plot
import targets
from plot import rate_name

RUN_NAMES = {key: label for key, label, *_ in plot.LONG_RUNS}


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + " --- |" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines) + "\n"


def spread(s, digits=2):
    return f"{s['q1']:.{digits}f} to {s['q3']:.{digits}f}"


def quartiles(s):
    return f"{s['median']:.1f} ({spread(s, 1)})"


def checks(r):
    """The targets judged on one run's results, as (target, measured, met)
    rows, and a paragraph per missed target from this run's figures alone."""
    t = targets
    worst = max(r["cpu_per_frame"]["rows"], key=lambda row: row["ratio"]["median"])
    # Flat out is judged at no rate: each program's camera sends as fast as it can.
    frames = [row for row in frame_rows(r) if row[0]]
    rate, what, _, read, printed = max(frames, key=lambda row: 1 - row[4] / row[3])
    own = r["allocations"]["own_per_frame"]
    p99 = r["latency"]["key_to_exit_p99_ms"]
    long = r["long_run"]["runs"]
    # Descriptors, then threads: the most camwatch added in either long run.
    added = [max(long[name]["end"][i] - long[name]["settled"][i]
                 for name in ("camwatch", "camwatch_replug")) for i in (2, 3)]
    kept = added[0] <= t.ADDED_DESCRIPTORS_MAX and added[1] <= t.ADDED_THREADS_MAX
    flat = {"camwatch": long["camwatch"]["rise_kib"] <= t.MEMORY_NOISE_KIB,
            "camwatch_replug": long["camwatch_replug"]["rise_kib"]
            <= t.MEMORY_NOISE_KIB + long["baseline_replug"]["rise_kib"]}
    stats = r["stats_per_frame"]["rows"]
    stats_worst = max(stats, key=lambda row: row["difference_us"]["median"])
    rows = [
        (f"CPU per frame of camwatch <= {t.CPU_RATIO_MAX}x the holding baseline's at every rate "
         "(median of the pairs)",
         f"worst {worst['ratio']['median']:.3f}x, at {rate_name(worst['fps'])} fps",
         worst["ratio"]["median"] <= t.CPU_RATIO_MAX),
        (f"CPU per frame of camwatch --stats within {t.STATS_EXTRA_US_MAX} µs of the baseline's "
         "at every rate (median of the pairs' differences)",
         f"worst {stats_worst['difference_us']['median']:+.1f} µs, at "
         f"{rate_name(stats_worst['fps'])} fps",
         stats_worst["difference_us"]["median"] <= t.STATS_EXTRA_US_MAX),
        (f"camwatch prints the frames the null listener reads, within "
         f"{t.FRAMES_SHORT_MAX:.0%}, at every set rate",
         f"worst {1 - printed / read:.2%} fewer, at {rate} fps ({what})",
         1 - printed / read <= t.FRAMES_SHORT_MAX),
        (f"<= {t.OWN_ALLOCATIONS_PER_FRAME_MAX} heap allocations per frame beyond the baseline",
         f"{own:+.3f}", own <= t.OWN_ALLOCATIONS_PER_FRAME_MAX),
        (f"long run, frames alone: camwatch's memory from {t.SETTLE_SECONDS} s on flat, its "
         f"fitted rise <= {t.MEMORY_NOISE_KIB} KiB (sampling noise)",
         slope_text(long["camwatch"]), flat["camwatch"]),
        (f"long run, a camera replugged: camwatch's memory from {t.SETTLE_SECONDS} s on no "
         f"steeper than the null listener's (rise within {t.MEMORY_NOISE_KIB} KiB of it)",
         f"camwatch {slope_text(long['camwatch_replug'])}; null listener "
         f"{slope_text(long['baseline_replug'])}", flat["camwatch_replug"]),
        (f"long runs: descriptors and threads camwatch adds from {t.SETTLE_SECONDS} s to the "
         f"end <= {t.ADDED_DESCRIPTORS_MAX} and {t.ADDED_THREADS_MAX}",
         f"{added[0]:+d} descriptors, {added[1]:+d} threads", kept),
        (f"key to exit p99 <= {t.KEY_TO_EXIT_P99_MAX_MS} ms", f"{p99:.1f} ms",
         p99 <= t.KEY_TO_EXIT_P99_MAX_MS)]
    why = [f"- CPU at {rate_name(row['fps'])} fps: {own_cost(row)}"
           for row in r["cpu_per_frame"]["rows"] if row["ratio"]["median"] > t.CPU_RATIO_MAX]
    why += [f"- CPU of --stats at {rate_name(row['fps'])} fps: {own_cost(row, '--stats ')}"
            for row in stats if row["difference_us"]["median"] > t.STATS_EXTRA_US_MAX]
    why += [f"- Frames at {rate} fps ({what}): camwatch printed {printed}, the null listener "
            f"read {read}." for rate, what, _, read, printed in frames
            if printed < read * (1 - t.FRAMES_SHORT_MAX)]
    if own > t.OWN_ALLOCATIONS_PER_FRAME_MAX:
        why.append("- Allocations: " + ", ".join(
            f"{name} {r['allocations'][name]['per_frame']:.2f} per frame"
            for name in ("camwatch", "baseline"))
            + "; each run's totals and frames handled are in the heap allocations table.")
    why += [f"- Long run ({RUN_NAMES[name]}): resident memory {counts(long[name], 1)} KiB, "
            f"descriptors {counts(long[name], 2)}, threads {counts(long[name], 3)} at start, "
            "settled and end." for name in flat if not (flat[name] and kept)]
    if p99 > t.KEY_TO_EXIT_P99_MAX_MS:
        lat = r["latency"]["key_to_exit_ms"]
        why.append(f"- Key to exit: median {lat['median']:.1f} ms, largest {lat['max']:.1f} ms "
                   f"over {lat['count']} runs.")
    return rows, why


def frame_rows(r):
    """(fps, which runs, frames sent, null listener read, camwatch printed):
    the CPU pairs' totals at each rate, then the long runs'."""
    rows = [(row["fps"], f"{row['ratio']['count']} pairs",
             row["frames_sent"] * row["ratio"]["count"], row["baseline"]["handled"],
             row["camwatch"]["handled"]) for row in r["cpu_per_frame"]["rows"]]
    long = r["long_run"]
    return rows + [(long["fps"], "long run, " + RUN_NAMES[name].split(", ")[1],
                    long["frames_sent"],
                    long["runs"][name.replace("camwatch", "baseline")]["handled"],
                    long["runs"][name]["handled"]) for name in ("camwatch", "camwatch_replug")]


def slope_text(run):
    return (f"{run['slope_kib_per_hour']:+.1f} KiB/h, fitted rise {run['rise_kib']:+.1f} KiB "
            f"over {run['settled_seconds']:.0f} s")


def counts(run, i):
    """Item i of the first, the settled and the last sample of a long run."""
    return " / ".join(str(run[key][i]) for key in ("start", "settled", "end"))


def per_plug_kib(r, program):
    """KiB kept per camera plugged in: the slope beyond that on frames alone."""
    long = r["long_run"]
    slopes = [long["runs"][program + end]["slope_kib_per_hour"] for end in ("_replug", "")]
    return (slopes[0] - slopes[1]) / 3600 * long["replug_ms"] / 1000


def own_cost(row, mode=""):
    c, b = row["camwatch"], row["baseline"]
    # The user and system columns are medians of their own and need not add up
    # to the difference of the totals' medians, so they are not given as its parts.
    return (f"camwatch {mode}used {c['us']['median'] - b['us']['median']:+.1f} µs per frame more "
            f"than the baseline, with "
            f"{c['switches']:.2f} and {b['switches']:.2f} context switches per frame.")


def header(r):
    m = r["machine"]
    load = r["cpu_per_frame"]["load"]
    revision = m["revision"]
    measured = (f"revision {revision['commit']}"
                + (", with uncommitted changes" if revision["dirty"] else ", a clean tree")
                if revision else "a tree outside git, revision unknown")
    return [
        "# camwatch performance results\n",
        "Written by `scripts/bench`; every figure below comes from the run that wrote it, "
        "the limits from `bench/targets.py`.\n",
        f"Measured: {measured}; run {m['date']}"
        + (" (quick run: fewer and shorter runs)" if r["quick"] else "") + ".\n",
        f"Machine: {m['cpus']} CPUs ({m['cpu']}), Linux {m['kernel']}.\n",
        f"Load while the CPU pairs ran: load average {load['before'][0]:.2f} before and "
        f"{load['after'][0]:.2f} after; the machine's CPUs were "
        f"{load['busy'] * 100:.0f}% busy, {load['measured'] * 100:.0f}% of it (of all CPUs) "
        "the measured programs', the rest other work. CPU times carry that noise; "
        "instruction and allocation counts do not.\n",
    ]


def cpu_section(r):
    cpu = r["cpu_per_frame"]
    return [
        "## CPU per frame against the baseline\n",
        "camwatch and `bench/baseline --hold` (whose listeners read each frame and hold it until "
        "the next, as camwatch's per-frame line must, and do nothing else) run "
        f"side by side in pairs on the virtual camera, depth and color {r['config']['width']}x"
        f"{r['config']['height']}, stdout to a file, stdin a pipe whose key ends the run once "
        "the frames are through; which starts first alternates. CPU is user + system time "
        "(`wait4`), the camera's frame production included, less the median of runs without "
        f"frames (camwatch {cpu['fixed_ms']['camwatch']:.1f} ms, baseline "
        f"{cpu['fixed_ms']['baseline']:.1f} ms), per frame sent. The ratio is taken in each "
        "pair; its median is judged, the quartiles show the spread.\n",
        table(["fps per stream", "frames sent", "pairs", "camwatch µs/frame (quartiles)",
               "baseline µs/frame (quartiles)", "ratio", "ratio quartiles",
               "camwatch user / system µs", "baseline user / system µs",
               "context switches per frame (camwatch / baseline)"],
              [(rate_name(row["fps"]), row["frames_sent"], row["ratio"]["count"],
                quartiles(c["us"]), quartiles(b["us"]), f"**{row['ratio']['median']:.3f}**",
                spread(row["ratio"], 3), f"{c['user_us']:.1f} / {c['system_us']:.1f}",
                f"{b['user_us']:.1f} / {b['system_us']:.1f}",
                f"{c['switches']:.2f} / {b['switches']:.2f}")
               for row in cpu["rows"] for c, b in [(row["camwatch"], row["baseline"])]]),
        f"![CPU per frame against frame rate, camwatch beside the baseline]({plot.NAME})\n",
        f"Inside its frame listener camwatch runs "
        f"{r['listener_instructions']['own_per_frame']:.0f} instructions per frame more than the "
        "baseline (callgrind). User and system time come from the kernel's tick sampling: their "
        "split is coarser than their sum.\n"]


def stats_section(r):
    stats = r["stats_per_frame"]
    return [
        "## CPU per frame of camwatch --stats against the baseline\n",
        "`camwatch --stats` counts frames and prints a line per stream each second; its "
        "listeners read each frame and give it back at once. It runs in pairs, as above, beside "
        "`bench/baseline` without `--hold`, whose listeners do the same and nothing else, less "
        f"each program's runs without frames (camwatch --stats {stats['fixed_ms']['camwatch']:.1f}"
        f" ms, baseline {stats['fixed_ms']['baseline']:.1f} ms). The difference is taken in each "
        "pair; its median is judged.\n",
        table(["fps per stream", "frames sent", "pairs", "camwatch --stats µs/frame (quartiles)",
               "baseline µs/frame (quartiles)", "difference µs", "difference quartiles µs",
               "frames counted / read (camwatch --stats / baseline)"],
              [(rate_name(row["fps"]), row["frames_sent"], row["difference_us"]["count"],
                quartiles(c["us"]), quartiles(b["us"]),
                f"**{row['difference_us']['median']:+.1f}**", spread(row["difference_us"], 1),
                f"{c['handled']} / {b['handled']}")
               for row in stats["rows"] for c, b in [(row["camwatch"], row["baseline"])]])]


def line_section(r):
    line = r["line_alone"]
    out = ["## Per-frame line alone and in the listener\n",
           "Google Benchmark, median CPU time of the repetitions, of the program's own "
           "`formatMiddlePixelLine` and `printMiddlePixelLine` (into a line-buffered file, as "
           "stdout is):\n",
           table(["frame", "format ns", "format + print ns"], [
               (kind, f"{line['formatOnly/' + kind]:.0f}", f"{line['formatAndPrint/' + kind]:.0f}")
               for kind in ("depth", "color", "unknown")])]
    for key, what, how in (
            ("listener_instructions", "Instructions", "callgrind, counting only from the "
             "library's call into a frame listener to its return, the library calls made from "
             "there included"),
            ("allocations", "Heap allocations", "valgrind's memcheck, the whole process")):
        v = r[key]
        out += [f"{what} per frame ({how}): runs of {v['sent'][0]} and {v['sent'][1]} frames "
                f"sent at {r['config']['valgrind_fps']} fps per stream; per frame = difference "
                "of the totals over the difference of the frames sent.\n",
                table(["program", "totals", "frames handled", "per frame"],
                      [(name, ", ".join(map(str, v[name]["totals"])),
                        ", ".join(map(str, v[name]["handled"])), f"{v[name]['per_frame']:.2f}")
                       for name in ("camwatch", "baseline")]
                      + [("camwatch beyond the baseline", "", "", f"{v['own_per_frame']:+.2f}")])]
    return out


def frames_section(r):
    limit = max((row for row in r["cpu_per_frame"]["rows"] if row["fps"]),
                key=lambda row: row["fps"])
    sent = limit["frames_sent"] * limit["ratio"]["count"]
    return ["## Frames printed against the null listener's\n",
            "At each rate, the frames sent in all the runs, those the null listener read and "
            "those camwatch printed: the CPU pairs, then the long run's.\n",
            table(["fps per stream", "runs", "frames sent", "null listener read",
                   "camwatch printed", "camwatch against the null listener"],
                  [(rate_name(row[0]), *row[1:], f"{row[4] / row[3] - 1:+.2%}")
                   for row in frame_rows(r)]),
            f"The camera library hands a listener only so many frames a second: at "
            f"{limit['fps']} fps per stream the null listener, which only reads and holds, "
            f"read {limit['baseline']['handled']} of the {sent} frames sent, "
            f"{limit['baseline']['handled'] * limit['fps'] / sent:.0f} a second per stream. "
            "That limit is the library's; what is judged is whether camwatch prints what the "
            "library hands it.\n"]


def long_run_section(r):
    long = r["long_run"]
    return [
        "## Long run: memory, descriptors and threads\n",
        f"camwatch and the null listener (`bench/baseline`) ran side by side, all four runs at "
        f"once, for {long['minutes']:g} min: depth and color {long['size'][0]}x{long['size'][1]} "
        f"at {long['fps']} fps each, stdout to a file; in the replug runs a second camera is "
        f"plugged in every {long['replug_ms']} ms and unplugged {long['replug_ms'] // 2} ms "
        f"later, while the frames last. A sample every {long['interval']:g} s reads resident "
        "memory (VmRSS), open descriptors and threads. The slope is the least-squares line "
        f"through the samples from {targets.SETTLE_SECONDS} s on (the first is the settled "
        "sample), the rise its climb over them. Resident memory counts whole pages, touched now "
        "and then even without new allocations: a rise within "
        f"{targets.MEMORY_NOISE_KIB} KiB is that sampling noise.\n",
        table(["run", "frames handled", "VmRSS KiB: start / settled / end", "slope KiB/h",
               "fitted rise KiB", "descriptors: start / settled / end",
               "threads: start / settled / end"],
              [(label, run["handled"], counts(run, 1), f"{run['slope_kib_per_hour']:+.1f}",
                f"{run['rise_kib']:+.1f}", counts(run, 2), counts(run, 3))
               for name, label in RUN_NAMES.items() for run in [long["runs"][name]]]),
        f"With a camera plugged in and out, camwatch kept {per_plug_kib(r, 'camwatch'):.2f} KiB "
        f"more for each plug-in than on frames alone, the null listener, which has no device "
        f"listener, {per_plug_kib(r, 'baseline'):.2f} KiB: the camera library's, not "
        "camwatch's.\n",
        f"![Resident memory over the long run, camwatch beside the null listener]"
        f"({plot.MEMORY_NAME})\n",
        f"The plot and results.json keep one sample in {long['kept_every']}; the figures above "
        "are fitted to all of them.\n"]


def latency_section(r):
    lat = r["latency"]
    return ["## Key to exit and startup\n",
            f"{lat['runs']} runs of camwatch on a pseudo-terminal with frames flowing; the "
            "key lands at a different point of the key poll in each.\n",
            table(["measure", "median ms", "quartiles ms", "p99 ms", "max ms"],
                  [("key written to process exit", f"{lat['key_to_exit_ms']['median']:.1f}",
                    spread(lat["key_to_exit_ms"], 1), f"{lat['key_to_exit_p99_ms']:.1f}",
                    f"{lat['key_to_exit_ms']['max']:.1f}"),
                   ("start to first frame line", f"{lat['startup_ms']['median']:.1f}",
                    spread(lat["startup_ms"], 1), "", f"{lat['startup_ms']['max']:.1f}")])]


def wrapped(markdown, width=100):
    """Prose and list items folded at width, as a hand-written file would be;
    tables, headings and images stay on their lines."""
    return "\n".join(
        line if len(line) <= width or line.startswith(("|", "#", "![")) else
        textwrap.fill(line, width, subsequent_indent="  " if line.startswith("- ") else "",
                      break_long_words=False, break_on_hyphens=False)
        for line in markdown.split("\n"))


def render(results):
    rows, missed = checks(results)
    out = header(results)
    out += ["## Targets\n", table(["target", "measured", ""],
                                  [(*row[:2], "met" if row[2] else "**MISSED**") for row in rows]),
            "These replace two earlier targets: a bound on memory growth from the first frame "
            "line to the end of a short run, which judged the start, where the streams' buffers "
            "come into use, and not a long run; and no frame lost up to a rate above what the "
            "camera library hands any listener, which no program can meet.\n"]
    if missed:
        out += ["## Why targets are missed\n", "\n".join(missed) + "\n"]
    out += (cpu_section(results) + stats_section(results) + line_section(results)
            + frames_section(results) + long_run_section(results) + latency_section(results))
    return "\n".join(out)


def write(results, folder):
    """RESULTS.md and the plots it shows, into folder."""
    plot.draw(results, os.path.join(folder, plot.NAME))
    plot.draw_memory(results, os.path.join(folder, plot.MEMORY_NAME))
    with open(os.path.join(folder, "RESULTS.md"), "w") as text:
        text.write(wrapped(render(results)))


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(folder, "results.json")) as raw:
        results = json.load(raw)
    # Older results measured the line against the baseline that holds nothing,
    # and --stats not at all: this prose would misdescribe them.
    if "stats_per_frame" not in results:
        print(f"{os.path.join(folder, 'results.json')} comes from a run before camwatch --stats "
              "was measured; scripts/bench measures again", file=sys.stderr)
        return 1
    write(results, folder)
    print(f"Wrote {os.path.join(folder, 'RESULTS.md')} and {plot.NAME}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
