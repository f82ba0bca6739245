#!/usr/bin/python3
"""A remote serial port for one RFC 2217 client, whose DSR line the test sets.

A pseudo-terminal behind ser2net has no modem lines, so it cannot tell a client that DSR went
off. This peer can: it serves pyserial's own server side (serial.rfc2217.PortManager) over a
loop:// port and takes commands on stdin, one a line:

    dsr off | dsr on    drop or raise DSR; a NOTIFY-MODEMSTATE goes out at once
    send HEX            the device "sends" these bytes to the client
    hangup              close the client's connection (a server that went away)

Bytes from the client come back to it (loop:// echoes them), escaped as Telnet wants.

    rfc2217_dsr_peer.py [PORT]      listens on 127.0.0.1:PORT (0 or none: a free port)

stdout: the port number as the first line, then one line per thing the client did
("connected", "baudrate 19200", "dtr on", "closed", ...), flushed at once, so a test can wait
for them. It ends when stdin closes or the client disconnects.

Runs under /usr/bin/python3 on purpose: that is where the distribution's python3-serial is.
"""

import os
import socket
import sys
import threading

import serial
import serial.rfc2217

_print_lock = threading.Lock()


def say(text):
    with _print_lock:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()


class LinesHeldByTest:
    """The loop:// port as the PortManager sees it, with DSR under the test's control.

    On loop:// DSR follows DTR, so the client's own DTR ON (pyserial and most clients send it
    when they open) would undo a "dsr off". The client's DTR is therefore kept apart: it is
    acknowledged and reported, and DSR changes only on a command from stdin.
    """

    def __init__(self, port):
        object.__setattr__(self, "_port", port)
        object.__setattr__(self, "_client_dtr", True)

    def __getattr__(self, name):
        return getattr(self._port, name)

    def __setattr__(self, name, value):
        if name == "dtr":
            object.__setattr__(self, "_client_dtr", bool(value))
            say("dtr " + ("on" if value else "off"))
            return
        setattr(self._port, name, value)
        if name in ("baudrate", "bytesize", "parity", "stopbits", "rts", "xonxoff", "rtscts"):
            say("{} {}".format(name, value))

    def set_dsr(self, on):
        self._port.dtr = on  # loop:// reports DTR as DSR


class Connection:
    """What PortManager writes through; it is called from more than one thread."""

    def __init__(self, sock):
        self._sock = sock
        self._lock = threading.Lock()

    def write(self, data):
        with self._lock:
            try:
                self._sock.sendall(data)
            except OSError:
                pass  # the client is gone; the reader notices and ends the peer


def finish(text):
    say(text)
    os._exit(0)


def read_stdin(state):
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        manager = state.get("manager")
        if words[0] == "dsr" and len(words) == 2 and words[1] in ("on", "off"):
            state["dsr"] = words[1] == "on"
            if manager:
                state["lines"].set_dsr(state["dsr"])
                manager.check_modem_lines()
        elif words[0] == "send" and len(words) == 2 and manager:
            try:
                state["loop"].write(bytes.fromhex(words[1]))
            except ValueError:
                say("error: not hex: " + words[1])
        elif words[0] == "hangup" and manager:
            state["socket"].shutdown(socket.SHUT_RDWR)
        elif not manager:
            say("error: no client yet: " + line.strip())
        else:
            say("error: unknown command: " + line.strip())
    finish("stdin closed")


def device_to_client(loop, manager, connection):
    while True:
        try:
            data = loop.read(loop.in_waiting or 1)
        except serial.SerialException:
            return
        if data:
            connection.write(b"".join(manager.escape(data)))


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(1)
    say(str(server.getsockname()[1]))

    state = {"dsr": True}
    threading.Thread(target=read_stdin, args=(state,), daemon=True).start()

    client, _ = server.accept()
    server.close()  # one client only: a second one is refused rather than left waiting
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    loop = serial.serial_for_url("loop://", timeout=0.2)
    lines = LinesHeldByTest(loop)
    lines.set_dsr(state["dsr"])
    connection = Connection(client)
    manager = serial.rfc2217.PortManager(lines, connection)
    state.update(manager=manager, lines=lines, loop=loop, socket=client)
    say("connected")

    threading.Thread(target=device_to_client, args=(loop, manager, connection), daemon=True).start()
    while True:
        try:
            data = client.recv(4096)
        except OSError:
            data = b""
        if not data:
            finish("closed")
        loop.write(b"".join(manager.filter(data)))


if __name__ == "__main__":
    main()
