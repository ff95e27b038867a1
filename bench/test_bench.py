"""Checks of what scripts/bench relies on: a wrong reader or report would put
wrong figures in RESULTS.md without any error, and a hang must fail the run."""

import contextlib
import copy
import io
import itertools
import json
import os
import re
import sys
import tempfile
import unittest

import launcher
import measure
import plot
import report
import run_bench
import targets


class Readers(unittest.TestCase):
    def test_valgrind_totals(self):
        total = measure.valgrind_total
        self.assertEqual(total(measure.INSTRUCTIONS, "events: Ir\nsummary: 577816\n"), 577816)
        self.assertEqual(total(measure.INSTRUCTIONS, "totals: 12\n"), 12)
        log = "==1== HEAP SUMMARY:\n==1==   total heap usage: 1,234 allocs, 1,200 frees, 9 bytes"
        self.assertEqual(total(measure.HEAP_ALLOCATIONS, log), 1234)
        for pattern in (measure.INSTRUCTIONS, measure.HEAP_ALLOCATIONS):
            with self.assertRaises(ValueError):
                total(pattern, "events: Ir\n")

    def test_frames_handled_of_either_program(self):
        with tempfile.TemporaryDirectory() as workdir:
            path = os.path.join(workdir, "out")
            with open(path, "wb") as out:
                out.write(b'Device "vcam://0" already connected\n[00000000] Depth middle index'
                          b'     1000\n[00000033] Color RGB value 0x0aff00\nUnknown format\n')
            self.assertEqual(measure.frames_handled(path), 2)
            with open(path, "wb") as out:
                out.write(b"depth frames 45\ncolor frames 50\n")
            self.assertEqual(measure.frames_handled(path), 95)
            # camwatch --stats: the totals, not the lines of each second.
            with open(path, "wb") as out:
                out.write(b"depth: 30 frames, 30.0 fps, 0 missed (total 30 frames, 0 missed)\n"
                          b"depth total: 41 frames in 1.4 s, 29.3 fps, 2 missed\n"
                          b"color total: 0 frames in 1.4 s, 0.0 fps, 0 missed\n")
            self.assertEqual(measure.frames_handled(path), 41)

    def test_usage_counts_descriptors_threads_and_memory(self):
        before = measure.usage(os.getpid())
        with open(__file__), tempfile.TemporaryFile():
            during = measure.usage(os.getpid())
        self.assertGreater(before[0], 1000)
        self.assertEqual(during[1] - before[1], 2)
        self.assertEqual(during[2], before[2])
        self.assertIsNone(measure.usage(2 ** 22 + 1))

    def test_the_loose_camera_comes_and_goes_while_the_frames_last(self):
        text = measure.scenario(1000, 1000, 64, 48, replug_ms=200)
        events = re.findall(r"^at (\d+) (connect|disconnect) vcam://loose$", text, re.M)
        self.assertEqual([(int(at), what) for at, what in events],
                         [(at + half, ("connect", "disconnect")[bool(half)])
                          for at in (200, 400, 600, 800) for half in (0, 100)])
        self.assertIn("depth fps=1000 frames=1000 width=64 height=48", text)
        self.assertNotIn("loose", measure.scenario(1000, 1000))

    def test_summary_median_and_quartiles_and_a_slope_needs_a_settled_run(self):
        s = run_bench.summary([5, 1, 4, 2, 3])
        self.assertEqual((s["median"], s["q1"], s["q3"], s["min"], s["max"]), (3, 2, 4, 1, 5))
        self.assertEqual(run_bench.summary([7])["q3"], 7)
        # The slope itself is judged in the report's tests, start climb and all.
        with self.assertRaises(RuntimeError):
            run_bench.settled([[t, 4096, 3, 5] for t in range(targets.SETTLE_SECONDS + 1)])


