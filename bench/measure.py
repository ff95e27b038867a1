"""Measuring helpers for scripts/bench: process CPU and memory from /proc,
statistics, and readers of the files the measured programs leave behind."""

import math
import os
import pty
import re
import select
import subprocess
import threading
import time

FRAME_LINE = re.compile(rb"^\[\d+\] (Depth middle|Color RGB)", re.MULTILINE)
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def median(values):
    ordered = sorted(values)
    if not ordered:
        raise ValueError("median of no values")
    middle = len(ordered) // 2
    if len(ordered) % 2:
        return ordered[middle]
    return (ordered[middle - 1] + ordered[middle]) / 2


def percentile(values, share):
    """Nearest-rank percentile: the smallest value with at least `share`
    (0 < share <= 1) of all values at or below it."""
    ordered = sorted(values)
    if not ordered or not 0 < share <= 1:
        raise ValueError("percentile needs values and a share in (0, 1]")
    # Rounded first so that 100 * 0.99 is 99, not a hair above it.
    rank = max(1, math.ceil(round(len(ordered) * share, 9)))
    return ordered[rank - 1]


def parse_stat_cpu_seconds(stat_text):
    """User + system seconds from the text of /proc/<pid>/stat. The command
    name may hold blanks and parentheses, so fields are counted after the last ')'."""
    fields = stat_text[stat_text.rindex(")") + 2:].split()
    # utime and stime are fields 14 and 15 of the whole line; 'state' is field 3.
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def cpu_nanoseconds(pid):
    """CPU time so far of every thread of `pid`, in ns; None once it is gone.
    schedstat is exact to the ns, stat only to the clock tick."""
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
        total = 0
        for task in tasks:
            with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                total += int(schedstat.read().split()[0])
        return total
    except FileNotFoundError:
        return None
    except (OSError, ValueError, IndexError):
        try:
            with open(f"/proc/{pid}/stat") as stat:
                return int(parse_stat_cpu_seconds(stat.read()) * 1e9)
        except OSError:
            return None


def parse_rss_kib(status_text):
    match = re.search(r"^VmRSS:\s+(\d+) kB", status_text, re.MULTILINE)
    return int(match.group(1)) if match else None


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            return parse_rss_kib(status.read())
    except OSError:
        return None


