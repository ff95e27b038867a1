"""What scripts/bench holds camwatch to. Fixed before any run and never moved
after one: a run that misses a target reports it as MISSED."""

# CPU per frame of camwatch over that of the baseline, median of the pairs, at every rate.
CPU_RATIO_MAX = 1.2
# Heap allocations per frame that camwatch makes beyond the baseline.
OWN_ALLOCATIONS_PER_FRAME_MAX = 0
# Time from a key to the process's exit, 99th percentile over the runs.
KEY_TO_EXIT_P99_MAX_MS = 110

# Long runs. Memory slopes are fitted to the samples from this many seconds on,
# once the streams have started and their buffers are in use.
SETTLE_SECONDS = 10
# Sampling noise of resident memory, which counts whole 4 KiB pages that a
# program allocating nothing new still touches now and then (a deeper stack, a
# buffer's first use): a fitted rise of up to four pages after SETTLE_SECONDS.
# camwatch's stays within it on frames alone, and within it of the null
# listener's with a camera replugged.
MEMORY_NOISE_KIB = 16
# Descriptors and threads camwatch may add from SETTLE_SECONDS to the end of a run.
ADDED_DESCRIPTORS_MAX = 0
ADDED_THREADS_MAX = 0
# Share of the frames the null listener reads that camwatch may leave unprinted,
# at every set rate (flat out has none: each program's camera sends as fast as
# its own process lets it).
FRAMES_SHORT_MAX = 0.01
# CPU per frame that camwatch --stats may use beyond the null listener that
# holds no frame (as --stats holds none), median of the pairs' differences, at
# 30, 300 and 3000 fps: counting a frame costs an atomic add or two.
STATS_EXTRA_US_MAX = 5
