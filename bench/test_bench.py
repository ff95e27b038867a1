"""Checks of what scripts/bench relies on: a wrong reader or report would put
wrong figures in RESULTS.md without any error, and a hang must fail the run."""

import copy
import itertools
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
        self.assertEqual(measure.callgrind_total("events: Ir\nsummary: 577816\n"), 577816)
        self.assertEqual(measure.callgrind_total("totals: 12\n"), 12)
        log = "==1== HEAP SUMMARY:\n==1==   total heap usage: 1,234 allocs, 1,200 frees, 9 bytes"
        self.assertEqual(measure.memcheck_allocations(log), 1234)
        for reader in (measure.callgrind_total, measure.memcheck_allocations):
            with self.assertRaises(ValueError):
                reader("events: Ir\n")

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

    def test_summary_median_and_quartiles(self):
        s = run_bench.summary([5, 1, 4, 2, 3])
        self.assertEqual((s["median"], s["q1"], s["q3"], s["min"], s["max"]), (3, 2, 4, 1, 5))
        self.assertEqual(run_bench.summary([7])["q3"], 7)


class Runs(unittest.TestCase):
    def run_program(self, code, key_timeout=30):
        self.workdir = tempfile.mkdtemp()
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
                "system_us": us / 2, "switches": 3.5, "handled_min": handled}

    def cpu_row(fps, camwatch, baseline, handled):
        return {"fps": fps, "frames_sent": 300, "camwatch": side(camwatch, handled),
                "baseline": side(baseline, handled),
                "ratio": run_bench.summary([camwatch / baseline] * 3)}

    def valgrind(camwatch, baseline):
        return {"sent": [60, 120], "own_per_frame": camwatch - baseline,
                "camwatch": {"totals": [100, int(100 + 60 * camwatch)], "handled": [60, 120],
                             "per_frame": camwatch},
                "baseline": {"totals": [90, int(90 + 60 * baseline)], "handled": [60, 120],
                             "per_frame": baseline}}

    def split_row(fps, baseline, holding, camwatch):
        return {"fps": fps, "frames_sent": 300, "rounds": 2,
                **{name: run_bench.summary([us, us * 1.2])
                   for name, us in (("baseline", baseline), ("holding", holding),
                                    ("camwatch", camwatch))}}

    samples = [[0.2, 5, 10240], [0.7, 700, 10496], [1.2, 1400, 10530], [1.7, 2100, 10530]]
    latency = run_bench.summary([1.5, 2.5, 3.5])
    return {
        "machine": {"cpus": 2, "cpu": "cpu", "kernel": "k", "date": "today"},
        "quick": False, "config": {"width": 640, "height": 480, "valgrind_fps": 15},
        "line_alone": {f"{kind}/{frame}": ns
                       for kind, ns in (("formatOnly", 111.0), ("formatAndPrint", 612.0))
                       for frame in ("depth", "color", "unknown")},
        "cpu_per_frame": {"fixed_ms": {"camwatch": 9.5, "baseline": 8.5},
                          "load": {"before": [1.5, 1, 1], "after": [2.5, 1, 1],
                                   "busy": 0.625, "measured": 0.0625},
                          "rows": [cpu_row(30, 130.0, 100.0, 300),
                                   cpu_row(3000, 50.0, 49.0, 280),
                                   cpu_row(0, 20.0, 20.0, 30)]},
        "cost_split": {"rows": [split_row(30, 100.0, 110.0, 130.0),
                                split_row(3000, 49.0, 49.5, 50.0)]},
        "delivery": [{"fps": 30, "sent": 300, "printed": 300},
                     {"fps": 3000, "sent": 300, "printed": 290},
                     {"fps": 0, "sent": 300, "printed": 30}],
        "allocations": valgrind(4.0, 4.0),
        "listener_instructions": valgrind(5200.0, 2300.0),
        "memory": {"frames_sent": 600, "samples": samples, "growth_kib": 290,
                   "largest_step": [256, 0.7], "max_kib": 10530},
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
        self.assertIn(f"<= {targets.CPU_RATIO_MAX}x the baseline's at every rate (median of "
                      "the pairs) | worst 1.300x, at 30 fps | **MISSED** |", text)
        self.assertIn("| 10 of 600 not printed | **MISSED** |", text)
        self.assertIn("| +0.000 | met |", text)
        self.assertIn("| +290 KiB | **MISSED** |", text)
        self.assertIn("| 3.5 ms | met |", text)
        self.assertIn("- CPU at 30 fps: camwatch used +31.5 µs per frame more", text)
        # The split medians: 100, 110 and 130 µs, each with a run 1.2 times as costly.
        self.assertIn("at 30 fps, the baseline used +11.0 µs per frame more when it kept "
                      "each frame until the next, as camwatch does, and camwatch +22.0 µs more "
                      "than that held baseline", text)
        self.assertIn("read at worst 280 of 300 and camwatch printed at worst 280: the "
                      "baseline loses as many", text)
        self.assertIn("the largest rise between two samples was +256 KiB, at 0.7 s", text)
        self.assertNotIn("- CPU at 3000 fps", text)

    def test_every_figure_comes_from_the_results(self):
        """Render the results, then the same results with every figure moved:
        a figure that stays put in a line of the same wording is prose's own."""
        number = re.compile(r"(?<![\w.])\d+(?:\.\d+)?")

        def figures_by_wording(text):
            return {number.sub("#", line): number.findall(line) for line in text.splitlines()}

        first = figures_by_wording(report.render(sample_results()))
        second = figures_by_wording(report.render(changed(copy.deepcopy(sample_results()))))
        limits = {str(value) for value in vars(targets).values()
                  if isinstance(value, (int, float))}
        fixed = [(wording, old) for wording, figures in first.items() if wording in second
                 for old, new in zip(figures, second[wording]) if old == new
                 and old not in limits]
        self.assertEqual(fixed, [])


class Plot(unittest.TestCase):
    def test_points_are_each_programs_own_in_rate_order_flat_out_last(self):
        results = sample_results()
        rows = results["cpu_per_frame"]["rows"]
        rows.insert(0, rows.pop())  # flat out first, 3000 before 30
        rows[1], rows[2] = rows[2], rows[1]
        points = plot.series(results)
        self.assertEqual(points["labels"], ["30", "3000", "max"])
        # The sample's runs: us and 1.1 us, so the quartiles are the median -/+ 2.5%.
        camwatch_30, baseline_30 = points["camwatch"][0], points["baseline"][0]
        self.assertAlmostEqual(camwatch_30[0], 136.5)
        self.assertAlmostEqual(baseline_30[0], 105.0)
        self.assertLess(camwatch_30[1], camwatch_30[0])
        self.assertGreater(camwatch_30[2], camwatch_30[0])
        self.assertAlmostEqual(points["ratio"][0][0], 1.3)
        self.assertAlmostEqual(points["ratio"][2][0], 1.0)

    def test_error_bars_reach_the_quartiles(self):
        medians, (down, up) = plot.error_bars([(10.0, 8.0, 13.0), (5.0, 5.0, 6.0)])
        self.assertEqual(medians, [10.0, 5.0])
        self.assertEqual(down, [2.0, 0.0])
        self.assertEqual(up, [3.0, 1.0])

    def test_the_results_show_the_plot_they_are_written_with(self):
        with tempfile.TemporaryDirectory() as folder:
            report.write(sample_results(), folder)
            with open(os.path.join(folder, plot.NAME), "rb") as picture:
                self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")
            with open(os.path.join(folder, "RESULTS.md")) as text:
                self.assertIn(f"]({plot.NAME})", text.read())


if __name__ == "__main__":
    unittest.main()
