"""Runs every measurement of camwatch on the virtual camera and writes
results.json and RESULTS.md into the output folder; scripts/bench drives it."""

import argparse
import concurrent.futures
import functools
import itertools
import json
import os
import platform
import re
import statistics
import sys
import tempfile
import time

import launcher
import measure
import report
import targets

# (frames per second per stream, frames per stream in a run, pairs of runs);
# 0 fps sends as fast as the virtual camera can.
RATES = [(30, 150, 40), (300, 1500, 8), (3000, 15000, 6), (0, 20000, 10)]
# camwatch --stats beside the null listener that holds nothing, as --stats does.
STATS_RATES = RATES[:3]
FIXED_PAIRS = 8
LATENCY_RUNS = 60
# The long run: small frames at a high rate, so that hours of frames go through;
# in its replug runs a second camera comes and goes, as on a loose cable.
LONG_RUN_FPS, LONG_RUN_SIZE, REPLUG_MS = 1000, (64, 48), 200
LONG_RUN_MINUTES, QUICK_LONG_RUN_MINUTES = 10, 0.5
LONG_RUN_SAMPLES = 600  # at most, one a second at least
# results.json keeps about this many of each run's samples, enough to draw; the
# figures are fitted to all of them.
KEPT_SAMPLES = 120
# Under valgrind: a rate it keeps up with, and runs of N and 2N frames.
VALGRIND_FPS = 15
VALGRIND_FRAMES = (30, 60)


def summary(values):
    """Median and spread; the quartiles need two values or more."""
    values = sorted(values)
    q1, _, q3 = statistics.quantiles(values, n=4, method="inclusive") if len(values) > 1 \
        else values * 3
    return {"median": statistics.median(values), "q1": q1, "q3": q3,
            "min": values[0], "max": values[-1], "count": len(values)}


def settled(samples):
    """Of [seconds, KiB, descriptors, threads] samples: the memory slope fitted
    from targets.SETTLE_SECONDS on (KiB an hour) and the rise of that line over
    the part it fits; the first sample, the first settled one and the last."""
    later = [sample for sample in samples if sample[0] >= targets.SETTLE_SECONDS]
    if len(later) < 2:
        raise RuntimeError("fewer than two samples after the start settled")
    seconds = later[-1][0] - later[0][0]
    slope = statistics.linear_regression([s[0] for s in later], [s[1] for s in later]).slope
    return {"slope_kib_per_hour": slope * 3600, "rise_kib": slope * seconds,
            "settled_seconds": seconds, "start": samples[0], "settled": later[0],
            "end": later[-1]}


def revision():
    """The commit measured and whether the tree had changes beside it; None
    outside a git checkout."""
    try:
        here = os.path.dirname(os.path.abspath(__file__))
        head, status = (launcher.run(["git", *args], text=True, cwd=here)
                        for args in (["rev-parse", "HEAD"], ["status", "--porcelain"]))
    except OSError:
        return None
    return None if head.returncode or status.returncode else {
        "commit": head.stdout.strip(), "dirty": bool(status.stdout.strip())}


def machine_load():
    """The load averages, and the busy and total CPU time of the whole machine
    so far, in clock ticks."""
    with open("/proc/loadavg") as loadavg, open("/proc/stat") as stat:
        ticks = [int(field) for field in stat.readline().split()[1:9]]
        return ([float(field) for field in loadavg.read().split()[:3]],
                sum(ticks) - ticks[3] - ticks[4], sum(ticks))


