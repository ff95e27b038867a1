"""Runs a measured program on the virtual camera, through the runner every
suite uses, and reads what it leaves behind: CPU time, resident memory, frame
lines, valgrind's counts."""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "lib"))
import camwatch_run  # noqa: E402  (found through the path above)

FRAME_LINE = camwatch_run.FRAME_LINE
IDLE_WINDOW = 0.3  # seconds without frame work: the frames are through
IDLE_NS = 2_000_000  # CPU in the window below this is the key poll alone


class Hang(RuntimeError):
    """A program that did not exit after its key; its stacks are saved."""


WIDTH, HEIGHT = 640, 480  # a camera's default mode


def scenario(fps, frames):
    """A depth and color camera; fps 0 sends as fast as it can."""
    sensor = f"fps={fps} frames={frames} width={WIDTH} height={HEIGHT} middle_step=1"
    return f"device vcam://bench\ndepth {sensor}\ncolor {sensor}\n"


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


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            match = re.search(r"^VmRSS:\s+(\d+) kB", status.read(), re.MULTILINE)
    except OSError:
        return None
    return int(match.group(1)) if match else None


def save_stacks(argv, pid, path):
    """Every thread's stack, to tell where a process that will not end waits.
    Under valgrind the program's own stacks come through its gdbserver."""
    command = ["gdb", "-batch"]
    if os.path.basename(argv[0]) == "valgrind":
        command += [argv[-1], "-ex", f"target remote | vgdb --pid={pid}"]
    else:
        command += ["-p", str(pid)]
    with open(path, "w") as stacks:
        subprocess.run(command + ["-ex", "thread apply all bt"], stdout=stacks,
                       stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=120,
                       check=False)


def hang(argv, pid, stacks_path, seconds):
    try:
        save_stacks(argv, pid, stacks_path)
    finally:
        os.kill(pid, 9)
    return Hang(f"{' '.join(argv)} did not exit within {seconds} s of its key; "
                f"every thread's stack is in {stacks_path}")


def start(argv, runtime, scenario_text, stdin="pipe", log=False, stdout=None):
    """A runner, started by `with`, for `argv` with the camera's log off unless
    asked for: it writes a line per frame, work the measured programs would pay
    for."""
    run = camwatch_run.Camwatch(scenario=scenario_text, stdin=stdin, runtime=runtime,
                                binary=argv[0], args=argv[1:], tracer=False, stdout=stdout)
    if not log:
        del run.env["VCAM_LOG"]
    return run


def run(argv, runtime, scenario_text, out_path, stacks_path, min_seconds, key_timeout=30,
        on_poll=None, log_path=None):
    """Runs `argv` with stdin a pipe and stdout to `out_path`. Once
    `min_seconds` have passed and the process has done no frame work for
    IDLE_WINDOW, writes a key and waits for its exit. Returns its rusage.
    A process that outlives `key_timeout` after the key is a Hang."""
    with open(out_path, "wb") as out, start(argv, runtime, scenario_text,
                                            log=log_path is not None, stdout=out) as runner:
        proc = runner.proc
        started = time.monotonic()
        last_cpu, last_busy = 0, started
        give_up = started + 4 * min_seconds + 30
        while proc.poll() is None:
            time.sleep(0.05)
            now = time.monotonic()
            cpu = cpu_ns(proc.pid)
            if cpu is not None and cpu - last_cpu > IDLE_NS:
                last_cpu, last_busy = cpu, now
            if on_poll:
                on_poll(proc.pid, now - started)
            if now - started >= min_seconds and now - last_busy >= IDLE_WINDOW or now > give_up:
                break
        runner.press_key()
        deadline = time.monotonic() + key_timeout
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                raise hang(argv, proc.pid, stacks_path, key_timeout)
            time.sleep(0.01)
        # Reaped here for its rusage: the runner is told the status.
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        if log_path:
            with open(runner.log_path, "rb") as log, open(log_path, "wb") as copy:
                copy.write(log.read())
    if code != 0:
        raise RuntimeError(f"{' '.join(argv)} ended with status {code}; output in {out_path}")
    return usage


def frames_handled(out_path):
    """Frame lines camwatch printed, or the counts the baseline prints at exit."""
    with open(out_path, "rb") as out:
        text = out.read()
    counts = re.findall(rb"^(?:depth|color) frames (\d+)$", text, re.MULTILINE)
    return sum(map(int, counts)) if counts else len(FRAME_LINE.findall(text))


def callgrind_total(text):
    """Instructions (Ir) in all of a callgrind output file."""
    match = re.search(r"^(?:summary|totals):\s+(\d+)", text, re.MULTILINE)
    if not match:
        raise ValueError("no summary or totals line in the callgrind output")
    return int(match.group(1))


def memcheck_allocations(text):
    """Heap allocations that valgrind's memcheck counted in a whole run."""
    match = re.search(r"total heap usage: ([\d,]+) allocs", text)
    if not match:
        raise ValueError("no heap usage summary in the memcheck log")
    return int(match.group(1).replace(",", ""))


def key_to_exit(argv, runtime, scenario_text, settle_seconds, stacks_path, timeout=30):
    """Runs `argv` with a pseudo-terminal for its controlling terminal and
    stdin. Returns the seconds from the start to the first frame line and from
    writing a key to the end of its output, which comes with its exit."""
    started = time.monotonic()
    with start(argv, runtime, scenario_text, stdin="pty") as runner:
        runner.wait_for_frames(1, timeout=timeout)
        first_frame = time.monotonic() - started
        runner.read_for(settle_seconds)
        key_at = time.monotonic()
        runner.press_key()
        if runner.read_for(timeout):
            raise hang(argv, runner.proc.pid, stacks_path, timeout)
        exit_after_key = time.monotonic() - key_at
        status = runner.proc.wait(timeout)
    if status != 0:
        raise RuntimeError(f"{argv[0]} ended with {status} on a terminal")
    return first_frame, exit_after_key