class Runs(unittest.TestCase):
    def run_program(self, code, key_timeout=30):
        self.workdir = self.enterContext(tempfile.TemporaryDirectory())
        self.stacks = os.path.join(self.workdir, "stacks.txt")
        return measure.run([sys.executable, "-c", code], self.workdir, "",
                           os.path.join(self.workdir, "out"), self.stacks, min_seconds=0.1,
                           key_timeout=key_timeout)

    def test_a_key_ends_the_run_and_its_cpu_is_counted(self):
        usage = self.run_program("import sys\nsum(range(3_000_000))\nsys.stdin.read(1)")
        self.assertGreater(usage.ru_utime + usage.ru_stime, 0.01)

    def test_a_failing_program_fails_the_run(self):
        with self.assertRaisesRegex(RuntimeError, "status 3"):
            self.run_program("import sys\nsys.stdin.read(1)\nsys.exit(3)")

    def test_a_program_that_ignores_its_key_fails_with_its_stacks(self):
        with self.assertRaises(measure.Hang) as hang:
            self.run_program("import time\ntime.sleep(120)", key_timeout=0.5)
        self.assertIn(self.stacks, str(hang.exception))
        with open(self.stacks) as stacks:
            self.assertRegex(stacks.read(), launcher.stack_pattern())


def sample_results():
    def side(us, handled):
        return {"us": run_bench.summary([us, us * 1.1]), "user_us": us / 2,
                "system_us": us / 2, "switches": 3.5, "handled": handled}

    def cpu_row(fps, camwatch, baseline, handled, read=None):
        return {"fps": fps, "frames_sent": 300, "camwatch": side(camwatch, handled),
                "baseline": side(baseline, read or handled),
                "ratio": run_bench.summary([camwatch / baseline] * 3),
                "difference_us": run_bench.summary([camwatch - baseline - 0.5, camwatch - baseline,
                                                    camwatch - baseline + 1.5])}

    def valgrind(camwatch, baseline):
        return {"sent": [60, 120], "own_per_frame": camwatch - baseline,
                "camwatch": {"totals": [100, int(100 + 60 * camwatch)], "handled": [60, 120],
                             "per_frame": camwatch},
                "baseline": {"totals": [90, int(90 + 60 * baseline)], "handled": [60, 120],
                             "per_frame": baseline}}

    def long_run(slope, handled):
        samples = [[t + 0.02, 4096 + t * 64 * (t < 4) + round(slope * t), 7 + (t > 0), 5]
                   for t in range(0, 40, 2)]
        return {"handled": handled, "samples": samples, **run_bench.settled(samples)}

    latency = run_bench.summary([1.5, 2.5, 3.5])
    return {
        "machine": {"cpus": 2, "cpu": "cpu", "kernel": "k", "date": "today",
                    "revision": {"commit": "c0ffee" * 6 + "beef", "dirty": False}},
        "quick": False, "config": {"width": 640, "height": 480, "valgrind_fps": 15},
        "line_alone": {f"{kind}/{frame}": ns
                       for kind, ns in (("formatOnly", 111.0), ("formatAndPrint", 612.0))
                       for frame in ("depth", "color", "unknown")},
        "cpu_per_frame": {"fixed_ms": {"camwatch": 9.5, "baseline": 8.5},
                          "load": {"before": [1.5, 1, 1], "after": [2.5, 1, 1],
                                   "busy": 0.625, "measured": 0.0625},
                          "rows": [cpu_row(30, 130.0, 100.0, 600),
                                   cpu_row(3000, 50.0, 49.0, 280, 281),
                                   cpu_row(0, 20.0, 20.0, 30, 60)]},
        "stats_per_frame": {"fixed_ms": {"camwatch": 9.25, "baseline": 8.75},
                            "rows": [cpu_row(30, 104.0, 101.0, 600),
                                     cpu_row(300, 62.0, 60.5, 5990, 5995),
                                     cpu_row(3000, 51.0, 47.5, 280, 281)]},
        "allocations": valgrind(4.0, 4.0),
        "listener_instructions": valgrind(5200.0, 2300.0),
        "long_run": {"minutes": 0.5, "fps": 1000, "size": [64, 48], "replug_ms": 200,
                     "frames_sent": 4000, "interval": 2.0, "kept_every": 1,
                     "runs": {"camwatch": long_run(0.5, 3990), "baseline": long_run(0, 4000),
                              "camwatch_replug": long_run(2.0, 3995),
                              "baseline_replug": long_run(1.0, 3996)}},
        "latency": {"runs": 3, "startup_ms": latency, "key_to_exit_ms": latency,
                    "key_to_exit_p99_ms": 3.5},
    }


