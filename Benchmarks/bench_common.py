"""What the benchmark scripts share: the release build, the wrappers, medians
and the table on stdout. Python 3 standard library only."""

import ctypes
import os
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRESET = "linux-release"
BUILD = os.path.join(ROOT, "build", PRESET)
BUILD_TIMEOUT_S = 3 * 3600
STOP_GRACE_S = 5


def log(text):
    print(text, file=sys.stderr, flush=True)


def build_targets(targets):
    """Builds the targets whose files are missing, through the release preset.
    targets: {target name: path under the build directory}."""
    missing = [name for name, path in targets.items() if not os.access(os.path.join(BUILD, path), os.X_OK)]
    if not missing:
        return
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        log("configuring the %s preset" % PRESET)
        subprocess.run(["cmake", "--preset", PRESET], cwd=ROOT, check=True, timeout=BUILD_TIMEOUT_S)
    log("building %s (%s preset, -j2)" % (" ".join(missing), PRESET))
    subprocess.run(["cmake", "--build", "--preset", PRESET, "-j2", "--target"] + missing,
                   cwd=ROOT, check=True, timeout=BUILD_TIMEOUT_S)


def cache_value(name):
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return None


def reexec_wrapped(marker, wrappers):
    """Runs this script again inside the wrappers (Scripts/with-display and
    the like) unless it already runs there."""
    if os.environ.get(marker):
        return
    env = dict(os.environ, **{marker: "1"})
    command = []
    for wrapper in wrappers:
        command += [os.path.join(ROOT, "Scripts", wrapper[0])] + wrapper[1:]
    command += [sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:]
    os.execve(command[0], command, env)


def become_subreaper():
    """WebKit's helper processes outlive their program for a moment; as a
    subreaper this script inherits and reaps them instead of init."""
    ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def process_table():
    """{pid: (parent pid, start time, name)} of every live process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, encoding="utf-8", errors="replace") as stat:
                line = stat.read()
        except OSError:
            continue
        name = line[line.index("(") + 1:line.rindex(")")]
        fields = line[line.rindex(")") + 2:].split()
        if fields[0] == "Z":
            continue
        table[int(entry)] = (int(fields[1]), fields[19], name)
    return table


def process_tree(root):
    """[(pid, start time, name)] of root and all its descendants."""
    table = process_table()
    if root not in table:
        return []
    tree, queue = [], [root]
    while queue:
        pid = queue.pop()
        tree.append((pid, table[pid][1], table[pid][2]))
        queue += [child for child, (parent, _, _) in table.items() if parent == pid]
    return tree


def same_process_alive(pid, started):
    info = process_table().get(pid)
    return info is not None and info[1] == started


def stop_tree(process, tree):
    """Ends the program and what it started, each by its PID: TERM, a bounded
    grace, then KILL. A PID is only signalled while it is still the same
    process (same start time)."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid, started, _ in tree:
            if same_process_alive(pid, started):
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
        deadline = time.monotonic() + STOP_GRACE_S
        while time.monotonic() < deadline:
            reap()
            if process.poll() is not None and not any(same_process_alive(p, s) for p, s, _ in tree):
                break
            time.sleep(0.05)
        else:
            continue
        break
    try:
        process.wait(timeout=STOP_GRACE_S)
    except subprocess.TimeoutExpired:
        log("process %d did not end" % process.pid)
    reap()


def median(values):
    return statistics.median(values) if values else float("nan")


def print_table(title, header, rows):
    print(title)
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    for number, row in enumerate([header] + rows):
        cells = [str(cell).ljust(widths[i]) if i == 0 else str(cell).rjust(widths[i]) for i, cell in enumerate(row)]
        print("  " + "  ".join(cells))
        if number == 0:
            print("  " + "  ".join("-" * width for width in widths))
    sys.stdout.flush()
