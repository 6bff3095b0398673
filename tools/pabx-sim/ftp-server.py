"""The FTP server of a simulated unit's recording board, over the same store.

Reads the user and password from PABXSIM_FTP_USER / PABXSIM_FTP_PASSWORD (never
from the command line), serves ROOT (the folder holding NORVIKA/) on ADDR:PORT
(PORT 0: any free port) and writes the port it got to PORT_FILE.

    /usr/bin/python3 ftp-server.py ADDR PORT ROOT PORT_FILE [options]

Options, for trying a client against the boards' odd ways:
    --tls explicit|required|implicit
        explicit: AUTH TLS offered; required: TLS demanded on the control and
        data channels; implicit: TLS from the first byte, before the greeting.
        A self-signed certificate is made at start.
    --no-mlsd           MLSD and MLST are not understood (the client must LIST).
    --no-times          no file times: MLSD/MLST give no "modify" fact and MDTM
                        is not understood, as on boards without a clock.
    --listing FILE      canned entries (JSON) added to listings, for names no
                        file system can hold: {"NORVIKA/A": [{"name": "a/b",
                        "size": 3, "type": "file"}], ...}; type "file" or "dir".
    --fault RULE        repeatable: KIND:NAME:BYTES[:TIMES]. KIND cut-data
                        (the data connection closes), cut-control (the control
                        connection closes) or stall (nothing more is sent) once
                        BYTES of the file NAME went out; TIMES transfers are hit
                        (default: all). KIND no-greet (no NAME): connections
                        are accepted and never greeted. KIND refuse: RETR
                        of NAME is answered 550 (BYTES is not used).
    --fault-stor SPEC   repeatable: the same kinds on uploads, hit once BYTES of
                        a stored file whose name contains NAME came in (clients
                        upload under temporary names).
    --refuse-stor       STOR is refused (550), as on a read-only account.
    --syst TEXT         the SYST answer's text (default "UNIX Type: L8").
"""
import argparse
import json
import logging
import os
import signal
import socket
import sys
import tempfile
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, FileProducer
from pyftpdlib.servers import FTPServer, ThreadedFTPServer

stopping = threading.Event()


class Fault:
    def __init__(self, rule):
        parts = rule.split(":")
        self.kind = parts[0]
        if self.kind == "no-greet":
            self.name, self.bytes, self.times = None, 0, None
            return
        if self.kind not in ("cut-data", "cut-control", "stall", "refuse") or len(parts) not in (3, 4):
            raise SystemExit(f"ftp-server: bad --fault {rule}")
        self.name = parts[1]
        self.bytes = int(parts[2])
        self.times = int(parts[3]) if len(parts) == 4 else None
        self.lock = threading.Lock()

    def take(self, name, part=False):
        """Whether this transfer of NAME is hit (counts it)."""
        if (self.name not in name) if part else (self.name != name):
            return False
        with self.lock:
            if self.times is None:
                return True
            if self.times <= 0:
                return False
            self.times -= 1
            return True


class FaultyProducer:
    """Sends the file up to the fault's byte count, then cuts or stalls."""

    def __init__(self, inner, fault, handler):
        self.inner, self.fault, self.handler = inner, fault, handler
        self.file = inner.file
        self.sent = 0
        self.hit = False

    def more(self):
        if self.hit:
            return self.after()
        data = self.inner.more()
        if self.sent + len(data) >= self.fault.bytes:
            data = data[: max(0, self.fault.bytes - self.sent)]
            self.hit = True
        self.sent += len(data)
        return data if data or not self.hit else self.after()

    def after(self):
        kind = self.fault.kind
        if kind == "stall":
            while not stopping.is_set() and self.handler.connected and not self.handler._closed:
                time.sleep(0.1)
            return b""
        dtp = self.handler.data_channel
        if kind == "cut-data" and dtp is not None:
            dtp._resp = ("426 Connection closed; transfer aborted.", logging.info)
            try:
                dtp.socket.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            dtp.close()
        elif kind == "cut-control":
            if dtp is not None:
                dtp._resp = None
            try:
                self.handler.socket.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self.handler.close()
        return b""