class LineCounter:
    """Counts frame lines in a file that another process keeps appending to,
    reading only what is new each time."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.lines = 0
        self.tail = b""

    def update(self):
        try:
            with open(self.path, "rb") as output:
                output.seek(self.offset)
                new = output.read()
        except FileNotFoundError:
            return self.lines
        self.offset += len(new)
        text = self.tail + new
        complete, _, self.tail = text.rpartition(b"\n")
        if complete:
            self.lines += len(FRAME_LINE.findall(complete + b"\n"))
        return self.lines


def count_frame_lines(path):
    return LineCounter(path).update()


def parse_callgrind_total(text):
    """Total instruction count (Ir) of a callgrind output file."""
    for key in ("summary:", "totals:"):
        match = re.search(rf"^{key}\s+(\d+)", text, re.MULTILINE)
        if match:
            return int(match.group(1))
    raise ValueError("no summary or totals line in the callgrind output")


def parse_alloc_counts(text):
    """The last line the allocation counter wrote, as a dict of ints."""
    lines = [line for line in text.splitlines() if line.strip()]
    if not lines:
        raise ValueError("the allocation counter wrote nothing")
    return {key: int(value) for key, value in (word.split("=") for word in lines[-1].split())}


def parse_sent(log_text):
    """Frames the virtual camera says it sent, per sensor, from its log."""
    sent = {}
    for line in log_text.splitlines():
        words = line.split()
        if len(words) == 4 and words[0] == "sent":
            sent[words[2]] = sent.get(words[2], 0) + int(words[3])
    return sent


def scenario(fps, frames, uri="vcam://bench"):
    """Text of a virtual camera with 640x480 depth and color streams."""
    return (f"device {uri}\n"
            f"depth fps={fps} frames={frames} middle_step=1\n"
            f"color fps={fps} frames={frames} middle_step=1\n")


class Run:
    """One run of a monitor program with stdin on a pipe: wait until `done`
    says so (or the process stays idle once `min_seconds` have passed), then
    press a key and collect its resource usage."""

    IDLE_WINDOW = 0.3  # seconds without CPU use that count as idle
    IDLE_NS = 2_000_000  # CPU below this in the window is the key poll only

    def __init__(self, argv, env, out_path):
        self.out_path = out_path
        self.start = time.monotonic()
        with open(out_path, "wb") as out:
            self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=out,
                                         stderr=subprocess.STDOUT)
        self.lines = LineCounter(out_path)
        self.rss_samples = []  # (seconds since start, frame lines, RSS KiB)
        self.delivered_at = None
        self.killed = False  # by finish(), for not exiting in time

    def wait_delivered(self, min_seconds, timeout, done=None, sample_rss=False):
        last_cpu = cpu_nanoseconds(self.proc.pid)
        last_change = time.monotonic()
        while True:
            time.sleep(0.05)
            now = time.monotonic()
            lines = self.lines.update()
            if sample_rss and (not self.rss_samples or now - self.start
                               >= self.rss_samples[-1][0] + 0.5 or lines and not
                               self.rss_samples[-1][1]):
                self.rss_samples.append((now - self.start, lines, rss_kib(self.proc.pid)))
            if self.proc.poll() is not None:
                break
            cpu = cpu_nanoseconds(self.proc.pid)
            if cpu is not None and last_cpu is not None and cpu - last_cpu > self.IDLE_NS:
                last_cpu, last_change = cpu, now
            elapsed = now - self.start
            if done is not None and done(lines):
                break
            if elapsed >= min_seconds and now - last_change >= self.IDLE_WINDOW:
                # The frames ended when the CPU use did.
                self.delivered_at = last_change
                break
            if elapsed >= timeout:
                break
        if self.delivered_at is None:
            self.delivered_at = time.monotonic()
        if sample_rss:
            self.rss_samples.append((self.delivered_at - self.start, self.lines.update(),
                                     rss_kib(self.proc.pid)))

    def save_stacks(self, path):
        """Every thread's stack, for telling where a process that will not end waits."""
        with open(path, "w") as stacks:
            subprocess.run(["gdb", "-p", str(self.proc.pid), "-batch", "-ex",
                            "thread apply all bt 12"], stdout=stacks, stderr=subprocess.STDOUT,
                           stdin=subprocess.DEVNULL, timeout=60, check=False)

    def finish(self, timeout=30):
        """Presses a key; returns (exit code, CPU seconds user+system, seconds from
        the start to the end of the frames)."""
        try:
            self.proc.stdin.write(b"q")
            self.proc.stdin.close()
        except BrokenPipeError:
            pass
        deadline = time.monotonic() + timeout
        while True:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                self.save_stacks(self.out_path + ".hang.txt")
                self.proc.kill()
                self.killed = True
                pid, status, usage = os.wait4(self.proc.pid, 0)
                break
            time.sleep(0.01)
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        self.lines.update()
        return (self.proc.returncode, usage.ru_utime + usage.ru_stime,
                self.delivered_at - self.start)


def key_to_exit(argv, env, settle_seconds, timeout=30):
    """Runs `argv` on a new pseudo-terminal. Returns (seconds from exec to the
    first frame line, seconds from writing a key to the process's exit, exit code)."""
    started = time.monotonic()
    pid, master = pty.fork()
    if pid == 0:
        try:
            os.execve(argv[0], argv, env)
        finally:
            os._exit(127)
    ended = {}

    def reap():
        _, status = os.waitpid(pid, 0)
        ended["at"] = time.monotonic()
        ended["code"] = os.waitstatus_to_exitcode(status)

    reaper = threading.Thread(target=reap, daemon=True)
    reaper.start()
    buffered = b""
    first_frame = None
    key_at = None
    deadline = started + timeout
    try:
        while time.monotonic() < deadline:
            # The terminal is drained all along: a full one would stall the program.
            readable, _, _ = select.select([master], [], [], 0.005)
            if readable:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: every holder of the terminal's other side is gone
                    break
                if not chunk:
                    break
                if first_frame is None:
                    buffered += chunk
                    if FRAME_LINE.search(buffered):
                        first_frame = time.monotonic()
            now = time.monotonic()
            if key_at is None and first_frame is not None and now - first_frame >= settle_seconds:
                key_at = time.monotonic()
                os.write(master, b"q")
            if "at" in ended:
                break
    finally:
        reaper.join(timeout=max(0.0, deadline - time.monotonic()))
        os.close(master)
    if "at" not in ended:
        os.kill(pid, 9)
        reaper.join()
        raise RuntimeError(f"{argv[0]} did not exit within {timeout} s")
    if first_frame is None or key_at is None:
        raise RuntimeError(f"{argv[0]} exited (status {ended['code']}) before a key was sent")
    return first_frame - started, ended["at"] - key_at, ended["code"]
