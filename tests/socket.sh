# A socket both ways, as a socket-activated service has.
need python3
sock() {
  python3 - "$@" <<'EOP'
import socket, subprocess, sys
a, b = socket.socketpair()
a.sendall(b'x[y[z' * 1000); a.shutdown(socket.SHUT_WR)
p = subprocess.run(sys.argv[1:], stdin=b, stdout=b, timeout=60)
b.close(); out = b''
while d := a.recv(65536):
    out += d
print(p.returncode, len(out), out.count(b'\t'), out.count(b'['))
EOP
}
ck "a socket both ways: tr" "0 5000 2000 0" "$(sock tr '[' '\t')"
ck "a socket both ways" "0 5000 2000 0" "$(sock "$bin" -i /dev/stdin -o /dev/stdout)"