class Bench:
    def __init__(self, build, workdir, output, quick, long_run_minutes):
        camwatch = os.path.join(build, "camwatch")
        baseline = os.path.join(build, "bench", "baseline")
        # camwatch's per-frame line beside the null listener that holds each
        # frame until the next, as that line must; --stats beside the one that
        # holds none. Each program with its arguments.
        self.pair = {"camwatch": [camwatch], "baseline": [baseline, "--hold"]}
        self.stats_pair = {"camwatch": [camwatch, "--stats"], "baseline": [baseline]}
        self.runtime = os.path.join(build, "runtime")
        self.gbench = os.path.join(build, "bench", "middle_pixel_line_bench")
        self.workdir, self.output, self.quick = workdir, output, quick
        self.long_run_minutes = long_run_minutes
        self.serial = itertools.count(1)

    def path(self, name):
        return os.path.join(self.workdir, f"{next(self.serial):04d}-{name}")

    def run(self, argv, fps, frames, prefix=None, on_poll=None, **shape):
        """One run of a program and its arguments until its frames are through,
        then a key; what it cost. The shape (size, replugs) is measure.scenario's."""
        name = "-".join([os.path.basename(argv[0]), *(arg.lstrip("-") for arg in argv[1:])])
        out = self.path(name + ".out")
        min_seconds = (frames / fps if fps else 0) + (2 if prefix else 0.3)
        usage = measure.run(argv, self.runtime, measure.scenario(fps, frames, **shape), out,
                            os.path.join(self.output, f"hang-{name}-stacks.txt"), min_seconds,
                            key_timeout=120 if prefix else 30, on_poll=on_poll, prefix=prefix)
        return {"user": usage.ru_utime, "system": usage.ru_stime,
                "switches": usage.ru_nvcsw + usage.ru_nivcsw,
                "handled": measure.frames_handled(out)}

    def line_alone(self):
        """Google Benchmark's median CPU ns of the product's line functions."""
        out = self.path("gbench.json")
        launcher.run([self.gbench, f"--benchmark_min_time={0.05 if self.quick else 0.3}",
                      "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                      f"--benchmark_out={out}", "--benchmark_out_format=json"],
                     timeout=600, check=True, stdout=os.devnull, stderr=os.devnull)
        with open(out) as data:
            benchmarks = json.load(data)["benchmarks"]
        return {entry["run_name"]: entry["cpu_time"] for entry in benchmarks
                if entry.get("aggregate_name") == "median"}

    @staticmethod
    def side_by_side(jobs, count):
        """Rounds of the runs `jobs` (name: function) side by side, each on a
        thread of its own, so that all see the same load of the shared machine;
        which starts first turns round by round. Their results by name."""
        runs = {name: [] for name in jobs}
        names = sorted(jobs)
        with concurrent.futures.ThreadPoolExecutor(len(names)) as pool:
            for index in range(count):
                turn = index % len(names)
                started = {name: pool.submit(jobs[name]) for name in names[turn:] + names[:turn]}
                for name, job in started.items():
                    runs[name].append(job.result())
        return runs

    def pairs(self, pair, fps, frames, count):
        """side_by_side of the two programs of `pair` (name: argv)."""
        return self.side_by_side({name: functools.partial(self.run, argv, fps, frames)
                                  for name, argv in pair.items()},
                                 2 if self.quick else count)

    def pairs_per_frame(self, pair, rates):
        """CPU per frame sent of the two programs of `pair`, in pairs at each of
        `rates`, each less what it costs without frames; the measured runs too."""
        keys = ("user", "system", "switches")
        fixed = self.pairs(pair, 30, 0, FIXED_PAIRS)
        # Start, teardown and the key poll: what a run costs without frames.
        fixed_cost = {name: {key: statistics.median(run[key] for run in runs) for key in keys}
                      for name, runs in fixed.items()}
        measured = fixed["camwatch"] + fixed["baseline"]
        rows = []
        for fps, frames, count in rates:
            sent = 2 * (max(30, frames // 10) if self.quick else frames)
            runs = self.pairs(pair, fps, sent // 2, count)
            measured += runs["camwatch"] + runs["baseline"]
            # Each run's cost per frame sent, less its program's cost without frames.
            net = {name: [{key: (run[key] - fixed_cost[name][key]) / sent for key in keys}
                          for run in program_runs] for name, program_runs in runs.items()}
            us = {name: [(run["user"] + run["system"]) * 1e6 for run in net[name]] for name in net}
            row = {"fps": fps, "frames_sent": sent,
                   "ratio": summary([c / b for c, b in zip(us["camwatch"], us["baseline"])]),
                   "difference_us": summary([c - b for c, b in zip(us["camwatch"],
                                                                   us["baseline"])])}
            for name, program_runs in runs.items():
                median = {key: statistics.median(run[key] for run in net[name]) for key in keys}
                row[name] = {"us": summary(us[name]), "user_us": median["user"] * 1e6,
                             "system_us": median["system"] * 1e6, "switches": median["switches"],
                             "handled": sum(run["handled"] for run in program_runs)}
            rows.append(row)
            print(f"  {report.rate_name(fps)} fps: ratio {row['ratio']['median']:.3f} "
                  f"(quartiles {report.spread(row['ratio'], 3)}), difference "
                  f"{row['difference_us']['median']:+.1f} µs", flush=True)
        return {"fixed_ms": {name: (cost["user"] + cost["system"]) * 1e3
                             for name, cost in fixed_cost.items()}, "rows": rows}, measured

    def cpu_per_frame(self):
        load_before, busy_before, total_before = machine_load()
        result, measured = self.pairs_per_frame(self.pair, RATES)
        load_after, busy_after, total_after = machine_load()
        total = total_after - total_before
        return {**result,
                "load": {"before": load_before, "after": load_after,
                         "busy": (busy_after - busy_before) / total,
                         "measured": sum(run["user"] + run["system"] for run in measured)
                         * os.sysconf("SC_CLK_TCK") / total}}

    def stats_per_frame(self):
        return self.pairs_per_frame(self.stats_pair, STATS_RATES)[0]

    def under_valgrind(self, options, total):
        """Runs of N and 2N frames per stream of each program under valgrind:
        per frame is the difference of the totals over the difference of the
        frames sent, free of start, teardown and first-call costs."""
        counts = (15, 30) if self.quick else VALGRIND_FRAMES
        result = {"sent": [2 * frames for frames in counts]}
        for name, argv in self.pair.items():
            totals, handled = [], []
            for frames in counts:
                out = self.path("valgrind.out")
                handled.append(self.run(argv, VALGRIND_FPS, frames, prefix=[
                    "valgrind", *(option.format(out) for option in options)])["handled"])
                with open(out) as text:
                    totals.append(measure.valgrind_total(total, text.read()))
            result[name] = {"totals": totals, "handled": handled,
                            "per_frame": (totals[1] - totals[0]) / (2 * (counts[1] - counts[0]))}
        result["own_per_frame"] = result["camwatch"]["per_frame"] - result["baseline"]["per_frame"]
        return result

    def allocations(self):
        return self.under_valgrind(["--tool=memcheck", "--log-file={}"], measure.HEAP_ALLOCATIONS)

    def listener_instructions(self):
        """Instructions from the library's call into a frame listener to its return."""
        return self.under_valgrind(["--tool=callgrind", "--callgrind-out-file={}",
                                    "--toggle-collect=*NewFrameListener::callback*"],
                                   measure.INSTRUCTIONS)

    def long_run(self):
        """camwatch beside the null listener for the set time, on frames alone
        and with a camera replugged, all four at once: resident memory, open
        descriptors and threads sampled from /proc while the frames flow."""
        seconds = self.long_run_minutes * 60
        frames, interval = round(LONG_RUN_FPS * seconds), max(1.0, seconds / LONG_RUN_SAMPLES)
        keep = max(1, round(seconds / interval / KEPT_SAMPLES))

        def job(argv, replug_ms):
            samples = []

            def sample(pid, at):  # sample k at the first poll from k * interval on
                now = len(samples) * interval <= at < seconds and measure.usage(pid)
                if now:
                    samples.append([round(at, 2), *now])

            run = self.run(argv, LONG_RUN_FPS, frames, on_poll=sample, width=LONG_RUN_SIZE[0],
                           height=LONG_RUN_SIZE[1], replug_ms=replug_ms)
            return {"handled": run["handled"], "samples": samples[::keep], **settled(samples)}

        runs = self.side_by_side({name + suffix: functools.partial(job, argv, replug_ms)
                                  for suffix, replug_ms in (("", 0), ("_replug", REPLUG_MS))
                                  for name, argv in self.pair.items()}, 1)
        return {"minutes": self.long_run_minutes, "fps": LONG_RUN_FPS, "size": LONG_RUN_SIZE,
                "replug_ms": REPLUG_MS, "frames_sent": 2 * frames, "interval": interval,
                "kept_every": keep, "runs": {name: run for name, [run] in runs.items()}}

    def latency(self):
        """camwatch with a pseudo-terminal for its controlling terminal and stdin:
        from the start to the first frame line, and from a key to the end of its
        output, which comes with its exit."""
        startup, exits, camwatch = [], [], self.pair["camwatch"]
        runs = 12 if self.quick else LATENCY_RUNS
        for index in range(runs):
            started = time.monotonic()
            with measure.start(camwatch, self.runtime, measure.scenario(30, 100000),
                               stdin="pty") as runner:
                runner.wait_for_frames(1, timeout=30)
                startup.append((time.monotonic() - started) * 1e3)
                # Keys land at different points of the 100 ms key poll.
                runner.read_for(0.2 + (index % 10) * 0.013)
                key_at = time.monotonic()
                runner.press_key()
                runner.read_for(30)
                exits.append((time.monotonic() - key_at) * 1e3)
                measure.finished(runner, camwatch, os.path.join(
                    self.output, "hang-camwatch-terminal-stacks.txt"), 30)
        return {"runs": runs, "startup_ms": summary(startup), "key_to_exit_ms": summary(exits),
                "key_to_exit_p99_ms": statistics.quantiles(exits, n=100,
                                                           method="inclusive")[98]}


def machine():
    with open("/proc/cpuinfo") as cpuinfo:
        model = re.search(r"^model name\s*:\s*(.*)$", cpuinfo.read(), re.MULTILINE)
    return {"cpus": os.cpu_count(), "cpu": model.group(1) if model else "unknown",
            "kernel": platform.release(), "revision": revision(),
            "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("output")
    parser.add_argument("--quick", action="store_true", help="fewer and shorter runs")
    parser.add_argument("--long-run-minutes", type=float,
                        help=f"length of the long run (default {LONG_RUN_MINUTES}, "
                        f"{QUICK_LONG_RUN_MINUTES} with --quick)")
    args = parser.parse_args()
    minutes = args.long_run_minutes or (QUICK_LONG_RUN_MINUTES if args.quick
                                        else LONG_RUN_MINUTES)
    results = {"machine": machine(), "quick": args.quick,
               "config": {"width": measure.WIDTH, "height": measure.HEIGHT,
                          "valgrind_fps": VALGRIND_FPS}}
    steps = [("line_alone", "per-frame line, Google Benchmark"),
             ("cpu_per_frame", "CPU per frame, camwatch and baseline --hold in pairs side by side"),
             ("stats_per_frame", "CPU per frame, camwatch --stats and baseline in pairs"),
             ("allocations", "heap allocations per frame, memcheck"),
             ("listener_instructions", "frame listener instructions, callgrind"),
             ("long_run", f"long run, {minutes:g} min: memory, descriptors and threads"),
             ("latency", "key to exit on a terminal")]
    with tempfile.TemporaryDirectory(prefix="camwatch-bench-") as workdir:
        bench = Bench(os.path.abspath(args.build), workdir, os.path.abspath(args.output),
                      args.quick, minutes)
        for key, title in steps:
            started = time.monotonic()
            print(f"{title} ...", flush=True)
            results[key] = getattr(bench, key)()
            print(f"  done in {time.monotonic() - started:.0f} s", flush=True)
    with open(os.path.join(args.output, "results.json"), "w") as raw:
        json.dump(results, raw, indent=1)
    report.write(results, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
