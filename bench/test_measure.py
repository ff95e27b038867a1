"""Checks of the measuring helpers and the report that scripts/bench relies on:
a wrong parser here would put wrong figures in RESULTS.md without any error."""

import os
import shutil
import subprocess
import tempfile
import unittest

import measure
import report

BUILD = os.environ.get("BENCH_BUILD", os.path.join(os.path.dirname(__file__), "..",
                                                    "build-bench"))


class Statistics(unittest.TestCase):
    def test_median_of_odd_and_even_counts(self):
        self.assertEqual(measure.median([3, 1, 2]), 2)
        self.assertEqual(measure.median([4, 1, 3, 2]), 2.5)
        with self.assertRaises(ValueError):
            measure.median([])

    def test_percentile_is_nearest_rank(self):
        values = list(range(1, 101))
        self.assertEqual(measure.percentile(values, 0.99), 99)
        self.assertEqual(measure.percentile(values, 1.0), 100)
        self.assertEqual(measure.percentile(values[:50], 0.99), 50)
        self.assertEqual(measure.percentile([7], 0.5), 7)
        with self.assertRaises(ValueError):
            measure.percentile(values, 0)


class ProcFiles(unittest.TestCase):
    def test_cpu_fields_are_counted_after_the_last_parenthesis(self):
        fields = ["S"] + ["0"] * 10 + ["250", "50"] + ["0"] * 30
        stat = "1234 (odd) name) (x) " + " ".join(fields)
        self.assertAlmostEqual(measure.parse_stat_cpu_seconds(stat), 300 / measure.CLOCK_TICKS)

    def test_rss_and_own_process(self):
        self.assertEqual(measure.parse_rss_kib("Name:\tx\nVmRSS:\t   10320 kB\n"), 10320)
        self.assertIsNone(measure.parse_rss_kib("Name:\tkernel thread\n"))
        self.assertGreater(measure.rss_kib(os.getpid()), 0)
        self.assertGreater(measure.cpu_nanoseconds(os.getpid()), 0)


class OutputReaders(unittest.TestCase):
    def test_line_counter_counts_only_complete_frame_lines(self):
        with tempfile.NamedTemporaryFile("wb", delete=False) as out:
            out.write(b'Device "vcam://0" already connected\n[00000000] Depth middle ')
            out.flush()
            counter = measure.LineCounter(out.name)
            self.assertEqual(counter.update(), 0)
            out.write(b"index     1000\n[00000033] Color RGB value 0x0aff00\nUnknown format\n")
            out.flush()
            self.assertEqual(counter.update(), 2)
            self.assertEqual(counter.update(), 2)
        os.remove(out.name)
        self.assertEqual(measure.LineCounter(out.name).update(), 0)

    def test_callgrind_alloc_and_log_parsers(self):
        self.assertEqual(measure.parse_callgrind_total("events: Ir\nsummary: 577816\n"), 577816)
        self.assertEqual(measure.parse_callgrind_total("totals: 12\n"), 12)
        with self.assertRaises(ValueError):
            measure.parse_callgrind_total("events: Ir\n")
        counts = measure.parse_alloc_counts("malloc=1 total=1\nmalloc=5 calloc=2 total=7\n")
        self.assertEqual(counts, {"malloc": 5, "calloc": 2, "total": 7})
        with self.assertRaises(ValueError):
            measure.parse_alloc_counts("")
        log = ("init\nframe vcam://a depth 1 0\nsent vcam://a depth 600\n"
               "sent vcam://a color 598\nsent vcam://b depth 2\n")
        self.assertEqual(measure.parse_sent(log), {"depth": 602, "color": 598})


@unittest.skipUnless(os.path.exists(os.path.join(BUILD, "bench", "liballoc_counter.so")),
                     "build-bench not built")
