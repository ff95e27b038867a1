"""Runs every measurement of camwatch's per-frame cost on the virtual camera
and writes bench/RESULTS.md and the plot. Driven by scripts/bench.

    python3 bench/run_bench.py <build dir> <output dir> [--quick]
"""

import argparse
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time

import measure
import report

# Frame rates per stream; 0 asks the virtual camera to send as fast as it can.
# Frame counts keep each run to a few seconds at most.
RATES = [(30, 120), (300, 1200), (3000, 12000), (0, 15000)]
# Timings on a shared machine wander: medians of interleaved runs.
REPEATS = 5
LATENCY_RUNS = 60


class Bench:
    def __init__(self, build, workdir, quick):
        self.build = os.path.abspath(build)
        self.workdir = workdir
        self.quick = quick
        self.camwatch = os.path.join(self.build, "camwatch")
        self.baseline = os.path.join(self.build, "bench", "baseline")
        self.runtime = os.path.join(self.build, "runtime")
        self.counter = os.path.join(self.build, "bench", "liballoc_counter.so")
        self.serial = 0
        self.failures = []  # runs done again, and why

    def path(self, name):
        self.serial += 1
        return os.path.join(self.workdir, f"{self.serial:03d}-{name}")

    def env(self, scenario_text, **extra):
        scenario_path = self.path("scenario.vcam")
        with open(scenario_path, "w") as scenario:
            scenario.write(scenario_text)
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("VCAM_", "LD_"))}
        env.update(LD_LIBRARY_PATH=self.runtime, VCAM_SCENARIO=scenario_path)
        env.update(extra)
        return env

    def run(self, program, fps, frames, prefix=(), sample_rss=False, **extra_env):
        """One run until the frames are through; returns a dict of what was seen.
        A run killed from outside (the machine is shared), or one that did not
        end after its key and was killed here, is recorded and done once more,
        with the files it appended to emptied."""
        try:
            return self.run_once(program, fps, frames, prefix, sample_rss, **extra_env)
        except RunFailed as failed:
            print(f"  {failed}; running it again", flush=True)
            self.failures.append(str(failed))
            for key in ("VCAM_LOG", "ALLOC_COUNTER_OUT"):
                if key in extra_env and os.path.exists(extra_env[key]):
                    os.remove(extra_env[key])
            return self.run_once(program, fps, frames, prefix, sample_rss, **extra_env)

    def run_once(self, program, fps, frames, prefix, sample_rss, **extra_env):
        is_camwatch = program == self.camwatch
        out_path = self.path(os.path.basename(program) + ".out")
        log_path = extra_env.get("VCAM_LOG")
        env = self.env(measure.scenario(fps, frames), **extra_env)
        run = measure.Run(list(prefix) + [program], env, out_path)
        expected = 2 * frames

        def done(lines):
            if is_camwatch and lines >= expected:
                return True
            return bool(log_path) and frame_records(log_path) >= expected

        slow = 20 if prefix else 1  # under valgrind everything takes longer
        min_seconds = (frames / fps if fps else 0) * slow + (8 if prefix else 0.4)
        run.wait_delivered(min_seconds, timeout=min_seconds * 4 + 30, done=done,
                           sample_rss=sample_rss)
        code, cpu, wall = run.finish(timeout=120 if prefix else 30)
        if run.killed:
            raise RunFailed(f"{os.path.basename(program)} at {fps or 'max'} fps did not exit "
                            f"within {30 if not prefix else 120} s of its key "
                            f"(stacks: {out_path}.hang.txt)")
        if code < 0:
            raise RunFailed(f"{os.path.basename(program)} ended by signal {-code}")
        if code != 0:
            raise RuntimeError(f"{program} exited with {code}; output in {out_path}")
        received = run.lines.lines if is_camwatch else baseline_counts(out_path)
        return {"cpu": cpu, "wall": wall, "received": received, "sent": expected,
                "rss": run.rss_samples, "out": out_path}

    # Per-frame work alone ---------------------------------------------------

    def google_benchmark(self):
        binary = os.path.join(self.build, "bench", "middle_pixel_line_bench")
        if not os.path.exists(binary):
            return None
        out_path = self.path("gbench.json")
        min_time = "0.1" if self.quick else "0.5"
        subprocess.run([binary, f"--benchmark_min_time={min_time}",
                        "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
                        f"--benchmark_out={out_path}", "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out_path) as results:
            data = json.load(results)
        return {entry["run_name"]: entry["cpu_time"] for entry in data["benchmarks"]
                if entry.get("aggregate_name") == "median"}

    def callgrind_ir(self, argv):
        """Total instructions of a callgrind run of argv."""
        out = self.path("callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + argv,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out) as text:
            return measure.parse_callgrind_total(text.read())

    def frame_path_ir(self):
        driver = os.path.join(self.build, "bench", "frame_path_driver")
        frames = 2000 if self.quick else 10000
        ir = {}
        for kind in ("depth", "color", "unknown"):
            totals = []
            for count in (frames, 2 * frames):
                out = self.path(f"{kind}.lines")
                totals.append(self.callgrind_ir([driver, kind, str(count), out]))
            ir[kind] = (totals[1] - totals[0]) / frames
        return ir

    def frame_path_allocations(self):
        driver = os.path.join(self.build, "bench", "frame_path_driver")
        totals = []
        for count in (10000, 20000):
            counts_path = self.path("driver.allocs")
            env = dict(os.environ, LD_PRELOAD=self.counter, ALLOC_COUNTER_OUT=counts_path)
            subprocess.run([driver, "depth", str(count), self.path("depth.lines")], env=env,
                           check=True)
            with open(counts_path) as counts:
                totals.append(measure.parse_alloc_counts(counts.read())["total"])
        return (totals[1] - totals[0]) / 10000

    # End to end on the virtual camera ---------------------------------------

    def cpu_per_rate(self):
        rows = []
        fixed = {}
        for program in (self.camwatch, self.baseline):
            # Start, teardown and the key poll: what a run costs without frames.
            fixed[program] = measure.median(
                [self.run(program, 30, 0)["cpu"] for _ in range(2 if self.quick else REPEATS)])
        for fps, frames in RATES:
            if self.quick:
                frames = max(30, frames // 10)
            runs = {self.camwatch: [], self.baseline: []}
            for _ in range(1 if self.quick else REPEATS):
                for program in runs:
                    runs[program].append(self.run(program, fps, frames))
            row = {"fps": fps, "frames": frames}
            for name, program in (("camwatch", self.camwatch), ("baseline", self.baseline)):
                results = runs[program]
                received = min(r["received"] for r in results)
                # Per frame sent: the same divisor for both programs, whatever
                # the library hands on to each.
                net = [(r["cpu"] - fixed[program]) / r["sent"] for r in results]
                row[name] = {
                    "us_per_frame": measure.median(net) * 1e6,
                    # Other work on the machine only ever adds CPU: the least run
                    # is the one it disturbed least.
                    "least_us_per_frame": min(net) * 1e6,
                    "received_min": received,
                    "sent": 2 * frames,
                    "achieved_fps": measure.median(
                        [frames / r["wall"] for r in results]),
                }
            row["ratio"] = row["camwatch"]["us_per_frame"] / row["baseline"]["us_per_frame"]
            row["least_ratio"] = (row["camwatch"]["least_us_per_frame"]
                                  / row["baseline"]["least_us_per_frame"])
            rows.append(row)
            print(f"  {fps or 'max'} fps: camwatch {row['camwatch']['us_per_frame']:.1f} us, "
                  f"baseline {row['baseline']['us_per_frame']:.1f} us, "
                  f"ratio {row['ratio']:.2f}, lines {row['camwatch']['received_min']}"
                  f"/{2 * frames}", flush=True)
        return {"fixed_cpu": {"camwatch": fixed[self.camwatch],
                              "baseline": fixed[self.baseline]}, "rows": rows}

    def delivery_with_log(self):
        """Frames the driver says it sent against lines camwatch printed."""
        rows = []
        for fps, frames in RATES:
            if self.quick:
                frames = max(30, frames // 10)
            log_path = self.path("vcam.log")
            result = self.run(self.camwatch, fps, frames, VCAM_LOG=log_path)
            with open(log_path) as log:
                sent = sum(measure.parse_sent(log.read()).values())
            rows.append({"fps": fps, "frames": frames, "sent": sent,
                         "printed": result["received"]})
        return rows

    def allocations(self):
        """Heap allocations per frame: runs of N and 2N frames differ by N frames
        per stream. 250 fps loses no frame, so frames sent = frames handled."""
        frames = 250 if self.quick else 500
        result = {}
        for name, program in (("camwatch", self.camwatch), ("baseline", self.baseline)):
            totals = []
            received = []
            for count in (frames, 2 * frames):
                counts_path = self.path("allocs")
                run = self.run(program, 250, count, LD_PRELOAD=self.counter,
                               ALLOC_COUNTER_OUT=counts_path)
                with open(counts_path) as counts:
                    totals.append(measure.parse_alloc_counts(counts.read())["total"])
                received.append(run["received"])
            result[name] = {"totals": totals, "received": received,
                            "per_frame": (totals[1] - totals[0]) / (2 * frames)}
        # What camwatch allocates beyond the library and the camera, per frame.
        extra = [c - b for c, b in zip(result["camwatch"]["totals"], result["baseline"]["totals"])]
        result["camwatch_own_per_frame"] = (extra[1] - extra[0]) / (2 * frames)
        return result

    def memory(self):
        frames = 20000 if self.quick else 500000
        result = self.run(self.camwatch, 0, frames, sample_rss=True)
        samples = [s for s in result["rss"] if s[1] > 0 and s[2] is not None]
        if not samples:
            raise RuntimeError("no memory sample taken while frames flowed")
        # Ten points spread over the run are enough to tell a step from a slope.
        picked = [samples[round(i * (len(samples) - 1) / 9)] for i in range(10)]
        return {"frames_per_stream": frames, "printed": result["received"],
                "seconds": result["wall"], "first": samples[0], "last": samples[-1],
                "middle": samples[len(samples) // 2], "samples": picked,
                "max_kib": max(s[2] for s in samples)}

    def latency(self):
        runs = 12 if self.quick else LATENCY_RUNS
        startup = []
        exits = []
        for i in range(runs):
            env = self.env(measure.scenario(30, 100000))
            # Keys land at different points of the 100 ms poll.
            settle = 0.2 + (i % 10) * 0.013
            first, exit_after_key, code = measure.key_to_exit([self.camwatch], env, settle)
            if code != 0:
                raise RuntimeError(f"camwatch exited with {code} in a terminal")
            startup.append(first)
            exits.append(exit_after_key)
        return {"runs": runs, "startup": summary(startup), "key_to_exit": summary(exits)}

    def callback_ir(self):
        """Instructions inside each program's frame listener per frame."""
        result = {}
        counts = (60, 120) if self.quick else (100, 200)
        for name, program in (("camwatch", self.camwatch), ("baseline", self.baseline)):
            totals = []
            received = []
            for count in counts:
                out = self.path("callback.callgrind")
                log_path = self.path("vcam.log")
                run = self.run(program, 100, count,
                               prefix=["valgrind", "--tool=callgrind",
                                       f"--callgrind-out-file={out}",
                                       "--toggle-collect=*NewFrameListener::callback*"],
                               VCAM_LOG=log_path)
                with open(out) as text:
                    totals.append(measure.parse_callgrind_total(text.read()))
                received.append(run["received"])
            result[name] = (totals[1] - totals[0]) / max(1, received[1] - received[0])
        return result


class RunFailed(RuntimeError):
    pass


def frame_records(log_path):
    try:
        with open(log_path, "rb") as log:
            return sum(1 for line in log if line.startswith(b"frame "))
    except FileNotFoundError:
        return 0


def baseline_counts(out_path):
    total = 0
    with open(out_path) as out:
        for line in out:
            words = line.split()
            if len(words) == 3 and words[1] == "frames":
                total += int(words[2])
    return total


def summary(values):
    return {"median": measure.median(values), "p99": measure.percentile(values, 0.99),
            "max": max(values), "min": min(values)}


def machine():
    def first_line(path, prefix):
        with open(path) as text:
            for line in text:
                if line.startswith(prefix):
                    return line.split(":", 1)[1].strip()
        return "unknown"

    return {"nproc": os.cpu_count(),
            "cpu": first_line("/proc/cpuinfo", "model name"),
            "memory": first_line("/proc/meminfo", "MemTotal"),
            "kernel": platform.release(),
            "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("output")
    parser.add_argument("--quick", action="store_true", help="fewer and shorter runs")
    args = parser.parse_args()
    results = {"machine": machine(), "quick": args.quick}
    with tempfile.TemporaryDirectory(prefix="camwatch-bench-") as workdir:
        bench = Bench(args.build, workdir, args.quick)
        steps = [("google_benchmark", "per-frame line, Google Benchmark"),
                 ("frame_path_ir", "per-frame line, callgrind"),
                 ("frame_path_allocations", "per-frame line, allocations"),
                 ("cpu_per_rate", "CPU per frame, camwatch against baseline"),
                 ("delivery_with_log", "frames sent against lines printed"),
                 ("allocations", "allocations per frame on the virtual camera"),
                 ("callback_ir", "frame listener, callgrind"),
                 ("memory", "resident memory"),
                 ("latency", "key to exit and startup in a terminal")]
        for key, title in steps:
            started = time.monotonic()
            print(f"{title} ...", flush=True)
            results[key] = getattr(bench, key)()
            print(f"  done in {time.monotonic() - started:.0f} s", flush=True)
        results["failures"] = bench.failures
        for failure in bench.failures:
            hang = failure.rsplit("stacks: ", 1)
            if len(hang) == 2:
                # Kept beside the results: the temporary folder goes away.
                stacks = hang[1].rstrip(")")
                shutil.copy(stacks, os.path.join(args.output, "hang-" + os.path.basename(stacks)))
    with open(os.path.join(args.output, "results.json"), "w") as raw:
        json.dump(results, raw, indent=1)
    report.write(results, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