def changed(value, step=itertools.count(1)):
    """Every figure of the results moved, each by its own amount, the shape kept."""
    if isinstance(value, dict):
        return {key: changed(item) for key, item in value.items()}
    if isinstance(value, list):
        return [changed(item) for item in value]
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return value
    return value + next(step) * (1.37 if isinstance(value, float) else 1)


class Report(unittest.TestCase):
    def test_targets_are_judged_and_misses_explained_from_the_run(self):
        text = report.render(sample_results())
        self.assertIn(f"<= {targets.CPU_RATIO_MAX}x the holding baseline's at every rate (median "
                      "of the pairs) | worst 1.300x, at 30 fps | **MISSED** |", text)
        self.assertIn(f"--stats within {targets.STATS_EXTRA_US_MAX} µs of the baseline's at "
                      "every rate (median of the pairs' differences) | worst +3.5 µs, at 3000 fps "
                      "| met |", text)
        self.assertNotIn("- CPU of --stats", text)
        self.assertIn("| 300 | 300 | 3 | 65.1 (63.5 to 66.7) | 63.5 (62.0 to 65.0) | **+1.5** | "
                      "1.2 to 2.2 | 5990 / 5995 |", text)
        self.assertIn("| worst 0.36% fewer, at 3000 fps (3 pairs) | met |", text)
        self.assertIn("| +0.000 | met |", text)
        # Settled from 10 s to 38 s: 0.5 KiB/s alone; replugged 2 and 1 KiB/s, 200 ms apart.
        self.assertIn("| +1800.0 KiB/h, fitted rise +14.0 KiB over 28 s | met |", text)
        self.assertIn("| camwatch +7200.0 KiB/h, fitted rise +56.0 KiB over 28 s; null listener "
                      "+3600.0 KiB/h, fitted rise +28.0 KiB over 28 s | **MISSED** |", text)
        self.assertIn("| +0 descriptors, +0 threads | met |", text)
        self.assertIn("camwatch kept 0.30 KiB more for each plug-in than on frames alone, the "
                      "null listener, which has no device listener, 0.20 KiB", text)
        self.assertIn("- Long run (camwatch, a camera replugged): resident memory 4096 / 4116 / "
                      "4172 KiB, descriptors 7 / 8 / 8, threads 5 / 5 / 5", text)
        self.assertNotIn("- Long run (camwatch, frames alone)", text)
        self.assertIn("read 281 of the 900 frames sent, 937 a second per stream", text)
        self.assertIn("| 3.5 ms | met |", text)
        self.assertIn("- CPU at 30 fps: camwatch used +31.5 µs per frame more", text)
        self.assertNotIn("- CPU at 3000 fps", text)
        self.assertEqual(text.count("2900 instructions per frame more"), 1)

    def test_misses_of_frames_descriptors_and_threads(self):
        results = sample_results()
        results["cpu_per_frame"]["rows"][0]["camwatch"]["handled"] = 593
        results["long_run"]["runs"]["camwatch"]["end"][2:] = [9, 6]
        text = report.render(results)
        self.assertIn("| worst 1.17% fewer, at 30 fps (3 pairs) | **MISSED** |", text)
        self.assertIn("- Frames at 30 fps (3 pairs): camwatch printed 593, the null listener "
                      "read 600.", text)
        self.assertIn("| +1 descriptors, +1 threads | **MISSED** |", text)
        self.assertIn("- Long run (camwatch, frames alone): ", text)

    def test_a_stats_cost_past_its_bound_is_missed_and_explained(self):
        results = sample_results()
        row = results["stats_per_frame"]["rows"][1]
        row["camwatch"]["us"]["median"] += 6
        row["difference_us"]["median"] = targets.STATS_EXTRA_US_MAX + 0.25
        text = report.render(results)
        self.assertIn(f"| worst +{targets.STATS_EXTRA_US_MAX + 0.25:.1f} µs, at 300 fps | "
                      "**MISSED** |", text)
        self.assertIn("- CPU of --stats at 300 fps: camwatch --stats used +7.6 µs per frame more "
                      "than the baseline", text)

    def test_the_report_names_what_it_measured(self):
        results = sample_results()
        commit = results["machine"]["revision"]["commit"]
        self.assertIn(f"Measured: revision {commit}, a clean tree; run today.",
                      report.render(results))
        results["machine"]["revision"]["dirty"] = True
        self.assertIn(f"revision {commit}, with uncommitted changes;", report.render(results))
        results["machine"]["revision"] = None
        self.assertIn("revision unknown", report.render(results))
        found = run_bench.revision()
        if found:  # in a git checkout, as scripts/bench runs
            self.assertRegex(found["commit"], "^[0-9a-f]{40}$")
        # The committed report names the revision and date of its results.
        folder = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(folder, "results.json")) as raw:
            machine = json.load(raw)["machine"]
        with open(os.path.join(folder, "RESULTS.md")) as text:
            header = " ".join(text.read().split("\n## ")[0].split())
        self.assertIn(f"Measured: revision {machine['revision']['commit']},", header)
        self.assertIn(f"run {machine['date']}", header)

    def test_every_figure_comes_from_the_results(self):
        """Render the results, then the same results with every figure moved:
        a figure that stays put in a line of the same wording is prose's own."""
        number = re.compile(r"(?<![\w.])\d+(?:\.\d+)?")

        def figures_by_wording(text):
            return {number.sub("#", line): number.findall(line) for line in text.splitlines()}

        first = figures_by_wording(report.render(sample_results()))
        second = figures_by_wording(report.render(changed(copy.deepcopy(sample_results()))))
        limits = {form.format(value) for value in vars(targets).values()
                  if isinstance(value, (int, float)) for form in ("{}", "{:.0%}")}
        fixed = [(wording, old) for wording, figures in first.items() if wording in second
                 for old, new in zip(figures, second[wording]) if old == new
                 and old not in limits]
        self.assertEqual(fixed, [])


