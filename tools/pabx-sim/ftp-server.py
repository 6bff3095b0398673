"""The FTP server of a simulated unit's recording board, over the same store.

Reads the user and password from PABXSIM_FTP_USER / PABXSIM_FTP_PASSWORD (never
from the command line), serves ROOT (the folder holding NORVIKA/) on ADDR:PORT
(PORT 0: any free port) and writes the port it got to PORT_FILE.

    /usr/bin/python3 ftp-server.py ADDR PORT ROOT PORT_FILE
"""
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    addr, port, root, port_file = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    auth = DummyAuthorizer()
    auth.add_user(os.environ["PABXSIM_FTP_USER"], os.environ["PABXSIM_FTP_PASSWORD"], root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = auth
    handler.passive_ports = None
    logging.basicConfig(level=logging.WARNING)
    server = FTPServer((addr, port), handler)
    got = server.socket.getsockname()[1]
    tmp = port_file + ".part"
    with open(tmp, "w") as f:
        f.write(f"{got}\n")
    os.replace(tmp, port_file)
    # serve_forever ends cleanly on SystemExit.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
