"""Draws the pictures of RESULTS.md from the results: CPU per frame, camwatch
beside the baseline at each frame rate (median and quartiles of the runs) and
the ratio of the pairs against its target; resident memory over the long run."""

import contextlib

import targets

NAME = "cpu_per_frame.png"
MEMORY_NAME = "memory_over_time.png"
# Long runs: (key, label, colour, line style).
LONG_RUNS = (("camwatch", "camwatch, frames alone", "tab:blue", "-"),
             ("baseline", "null listener, frames alone", "tab:orange", "--"),
             ("camwatch_replug", "camwatch, a camera replugged", "tab:green", "-"),
             ("baseline_replug", "null listener, a camera replugged", "tab:red", "--"))
PROGRAMS = (("camwatch", "camwatch", "tab:blue", "o"),
            ("baseline", "baseline --hold (reads and holds only)", "tab:orange", "s"))


def rate_name(fps):
    return str(fps) if fps else "max"


def series(results):
    """The points to draw, in the order of the rates: the rate labels, and for
    camwatch, the baseline and the ratio a summary (median, quartiles) per rate."""
    rows = results["cpu_per_frame"]["rows"]  # in the order of RATES: flat out last
    return {"labels": [rate_name(row["fps"]) for row in rows],
            **{key: [row[key]["us"] for row in rows] for key, *_ in PROGRAMS},
            "ratio": [row["ratio"] for row in rows]}


def error_bars(summaries):
    """Medians and the distances down to q1 and up to q3, as errorbar wants them."""
    return ([s["median"] for s in summaries], [[s["median"] - s["q1"] for s in summaries],
                                               [s["q3"] - s["median"] for s in summaries]])


def line_with_bars(axes, x, summaries, rated, **style):
    """Medians joined by a line across the measured rates; flat out, which is
    no rate on that scale, stands apart as a point of its own."""
    medians, spread = error_bars(summaries)
    axes.errorbar(x[:rated], medians[:rated], yerr=[side[:rated] for side in spread],
                  capsize=4, linewidth=1.8, **style)
    style.pop("label", None)
    if rated < len(x):
        axes.errorbar(x[rated:], medians[rated:], yerr=[side[rated:] for side in spread],
                      capsize=4, linestyle="none", **style)


@contextlib.contextmanager
def figure(path, *grid, **options):
    """The axes of a new figure, saved to path once drawn."""
    # Imported here: the report's text needs none of it.
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib import pyplot
    drawn, axes = pyplot.subplots(*grid, **options)
    yield axes
    drawn.tight_layout()
    drawn.savefig(path, dpi=100)
    pyplot.close(drawn)


def draw_memory(results, path):
    long = results["long_run"]
    with figure(path, figsize=(8, 4.4)) as axes:
        for key, label, colour, style in LONG_RUNS:
            samples = long["runs"][key]["samples"]
            axes.plot([s[0] for s in samples], [s[1] for s in samples], style, color=colour,
                      label=label, linewidth=1.4)
        axes.axvline(targets.SETTLE_SECONDS, color="grey", linestyle=":", linewidth=0.8)
        axes.set_title(f"Resident memory, depth + color {long['size'][0]}x{long['size'][1]} at "
                       f"{long['fps']} fps; replugs every {long['replug_ms']} ms")
        axes.set_xlabel(f"seconds since start (slopes fitted from {targets.SETTLE_SECONDS} s, "
                        "dotted line)")
        axes.set_ylabel("VmRSS KiB")
        axes.grid(alpha=0.4)
        axes.legend(loc="upper left", fontsize="small")


def draw(results, path):
    points = series(results)
    positions = list(range(len(points["labels"])))
    # The measured rates come first, flat out last.
    rated = sum(1 for label in points["labels"] if label != "max")
    config = results["config"]
    with figure(path, 2, 1, sharex=True, figsize=(8, 6.4),
                gridspec_kw={"height_ratios": [2.2, 1]}) as (cpu, ratio):
        cpu.set_title(f"CPU time (user + system) per frame sent, depth + color "
                      f"{config['width']}x{config['height']}")
        for offset, (key, label, colour, marker) in zip((-0.06, 0.06), PROGRAMS):
            line_with_bars(cpu, [p + offset for p in positions], points[key], rated,
                           label=label, color=colour, marker=marker)
        cpu.set_ylabel("µs per frame (median, quartiles)")
        cpu.set_ylim(bottom=0)
        cpu.grid(axis="y", alpha=0.4)
        cpu.legend(loc="upper right")

        line_with_bars(ratio, positions, points["ratio"], rated, color="tab:blue", marker="o",
                       label="camwatch / baseline, per pair")
        for axes in (cpu, ratio):
            if rated < len(positions):
                axes.axvline(rated - 0.5, color="grey", linestyle=":", linewidth=0.8)
        ratio.axhline(targets.CPU_RATIO_MAX, color="tab:red", linestyle="--",
                      label=f"target: at most {targets.CPU_RATIO_MAX}x")
        ratio.axhline(1.0, color="grey", linewidth=0.8)
        ratio.set_ylabel("ratio")
        ratio.set_ylim(min(0.8, min(s["q1"] for s in points["ratio"]) - 0.05),
                       max(targets.CPU_RATIO_MAX, max(s["q3"] for s in points["ratio"])) + 0.1)
        ratio.grid(axis="y", alpha=0.4)
        ratio.legend(loc="lower left", fontsize="small")
        ratio.set_xticks(positions, points["labels"])
        ratio.set_xlabel("frames per second per stream (max: as fast as the virtual camera can)")
