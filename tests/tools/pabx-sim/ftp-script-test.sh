#!/usr/bin/env bash
# scripts/pabx-sim start/stop: the simulator and the FTP server come up over
# the same store, the FTP server shows NORVIKA/ at its root behind a user and
# password, a removal over the control link is seen over FTP, and stop ends
# both processes.
set -euo pipefail
top=$1
export PABXSIM_BIN=$2
base=${VERUZADU_TEST_TMP:-/tmp}
work=$(mktemp -d "$base/pabxsim-ftp.XXXXXX")
trap '"$top/scripts/pabx-sim" stop "$work/run" || true; rm -rf "$work"' EXIT

cat >"$work/unit.ini" <<INI
[pabx]
password = 77
store = store
INI
unset PABXSIM_FTP_USER PABXSIM_FTP_PASSWORD
"$top/scripts/pabx-sim" start "$work/run" --scenario "$work/unit.ini" --store "$work/store" --count 3
source "$work/run/env"
sim_pid=$(cat "$work/run/pabx-sim.pid"); ftp_pid=$(cat "$work/run/ftp.pid")
if grep -q -- "$PABXSIM_FTP_PASSWORD" "/proc/$ftp_pid/cmdline"; then
  echo "FAIL: the FTP password is on a command line"; exit 1
fi

/usr/bin/python3 - <<'PY'
import ftplib, io, os, socket, struct

host, port = os.environ["PABXSIM_HOST"], int(os.environ["PABXSIM_FTP_PORT"])
store = os.environ["PABXSIM_STORE"]
ftp = ftplib.FTP()
ftp.connect(host, port, timeout=10)
try:
    ftp.login(os.environ["PABXSIM_FTP_USER"], "wrong")
    raise SystemExit("FAIL: a wrong FTP password was accepted")
except ftplib.error_perm:
    pass
ftp.login(os.environ["PABXSIM_FTP_USER"], os.environ["PABXSIM_FTP_PASSWORD"])
assert [n.rsplit("/", 1)[-1] for n in ftp.nlst("/")] == ["NORVIKA"]
base = lambda n: n.rsplit("/", 1)[-1]
day = "/NORVIKA/AUDIOREC/" + base(ftp.nlst("/NORVIKA/AUDIOREC")[0])
dev = day + "/" + base(ftp.nlst(day)[0])
names = sorted(base(n) for n in ftp.nlst(dev))
wav = next(n for n in names if n.endswith(".WAV"))
buf = io.BytesIO()
ftp.retrbinary(f"RETR {dev}/{wav}", buf.write)
local = os.path.join(store, dev.lstrip("/"), wav)
assert buf.getvalue() == open(local, "rb").read(), "FTP copy differs from the store"

# Removal over the control link, then the file is gone from the FTP listing.
def frame(kind, cmd, a, rest=b""):
    body = struct.pack("<HHH", kind, cmd, a) + rest
    return b"\x55" + struct.pack("<H", len(body)) + body

def ctrl(cmd, sub, payload=b""):
    return frame(6, cmd, sub, struct.pack("<H", (len(payload) + 1) // 2) + payload)

s = socket.create_connection((host, int(os.environ["PABXSIM_PORT"])), timeout=5)
pending = b""
def read_frame():
    global pending
    while len(pending) < 3 or len(pending) < struct.unpack("<H", pending[1:3])[0] + 3:
        chunk = s.recv(65536)
        assert chunk, "connection closed"
        pending += chunk
    n = struct.unpack("<H", pending[1:3])[0] + 3
    f, pending = pending[:n], pending[n:]
    return f
s.sendall(ctrl(3, 10005, "KelvMonitor,77".encode("utf-16-le")))
assert read_frame()[5:7] == b"\x05\x80"
assert read_frame()[7:9] == b"\x01\x00"
s.sendall(ctrl(2, 0x8C, struct.pack("<HHBB", 0, 0xFFFF, 1, 0)))
assert read_frame()[7:9] == b"\x01\x00"
path = ("0:" + dev + "/" + wav).encode("latin-1") + b"\x00"
s.sendall(ctrl(2, 0x8C, struct.pack("<HH", 2, 0xFFFF) + path))
assert read_frame()[7:9] == b"\x01\x00", "removal not OK"
left = [base(n) for n in ftp.nlst(dev)]
assert wav not in left and wav[:-4] + ".XML" in left, left
ftp.quit()
PY

grep -q "55 .. 00 06 00 03 00 15 27" "$PABXSIM_FRAMES_LOG" || { echo "FAIL: login not in the frames log"; exit 1; }
"$top/scripts/pabx-sim" stop "$work/run"
sleep 0.2
for pid in "$sim_pid" "$ftp_pid"; do
  if kill -0 "$pid" 2>/dev/null; then echo "FAIL: process $pid still runs"; exit 1; fi
done

# A port out of range is refused, not wrapped.
if "$top/scripts/pabx-sim" start "$work/run2" --scenario "$work/unit.ini" --store "$work/store" \
    --port 70000 2>/dev/null; then
  echo "FAIL: --port 70000 accepted"; exit 1
fi

# Any password survives the env file; a stale pid file naming someone else's
# process is never signalled.
export PABXSIM_FTP_PASSWORD="it's \$HOME \"q\""
"$top/scripts/pabx-sim" start "$work/run" --scenario "$work/unit.ini" --store "$work/store"
expected=$PABXSIM_FTP_PASSWORD
unset PABXSIM_FTP_PASSWORD
source "$work/run/env"
[[ "$PABXSIM_FTP_PASSWORD" == "$expected" ]] || { echo "FAIL: password changed in env: $PABXSIM_FTP_PASSWORD"; exit 1; }
"$top/scripts/pabx-sim" stop "$work/run"
sleep 300 &
foreign=$!
echo "$foreign" >"$work/run/pabx-sim.pid"
echo "$foreign" >"$work/run/ftp.pid"
"$top/scripts/pabx-sim" stop "$work/run"
if ! kill -0 "$foreign" 2>/dev/null; then echo "FAIL: a foreign process was signalled"; exit 1; fi
kill "$foreign"

# The FTP server's options pass through start: TLS required, no MLSD.
"$top/scripts/pabx-sim" start "$work/run" --scenario "$work/unit.ini" --store "$work/store" \
  --tls required --no-mlsd
source "$work/run/env"
/usr/bin/python3 - <<'PY'
import ftplib, os, ssl
host, port = os.environ["PABXSIM_HOST"], int(os.environ["PABXSIM_FTP_PORT"])
user, password = os.environ["PABXSIM_FTP_USER"], os.environ["PABXSIM_FTP_PASSWORD"]
plain = ftplib.FTP()
plain.connect(host, port, timeout=10)
try:
    plain.login(user, password)
    raise SystemExit("FAIL: a login without TLS was accepted")
except ftplib.error_perm:
    pass
ctx = ssl.create_default_context()
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
ftp = ftplib.FTP_TLS(context=ctx)
ftp.connect(host, port, timeout=10)
ftp.login(user, password)
ftp.prot_p()
assert [n.rsplit("/", 1)[-1] for n in ftp.nlst("/NORVIKA")] == ["AUDIOREC"]
try:
    list(ftp.mlsd("/NORVIKA"))
    raise SystemExit("FAIL: MLSD answered with --no-mlsd")
except ftplib.error_perm:
    pass
ftp.close()
PY
"$top/scripts/pabx-sim" stop "$work/run"
echo "PASS"
