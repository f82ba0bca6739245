"""The device side of the real-display suite: kestra-emu as a child process, its trace read back,
and the wire frames the console is expected to send, built here from the protocol's rules rather
than taken from the console's code."""

import os
import re
import select
import subprocess
import time

from xdrive import die_with_parent, stop_process

STX, ETX = 0x02, 0x03


def frame(body: bytes) -> bytes:
    """STX, LEN (big-endian), BODY, ETX, BCC: the XOR of every byte from LEN_HI through ETX."""
    inner = len(body).to_bytes(2, "big") + body + bytes([ETX])
    bcc = 0
    for b in inner:
        bcc ^= b
    return bytes([STX]) + inner + bytes([bcc])


def command_frame(code: int, parameter: bytes = b"") -> bytes:
    return frame(bytes([code]) + parameter)


def hex_bytes(data: bytes) -> str:
    return " ".join(f"{b:02x}" for b in data)


class TraceEntry:
    """One trace line: `<seconds> <link> <direction> <kind> <hex bytes> |<printable>|`, or an event
    line `<seconds> <link> -- event <text>`."""

    HEX = re.compile(r"^[0-9a-f]{2}$")

    def __init__(self, line: str):
        seconds, self.link, self.direction, self.kind, rest = (line.split(" ", 4) + [""] * 5)[:5]
        self.seconds = float(seconds)
        self.text = rest if self.kind == "event" else ""
        data = []
        if self.kind != "event":
            for token in rest.split(" "):
                if not self.HEX.match(token):
                    break
                data.append(int(token, 16))
        self.data = bytes(data)

    def __repr__(self):
        body = self.text if self.kind == "event" else hex_bytes(self.data)
        return f"{self.link} {self.direction} {self.kind} {body}"


class Emulator:
    """kestra-emu on an ephemeral loopback port and a pseudo-terminal in `workdir`, tracing into a
    file that the checks read back."""

    def __init__(self, executable, workdir, extra_args=()):
        self.workdir = workdir
        self.pty_path = os.path.join(workdir, "ttyKestra")
        self.trace_path = os.path.join(workdir, "trace.log")
        self.surface_path = os.path.join(workdir, "surface.png")
        self.port = None
        runtime = os.path.join(workdir, "emulator-runtime")
        os.makedirs(runtime, 0o700, exist_ok=True)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime)
        args = [executable, "--tcp", "127.0.0.1:0", "--pty", self.pty_path,
                "--trace-file", self.trace_path, "--surface-png", self.surface_path,
                "--time-scale", "0.05", "--reinsert-ms", "0", *extra_args]
        self.stderr = open(os.path.join(workdir, "emulator.err"), "w")
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.stderr, env=env,
                                        preexec_fn=die_with_parent)

    def wait_ready(self, seconds=10):
        """Reads the start-up lines (`kestra-emu: tcp HOST:PORT`, `... pty PATH`, `... ready`)."""
        deadline = time.monotonic() + seconds
        pending = b""
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if not readable:
                if self.process.poll() is not None:
                    break
                continue
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                break
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in (raw.decode(errors="replace") for raw in lines):
                m = re.match(r"kestra-emu: tcp 127\.0\.0\.1:(\d+)$", line)
                if m:
                    self.port = int(m.group(1))
                if line == "kestra-emu: ready":
                    return self.port is not None
        return False

    def entries(self):
        try:
            with open(self.trace_path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        # The emulator flushes line by line; a line still being written has no end yet.
        return [TraceEntry(line) for line in lines if line.strip()]

    def stop(self):
        stop_process(self.process)
        self.stderr.close()


class Exchange:
    """What one click put on a link: the frames the console sent, compared byte for byte, and
    the moment the last response was acknowledged (the console has taken its answer)."""

    def __init__(self, emulator, link_prefix):
        self.emulator = emulator
        self.link_prefix = link_prefix
        self.mark = len(emulator.entries())

    def since(self):
        return [e for e in self.emulator.entries()[self.mark:] if e.link.startswith(self.link_prefix)]

    def sent_frames(self):
        return [e.data for e in self.since() if e.direction == "in" and e.kind in ("frame", "bad-frame")]

    def complete(self, expected_count):
        """True once `expected_count` command frames came in, each was answered with a response
        frame, and the last response was acknowledged by the console."""
        entries = self.since()
        frames_in = [e for e in entries if e.direction == "in" and e.kind in ("frame", "bad-frame")]
        responses = [i for i, e in enumerate(entries) if e.direction == "out" and e.kind == "frame"]
        if len(frames_in) < expected_count or len(responses) < expected_count:
            return False
        return any(e.direction == "in" and e.kind == "ACK" for e in entries[responses[-1] + 1:])

    def events(self):
        return [e.text for e in self.since() if e.kind == "event"]