class AllocationCounter(unittest.TestCase):
    def count(self, program_args):
        with tempfile.TemporaryDirectory() as workdir:
            counts = os.path.join(workdir, "counts")
            env = dict(os.environ, ALLOC_COUNTER_OUT=counts,
                       LD_PRELOAD=os.path.join(BUILD, "bench", "liballoc_counter.so"))
            subprocess.run(program_args(workdir), env=env, check=True)
            with open(counts) as text:
                return measure.parse_alloc_counts(text.read())["total"]

    def test_counts_allocations_of_a_child(self):
        # Buffers above 512 bytes bypass Python's own pool: one malloc each.
        few = self.count(lambda _: ["python3", "-c", "[bytearray(1000) for i in range(10)]"])
        many = self.count(lambda _: ["python3", "-c", "[bytearray(1000) for i in range(100000)]"])
        self.assertGreater(many - few, 50000)

    def test_the_line_path_allocates_nothing_per_frame(self):
        driver = os.path.join(BUILD, "bench", "frame_path_driver")
        runs = [self.count(lambda d, n=n: [driver, "color", str(n), os.path.join(d, "lines")])
                for n in (100, 5000)]
        self.assertEqual(runs[0], runs[1])


@unittest.skipUnless(shutil.which("gnuplot"), "gnuplot not installed")
class Report(unittest.TestCase):
    def test_report_holds_the_figures_and_flags_missed_targets(self):
        def side(us):
            return {"us_per_frame": us, "received_min": 60, "sent": 60, "achieved_fps": 30.0}

        rows = [{"fps": 30, "frames": 30, "camwatch": side(13.0), "baseline": side(10.0),
                 "ratio": 1.3},
                {"fps": 0, "frames": 30, "camwatch": side(5.0), "baseline": side(5.0),
                 "ratio": 1.0}]
        summary = {"median": 0.002, "p99": 0.004, "max": 0.005, "min": 0.001}
        results = {
            "machine": {"nproc": 2, "cpu": "cpu", "memory": "1 kB", "kernel": "k",
                        "date": "today"},
            "quick": False,
            "google_benchmark": {"formatOnly/depth": 111.0, "formatAndPrint/depth": 612.0},
            "frame_path_ir": {"depth": 1875.0, "color": 2514.0, "unknown": 757.0},
            "frame_path_allocations": 0.0,
            "cpu_per_rate": {"fixed_cpu": {"camwatch": 0.01, "baseline": 0.01}, "rows": rows},
            "delivery_with_log": [{"fps": 30, "frames": 30, "sent": 60, "printed": 60}],
            "allocations": {"camwatch": {"totals": [10, 10], "received": [1, 2],
                                         "per_frame": 0.0},
                            "baseline": {"totals": [9, 9], "received": [1, 2], "per_frame": 0.0},
                            "camwatch_own_per_frame": 0.0},
            "callback_ir": {"camwatch": 6000.0, "baseline": 2000.0},
            "memory": {"frames_per_stream": 10, "printed": 20, "seconds": 1.0,
                       "first": [0.1, 1, 1000], "middle": [0.5, 10, 2536],
                       "last": [1.0, 20, 2536], "max_kib": 2536,
                       "samples": [[0.1, 1, 1000], [0.5, 10, 2536], [1.0, 20, 2536]]},
            "latency": {"runs": 50, "startup": summary, "key_to_exit": summary},
        }
        with tempfile.TemporaryDirectory() as workdir:
            report.write(results, workdir)
            with open(os.path.join(workdir, "RESULTS.md")) as text:
                written = text.read()
            with open(os.path.join(workdir, report.PLOT_NAME), "rb") as png:
                self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertIn("| 30 | 60 | 13.00 | 10.00 | 1.30 | +3.00 | 1.30 |", written)
        self.assertIn("worst 1.30x | **missed** |", written)
        self.assertIn("| key-to-exit p99 <= 110 ms | 4.0 ms | met |", written)
        self.assertIn("| depth | 111 | 612 | 1875 |", written)
        self.assertIn("| flat memory | +0 KiB resident over the second half of the run "
                      "(+1536 KiB from the first frame line) | met |", written)
        self.assertIn("| color | n/a | n/a | 2514 |", written)
        self.assertIn("| difference (camwatch's own work) | 4000 |", written)


if __name__ == "__main__":
    unittest.main()
