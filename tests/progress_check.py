# The progress line seen on a terminal: both programs read data that arrive
# slowly (a pipe or a FIFO fed over 1.5 s) with standard error on a
# pseudo-terminal, and again with it on a file. On the terminal a progress
# line must appear and be gone at the end: the screen, replayed, holds the
# console text of the run without a terminal, byte for byte; with standard
# error on a file not a byte of it is written; the outputs are the same.
# Usage: progress_check.py SCORIX SCORIX_FIT
import concurrent.futures
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

scorix, scorix_fit = sys.argv[1:3]
rows = "".join(f"{i % 7} {i % 5 + i % 3} {(i * 7) % 11} {i % 13 - i % 4} {(i * 3) % 17}\n" for i in range(3000))
data = (rows * 200).encode()  # about 7 MB, many read blocks


def feed(target):
    try:
        with os.fdopen(target, "wb") as out:
            for start in range(0, len(data), len(data) // 30 + 1):
                out.write(data[start:start + len(data) // 30 + 1])
                out.flush()
                time.sleep(0.05)
    except BrokenPipeError:  # the reader was ended
        pass


def screen(text):
    """What a terminal shows after `text`: carriage return, newline and clear to end of line."""
    lines, col = [""], 0
    for part in re.findall(r"\033\[K|\r|\n|[^\r\n\033]+", text):
        if part == "\033[K":
            lines[-1] = lines[-1][:col]
        elif part == "\r":
            col = 0
        elif part == "\n":
            lines, col = lines + [""], 0
        else:
            lines[-1] = lines[-1][:col] + part + lines[-1][col + len(part):]
            col += len(part)
    return "\n".join(lines)


def run(case, terminal):
    """One case in a fresh directory: status, console text (replayed on a terminal), output bytes."""
    program, args, output, console_on_stdout = case
    folder = tempfile.mkdtemp(prefix="progress.")
    subprocess.run([scorix_fit, "-q", "-o", os.path.join(folder, "c.fsc"), "-"], input=rows.encode(), check=True)
    os.mkfifo(os.path.join(folder, "data.dat"))
    console = open(os.path.join(folder, "console"), "wb")
    scores = open(os.path.join(folder, output), "wb")
    master, err = pty.openpty() if terminal else (None, console.fileno())
    read_end, write_end = os.pipe() if "-" in args else (subprocess.DEVNULL, None)
    if not terminal:
        args = [word for word in args if word != "--progress"]
    child = subprocess.Popen([program] + args, cwd=folder, stdin=read_end, stdout=err if console_on_stdout else scores,
                             stderr=err)
    if write_end:
        os.close(read_end)
    feeder = threading.Thread(target=feed, args=(write_end or os.open(os.path.join(folder, "data.dat"), os.O_WRONLY),))
    feeder.start()
    shown = b""
    if terminal:
        os.close(err)
        while True:
            try:
                part = os.read(master, 65536)
            except OSError:  # the terminal's other side is closed
                break
            if not part:
                break
            shown += part
        os.close(master)
    feeder.join()
    status = child.wait()
    console.close()
    scores.close()
    text = shown.decode() if terminal else open(os.path.join(folder, "console"), newline="").read()
    with open(os.path.join(folder, output), "rb") as result:
        return status, text, result.read()


cases = {
    # Scores of standard input on standard output, the console on the
    # terminal; a pipe has no size. --progress (on the terminal run only)
    # forces the line; without it a file on standard error holds none.
    "scorix": (scorix, ["--progress", "-f", "c.fsc", "-"], "scores", False),
    # A FIFO as the data file, the table and console on the terminal too.
    "scorix-fit": (scorix_fit, ["-o", "fit.fsc", "data.dat"], "fit.fsc", True),
}
failures = 0
with concurrent.futures.ThreadPoolExecutor(4) as pool:
    runs = {(name, terminal): pool.submit(run, case, terminal) for name, case in cases.items()
            for terminal in (False, True)}
    for name in cases:
        plain_status, plain_text, plain_output = runs[(name, False)].result()
        status, text, output = runs[(name, True)].result()
        drawn = re.findall(r"\r([^\r\n\033]+)\033\[K", text)
        checks = {
            "both runs succeed": plain_status == 0 and status == 0,
            "a progress line of the bytes read and a rate is drawn":
            any(re.fullmatch(r"\S+( \S+)? [1-9][\d.]* [kMG]?B [1-9][\d.]* [kMG]?B/s", line) for line in drawn),
            "no percentage for data without a size": not any("%" in line for line in drawn),
            "the terminal ends holding the console text only": screen(text.replace("\r\n", "\n")) == plain_text,
            "nothing of it on standard error that is a file": "\r" not in plain_text and "\033" not in plain_text,
            "the outputs are the same": output == plain_output,
        }
        for check, passed in checks.items():
            if not passed:
                failures += 1
                print(f"{name}: FAILED: {check}\nterminal: {text!r}\nplain: {plain_text!r}")


def interrupted():
    """scorix ended by a signal while its line stands: status, and what the terminal shows."""
    folder = tempfile.mkdtemp(prefix="progress.")
    subprocess.run([scorix_fit, "-q", "-o", os.path.join(folder, "c.fsc"), "-"], input=rows.encode(), check=True)
    master, err = pty.openpty()
    read_end, write_end = os.pipe()
    child = subprocess.Popen([scorix, "--progress", "-f", "c.fsc", "-"], cwd=folder, stdin=read_end,
                             stdout=subprocess.DEVNULL, stderr=err)
    os.close(read_end)
    os.close(err)
    feeder = threading.Thread(target=feed, args=(write_end,))
    feeder.start()
    shown = b""
    while b"B/s" not in shown:
        shown += os.read(master, 65536)
    child.send_signal(signal.SIGTERM)  # SIGINT may be ignored where the tests run in the background
    while True:
        try:
            part = os.read(master, 65536)
        except OSError:
            break
        if not part:
            break
        shown += part
    os.close(master)
    status = child.wait()
    feeder.join()
    return status, shown.decode()


status, text = interrupted()
if status != -signal.SIGTERM or "B/s" in screen(text):
    failures += 1
    print(f"interrupted: FAILED: the line is erased when a signal ends the run\nstatus {status}, terminal: {text!r}")
sys.exit(1 if failures else 0)
