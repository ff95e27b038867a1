"""Runs a measured program on the virtual camera and reads what it leaves
behind: CPU time, resident memory, frame lines, valgrind's counts."""

import os
import re
import subprocess
import time

import pexpect

FRAME_LINE = re.compile(rb"^\[\d+\] (Depth middle|Color RGB)", re.MULTILINE)
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


def run(argv, env, out_path, stacks_path, min_seconds, key_timeout=30, on_poll=None):
    """Runs `argv` with stdin a pipe and stdout and stderr to `out_path`. Once
    `min_seconds` have passed and the process has done no frame work for
    IDLE_WINDOW, writes a key and waits for its exit. Returns its rusage.
    A process that outlives `key_timeout` after the key is a Hang."""
    with open(out_path, "wb") as out:
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=out,
                                stderr=subprocess.STDOUT)
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
    try:
        proc.stdin.write(b"q")
        proc.stdin.close()
    except BrokenPipeError:
        pass
    deadline = time.monotonic() + key_timeout
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            failure = hang(argv, proc.pid, stacks_path, key_timeout)
            proc.wait()
            raise failure
        time.sleep(0.01)
    proc.returncode = code = os.waitstatus_to_exitcode(status)
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


def key_to_exit(argv, env, settle_seconds, stacks_path, timeout=30):
    """Runs `argv` on a pseudo-terminal. Returns the seconds from the start to
    the first frame line and from writing a key to the process's exit."""
    started = time.monotonic()
    child = pexpect.spawn(argv[0], argv[1:], env=env, timeout=timeout)
    child.delaybeforesend = None  # the key goes out when it is timed
    try:
        child.expect(FRAME_LINE)
        first_frame = time.monotonic() - started
        time.sleep(settle_seconds)
        key_at = time.monotonic()
        child.send(b"q")
        try:
            child.expect(pexpect.EOF)
        except pexpect.TIMEOUT:
            raise hang(argv, child.pid, stacks_path, timeout) from None
        exit_after_key = time.monotonic() - key_at
        child.wait()
    finally:
        child.close(force=True)
    if child.exitstatus != 0:
        raise RuntimeError(f"{argv[0]} ended with {child.exitstatus} on a terminal")
    return first_frame, exit_after_key
