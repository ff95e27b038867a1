"""Runs a measured program on the virtual camera through the suites' launcher
(tests/lib, on PYTHONPATH by the build's test.env), and reads what it leaves:
CPU time, resident memory, descriptors, threads, frame lines, valgrind's counts."""

import os
import re
import time

import camwatch_run
import launcher

IDLE_WINDOW = 0.3  # seconds without frame work: the frames are through
IDLE_NS = 2_000_000  # CPU in the window below this is the key poll alone


class Hang(RuntimeError):
    """A program that did not exit after its key; its stacks are saved."""


WIDTH, HEIGHT = 640, 480  # a camera's default mode
# What valgrind_total reads: callgrind's instructions (Ir) and memcheck's heap
# allocations, each over a whole run.
INSTRUCTIONS = r"^(?:summary|totals):\s+(\d+)"
HEAP_ALLOCATIONS = r"total heap usage: ([\d,]+) allocs"


def scenario(fps, frames, width=WIDTH, height=HEIGHT, replug_ms=0):
    """A depth and color camera; fps 0 sends as fast as it can. With replug_ms,
    a second camera (a loose cable) is plugged in every replug_ms and unplugged
    half-way to the next, for as long as the frames last."""
    sensor = f"fps={fps} frames={frames} width={width} height={height} middle_step=1"
    text = f"device vcam://bench\ndepth {sensor}\ncolor {sensor}\n"
    plugs = range(replug_ms, frames * 1000 // fps, replug_ms) if replug_ms else ()
    for at in plugs:
        text += (f"at {at} connect vcam://loose\n" + ("depth\ncolor\n" if at == replug_ms else "")
                 + f"at {at + replug_ms // 2} disconnect vcam://loose\n")
    return text


def cpu_ns(pid):
    """CPU time so far of every thread of `pid`, exact to the ns; None once gone."""
    try:
        total = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        return total
    except (OSError, ValueError, IndexError):
        return None


def usage(pid):
    """Resident memory (KiB), open descriptors and threads of `pid`; None once gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            text = status.read()
        descriptors = len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None
    found = [re.search(rf"^{key}:\s+(\d+)", text, re.MULTILINE) for key in ("VmRSS", "Threads")]
    return None if None in found else [int(found[0].group(1)), descriptors, int(found[1].group(1))]


def start(argv, runtime, scenario_text, **connected):
    """A runner, started by `with`, for `argv` with the camera's log off: it
    writes a line per frame, work the measured programs would pay for. The
    prefix (valgrind) is CAMWATCH_PREFIX's unless given."""
    return camwatch_run.Camwatch(scenario=scenario_text, runtime=runtime, binary=argv[0],
                                 args=argv[1:], tracer=False, log=False, **connected)


def finished(runner, argv, stacks_path, seconds):
    """The Result of a run whose key is written. One that outlives `seconds`
    is a Hang, with its stacks saved for the results folder; one that fails,
    an error."""
    try:
        result = runner.finish(seconds)
    except launcher.Hang as stuck:
        with open(stacks_path, "w") as stacks:
            stacks.write(stuck.stacks)
        raise Hang(f"{' '.join(argv)} did not exit within {seconds} s of its key; "
                   f"every thread's stack is in {stacks_path}") from None
    if result.status != 0:
        raise RuntimeError(f"{' '.join(argv)} ended with status {result.status}")
    return result


def run(argv, runtime, scenario_text, out_path, stacks_path, min_seconds, key_timeout=30,
        on_poll=None, prefix=None):
    """Runs `argv` with stdin a pipe and stdout to `out_path`. Once
    `min_seconds` have passed and the process has done no frame work for
    IDLE_WINDOW, writes a key and waits for its exit. Returns its rusage.
    A process that outlives `key_timeout` after the key is a Hang."""
    with open(out_path, "wb") as out, start(argv, runtime, scenario_text, prefix=prefix,
                                            stdout=out) as runner:
        started = last_busy = time.monotonic()
        last_cpu, give_up = 0, started + 4 * min_seconds + 30
        while runner.running():
            time.sleep(0.05)
            now = time.monotonic()
            cpu = cpu_ns(runner.pid)
            if cpu is not None and cpu - last_cpu > IDLE_NS:
                last_cpu, last_busy = cpu, now
            if on_poll:
                on_poll(runner.pid, now - started)
            if now - started >= min_seconds and now - last_busy >= IDLE_WINDOW or now > give_up:
                break
        runner.press_key()
        return finished(runner, argv, stacks_path, key_timeout).rusage


def frames_handled(out_path):
    """Frame lines camwatch printed, or the counts the baseline and camwatch
    --stats print at exit. Line by line: a long run's output is larger than is
    worth holding."""
    lines = counted = 0
    with open(out_path, "rb") as out:
        for line in out:
            count = re.match(rb"(?:depth|color) (?:frames (\d+)\n|total: (\d+) frames )", line)
            counted += int(count.group(1) or count.group(2)) if count else 0
            lines += bool(camwatch_run.FRAME_LINE.fullmatch(line))
    return counted or lines


def valgrind_total(pattern, text):
    """The count `pattern` (INSTRUCTIONS, HEAP_ALLOCATIONS) finds in a valgrind
    tool's output."""
    match = re.search(pattern, text, re.MULTILINE)
    if not match:
        raise ValueError(f"nothing matches {pattern} in valgrind's output")
    return int(match.group(1).replace(",", ""))
