#!/usr/bin/env python3
"""The round-trip series of a Python client, standard library only: the script an operator would
write instead of using the console. It writes the stripe, then times COUNT buffer clears and COUNT
magnetic reads, each from the first byte of the command frame to the ACK of the response, and
prints one JSON line: {"client": "python", "clear": [us...], "read": [us...], "failures": N}.

It checks what it receives as the console's card control does: a NAK makes it send the frame
again (three sends in all), a damaged response is answered with NAK (three of them give up).
"""

import argparse
import json
import socket
import sys
import time

STX, ETX, ACK, NAK = 0x02, 0x03, 0x06, 0x15
BUFFER_CLEAR, MAGNETIC_READ, MAGNETIC_DATA, MAGNETIC_WRITE = 73, 34, 57, 49
NORMAL = 0x20
MAX_SENDS = 3
MAX_BAD_RESPONSES = 3


class LinkLost(Exception):
    pass


def frame(body: bytes) -> bytes:
    head = len(body).to_bytes(2, "big")
    bcc = 0
    for b in head + body + bytes([ETX]):
        bcc ^= b
    return bytes([STX]) + head + body + bytes([ETX, bcc])


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise LinkLost("the device hung up")
        data += chunk
    return data


def read_answer(sock):
    """ACK or NAK; anything before it (the rest of an abandoned answer) is skipped."""
    while True:
        b = read_exact(sock, 1)[0]
        if b in (ACK, NAK):
            return b


def read_frame(sock):
    """The body of a sound frame, or None for a damaged one."""
    while read_exact(sock, 1)[0] != STX:
        pass
    head = read_exact(sock, 2)
    length = int.from_bytes(head, "big")
    rest = read_exact(sock, length + 2)  # BODY, ETX, BCC
    bcc = 0
    for b in head + rest[:-1]:
        bcc ^= b
    if length == 0 or rest[length] != ETX or rest[-1] != bcc:
        return None
    return rest[:length]


def command(sock, code, parameter=b""):
    """(status, data), or None when the device refused the frame or kept sending damaged ones."""
    out = frame(bytes([code]) + parameter)
    for _ in range(MAX_SENDS):
        sock.sendall(out)
        if read_answer(sock) == ACK:
            break
    else:
        return None
    for _ in range(MAX_BAD_RESPONSES):
        body = read_frame(sock)
        if body is not None:
            sock.sendall(bytes([ACK]))
            return body[0], body[1:]
        sock.sendall(bytes([NAK]))
    return None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--warmup", type=int, default=100)
    parser.add_argument("--stripe", required=True, help="stripe text (ASCII) written before the reads")
    args = parser.parse_args(argv)
    stripe = args.stripe.encode("ascii")

    # A device that stops answering ends the run with an error instead of hanging it.
    with socket.create_connection((args.host, args.port), timeout=30) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if command(sock, MAGNETIC_DATA, stripe) != (NORMAL, b"") or command(sock, MAGNETIC_WRITE, b"2") != (NORMAL, b""):
            print("pyclient: writing the stripe failed", file=sys.stderr)
            return 1

        failures = 0
        for i in range(args.warmup):
            answer = command(sock, MAGNETIC_READ if i % 2 else BUFFER_CLEAR)
            failures += 0 if answer and answer[0] == NORMAL else 1

        def series(code, expected):
            nonlocal failures
            samples = []
            clock = time.perf_counter_ns
            for _ in range(args.count):
                start = clock()
                answer = command(sock, code)
                samples.append((clock() - start) / 1000.0)
                if answer != (NORMAL, expected):
                    failures += 1
            return samples

        clear = series(BUFFER_CLEAR, b"")
        read = series(MAGNETIC_READ, stripe)

    print(json.dumps({"client": "python", "clear": clear, "read": read, "failures": failures}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
