"""What scripts/bench holds camwatch to. Fixed before any run and never moved
after one: a run that misses a target reports it as MISSED."""

# CPU per frame of camwatch over that of the baseline, median of the pairs, at every rate.
CPU_RATIO_MAX = 1.2
# Frames the virtual camera sent that camwatch did not print, at every rate up to this one.
LOSSLESS_UP_TO_FPS = 3000
LOST_FRAMES_MAX = 0
# Heap allocations per frame that camwatch makes beyond the baseline.
OWN_ALLOCATIONS_PER_FRAME_MAX = 0
# Resident memory growth from the first frame line to the end of a long run.
MEMORY_GROWTH_MAX_KIB = 256
# Time from a key to the process's exit, 99th percentile over the runs.
KEY_TO_EXIT_P99_MAX_MS = 110