class Plot(unittest.TestCase):
    def test_points_are_each_programs_own_with_quartile_bars(self):
        points = plot.series(sample_results())
        self.assertEqual(points["labels"], ["30", "3000", "max"])
        self.assertEqual([points[key][0]["median"] for key in ("camwatch", "baseline", "ratio")],
                         [136.5, 105.0, 1.3])
        self.assertAlmostEqual(points["ratio"][2]["median"], 1.0)
        medians, (down, up) = plot.error_bars([{"median": 10.0, "q1": 8.0, "q3": 13.0},
                                               {"median": 5.0, "q1": 5.0, "q3": 6.0}])
        self.assertEqual((medians, down, up), ([10.0, 5.0], [2.0, 0.0], [3.0, 1.0]))

    def test_results_from_before_the_stats_pairs_are_not_redrawn(self):
        with tempfile.TemporaryDirectory() as folder:
            results = sample_results()
            del results["stats_per_frame"]
            with open(os.path.join(folder, "results.json"), "w") as raw:
                json.dump(results, raw)
            with contextlib.redirect_stderr(io.StringIO()) as said:
                self.assertEqual(report.main(["report.py", folder]), 1)
            self.assertIn("scripts/bench measures again", said.getvalue())
            self.assertEqual(os.listdir(folder), ["results.json"])

    def test_the_results_show_the_plot_they_are_written_with(self):
        with tempfile.TemporaryDirectory() as folder:
            report.write(sample_results(), folder)
            with open(os.path.join(folder, "RESULTS.md")) as text:
                written = text.read()
            for name in (plot.NAME, plot.MEMORY_NAME):
                with open(os.path.join(folder, name), "rb") as picture:
                    self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")
                self.assertIn(f"]({name})", written)


if __name__ == "__main__":
    unittest.main()
