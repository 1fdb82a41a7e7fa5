# A pyftpdlib server for the benchmarks: like a server some distance away, every
# reply waits DELAY milliseconds before it is sent. One server per loopback
# address given, each on a free port; prints "address port" per server, then
# serves anonymous users from ROOT until killed. --no-mlsd hides MLSD/MLST, so
# that clients list with NLST as against vsftpd. --logins FILE adds a line to
# FILE for every login (USER) asked for.
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, proto_cmds
from pyftpdlib.servers import ThreadedFTPServer
import logging

root, delay_ms, addresses = sys.argv[1], int(sys.argv[2]), sys.argv[3].split(",")
no_mlsd = "--no-mlsd" in sys.argv[4:]
logins = sys.argv[sys.argv.index("--logins") + 1] if "--logins" in sys.argv else None
logging.basicConfig(level=logging.CRITICAL)

authorizer = DummyAuthorizer()
authorizer.add_anonymous(root)


class SlowHandler(FTPHandler):
    def respond(self, resp, logfun=None):
        if delay_ms:
            time.sleep(delay_ms / 1000.0)
        FTPHandler.respond(self, resp)

    def ftp_USER(self, line):
        if logins:
            with open(logins, "a") as f:
                f.write("USER\n")
        FTPHandler.ftp_USER(self, line)


SlowHandler.authorizer = authorizer
SlowHandler.banner = "benchmark server"
if no_mlsd:
    SlowHandler.proto_cmds = {k: v for k, v in proto_cmds.items() if k not in ("MLSD", "MLST")}

servers = [ThreadedFTPServer((address, 0), SlowHandler) for address in addresses]
for server in servers:
    address, port = server.socket.getsockname()[:2]
    print(address, port, flush=True)
threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
for t in threads:
    t.start()
for t in threads:
    t.join()