class FaultyWriter:
    """A stored file that takes the upload up to the fault's byte count,
    then cuts the connection or stops reading."""

    def __init__(self, inner, fault, handler):
        self.inner, self.fault, self.handler = inner, fault, handler
        self.got = 0

    def __getattr__(self, attr):
        return getattr(self.inner, attr)

    def write(self, data):
        room = self.fault.bytes - self.got
        if room > 0:
            self.inner.write(data[:room])
            self.got += min(room, len(data))
        if self.got < self.fault.bytes:
            return len(data)
        h = self.handler
        if self.fault.kind == "stall":
            while not stopping.is_set() and h.connected and not h._closed:
                time.sleep(0.1)
            return len(data)
        dtp = h.data_channel
        if dtp is not None:
            dtp._resp = None
            try:
                dtp.socket.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        if self.fault.kind == "cut-control":
            try:
                h.socket.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            h.close()
        elif dtp is not None:
            dtp.close()
        return len(data)


def make_certificate(folder):
    from OpenSSL import crypto

    key = crypto.PKey()
    key.generate_key(crypto.TYPE_RSA, 2048)
    cert = crypto.X509()
    cert.get_subject().CN = "pabx-sim"
    cert.set_serial_number(1)
    cert.gmtime_adj_notBefore(-60)
    cert.gmtime_adj_notAfter(86400)
    cert.set_issuer(cert.get_subject())
    cert.set_pubkey(key)
    cert.sign(key, "sha256")
    path = os.path.join(folder, "cert.pem")
    with open(path, "wb") as f:
        f.write(crypto.dump_privatekey(crypto.FILETYPE_PEM, key))
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, cert))
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("addr")
    ap.add_argument("port", type=int)
    ap.add_argument("root")
    ap.add_argument("port_file")
    ap.add_argument("--tls", choices=["explicit", "required", "implicit"])
    ap.add_argument("--no-mlsd", action="store_true")
    ap.add_argument("--no-times", action="store_true")
    ap.add_argument("--listing")
    ap.add_argument("--fault", action="append", default=[])
    ap.add_argument("--fault-stor", action="append", default=[])
    ap.add_argument("--refuse-stor", action="store_true")
    ap.add_argument("--syst")
    a = ap.parse_args()

    faults = [Fault(s) for s in a.fault]
    stor_faults = [Fault(s) for s in a.fault_stor]
    no_greet = any(f.kind == "no-greet" for f in faults)
    canned = {}
    if a.listing:
        with open(a.listing, encoding="utf-8") as f:
            canned = {k.strip("/"): v for k, v in json.load(f).items()}

    if a.tls:
        from pyftpdlib.handlers import TLS_DTPHandler
        from pyftpdlib.handlers import TLS_FTPHandler as Base

        class DTP(TLS_DTPHandler):
            # libcurl starts the data channel's handshake as soon as it has
            # connected, before its RETR; pyftpdlib would take those early
            # bytes on a channel not yet in use for a hang-up.
            def readable(self):
                if self._ssl_accepting or self._ssl_want_read:
                    return True
                if not self.receive and not self._initialized:
                    return False
                return super().readable()
    else:
        Base = FTPHandler

    class CannedFS(AbstractedFS):
        def _extra(self, basedir):
            rel = os.path.relpath(basedir, self.root).replace(os.sep, "/").strip("/")
            return canned.get("" if rel == "." else rel, [])

        def format_list(self, basedir, listing, ignore_err=True):
            yield from super().format_list(basedir, listing, ignore_err)
            for e in self._extra(basedir):
                kind = "d" if e.get("type") == "dir" else "-"
                line = f"{kind}rw-r--r--   1 owner    group    {e.get('size', 0):>10} Jan 01 00:00 {e['name']}\r\n"
                yield line.encode("utf8", "surrogateescape")

        def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
            yield from super().format_mlsx(basedir, listing, perms, facts, ignore_err)
            for e in self._extra(basedir):
                kind = "dir" if e.get("type") == "dir" else "file"
                size = f"size={e['size']};" if "size" in e and kind == "file" else ""
                line = f"type={kind};{size}modify=20240101000000; {e['name']}\r\n"
                yield line.encode("utf8", "surrogateescape")

        def open(self, filename, mode):
            f = super().open(filename, mode)
            if "w" not in mode:
                return f
            name = os.path.basename(filename)
            hit = next((x for x in stor_faults if x.kind != "no-greet" and x.take(name, part=True)), None)
            return f if hit is None else FaultyWriter(f, hit, self.cmd_channel)

    class Handler(Base):
        abstracted_fs = CannedFS
        if a.tls:
            dtp_handler = DTP
        unicode_errors = "surrogateescape"

        def handle(self):
            if no_greet:
                return
            # Replies go out at once: with Nagle each "226" waits for the
            # client's delayed ACK of the "150" before it.
            try:
                self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            except OSError:
                pass
            if a.tls == "implicit":
                self.secure_connection(self.ssl_context)
                self._pbsz = True
                self._prot = True
            super().handle()

        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            if a.no_times:
                self._current_facts = [f for f in self._current_facts if f != "modify"]
                self._available_facts = [f for f in self._available_facts if f != "modify"]

        def ftp_SYST(self, line):
            if a.syst is None:
                return super().ftp_SYST(line)
            self.respond("215 " + a.syst)

        def ftp_STOR(self, file, mode="w"):
            if a.refuse_stor:
                self.respond("550 Permission denied.")
                return None
            return super().ftp_STOR(file, mode)

        def ftp_RETR(self, file):
            name = os.path.basename(file)
            hit = next((f for f in faults if f.kind != "no-greet" and f.take(name)), None)
            if hit is None:
                return super().ftp_RETR(file)
            if hit.kind == "refuse":
                self.respond("550 Permission denied.")
                return None
            try:
                fd = self.run_as_current_user(self.fs.open, file, "rb")
            except OSError as err:
                self.respond(f"550 {err.strerror}.")
                return None
            producer = FaultyProducer(FileProducer(fd, self._current_type), hit, self)
            self.push_dtp_data(producer, isproducer=True, file=fd, cmd="RETR")
            return file

    if any(f.kind != "no-greet" for f in faults + stor_faults):
        Handler.use_sendfile = False  # the faults need the bytes to pass through Python
    if a.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in Base.proto_cmds.items() if k not in ("MLSD", "MLST")}
    if a.no_times:
        Handler.proto_cmds = {k: v for k, v in Handler.proto_cmds.items() if k != "MDTM"}

    tmpdir = tempfile.mkdtemp(prefix="pabxsim-ftp-")
    if a.tls:
        Handler.certfile = make_certificate(tmpdir)
        Handler.tls_control_required = a.tls == "required"
        Handler.tls_data_required = a.tls == "required"

    auth = DummyAuthorizer()
    auth.add_user(os.environ["PABXSIM_FTP_USER"], os.environ["PABXSIM_FTP_PASSWORD"], a.root, perm="elradfmwMT")
    Handler.authorizer = auth
    Handler.passive_ports = None
    logging.basicConfig(level=logging.WARNING)
    # A stall holds its connection's thread; TLS needs the single-threaded loop.
    stall = any(f.kind == "stall" for f in faults + stor_faults)
    server = (ThreadedFTPServer if stall else FTPServer)((a.addr, a.port), Handler)
    got = server.socket.getsockname()[1]
    tmp = a.port_file + ".part"
    with open(tmp, "w") as f:
        f.write(f"{got}\n")
    os.replace(tmp, a.port_file)

    def finish(*_):
        stopping.set()
        sys.exit(0)

    # serve_forever ends cleanly on SystemExit.
    signal.signal(signal.SIGTERM, finish)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        stopping.set()
        for name in os.listdir(tmpdir):
            os.unlink(os.path.join(tmpdir, name))
        os.rmdir(tmpdir)


if __name__ == "__main__":
    main()
