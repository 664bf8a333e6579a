"""A parent process of the kind that starts R as a worker: it connects the child's
standard output and error to pipes, optionally hands it a third pipe on descriptor 3,
reads every pipe until end of file, and reports what arrived and when.

Usage: python3 parent.py [--fd3] OUT_DIR PROGRAM [ARG...]

Writes into OUT_DIR:
  stdout, stderr, fd3   the bytes that arrived on each pipe
  frame-<k>             line k (from 1) of fd3 that starts with "frame ", the rest of
                        the line decoded with Python's base64 module
  result                "<exit status> <seconds from the child's exit to end of file on
                        the last of its pipes>"
"""

import base64
import os
import subprocess
import sys
import threading
import time

# Longer than any child here runs: a pipe still open after this is a fault of its own.
GIVE_UP_SECONDS = 300


def pipe_with_write_end_on_fd3():
    """Returns the read end of a new pipe whose write end is descriptor 3, inheritable."""
    read_end, write_end = os.pipe()
    if read_end == 3:
        moved = os.dup(read_end)  # 3 is still taken here, so this lands above it
        os.close(read_end)
        read_end = moved
    if write_end != 3:
        os.dup2(write_end, 3)
        os.close(write_end)
    return read_end


def drain(stream, chunks, eof_times, name):
    """Reads a pipe until end of file, keeping its bytes and the time that came."""
    while True:
        data = os.read(stream, 1 << 16)
        if not data:
            break
        chunks[name].append(data)
    eof_times[name] = time.monotonic()


def main(argv):
    with_fd3 = argv[:1] == ["--fd3"]
    if with_fd3:
        argv = argv[1:]
    out_dir, command = argv[0], argv[1:]
    fd3_read = pipe_with_write_end_on_fd3() if with_fd3 else None
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, pass_fds=(3,) if with_fd3 else ())
    pipes = {"stdout": child.stdout.fileno(), "stderr": child.stderr.fileno()}
    if with_fd3:
        os.close(3)  # the child holds the only write end from here on
        pipes["fd3"] = fd3_read
    chunks = {name: [] for name in pipes}
    eof_times = {}
    readers = [threading.Thread(target=drain, args=(fd, chunks, eof_times, name),
                                daemon=True) for name, fd in pipes.items()]
    for reader in readers:
        reader.start()
    status = child.wait()
    exited = time.monotonic()
    for reader in readers:
        reader.join(GIVE_UP_SECONDS)
    eof = max(eof_times.values()) if len(eof_times) == len(pipes) else float("inf")

    for name in pipes:
        with open(os.path.join(out_dir, name), "wb") as out:
            out.write(b"".join(chunks[name]))
    fd3_lines = b"".join(chunks.get("fd3", [])).split(b"\n")
    frames = [line[len(b"frame "):] for line in fd3_lines if line.startswith(b"frame ")]
    for k, frame in enumerate(frames, start=1):
        with open(os.path.join(out_dir, "frame-%d" % k), "wb") as out:
            out.write(base64.b64decode(frame, validate=True))
    with open(os.path.join(out_dir, "result"), "w") as out:
        out.write("%d %.3f\n" % (status, eof - exited))


if __name__ == "__main__":
    main(sys.argv[1:])
