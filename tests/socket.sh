# Descriptors that only a program can make: a socket both ways, as a
# socket-activated service has, and one opened for its path alone.
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
# A descriptor that names a file without opening it for reading.
ck "a path-only descriptor refused" "1|open fail:/dev/fd/3:o" "$(python3 - "$bin" <<'EOP'
import os, subprocess, sys
fd = os.open("/dev/null", os.O_PATH)
os.dup2(fd, 3, inheritable=True)
p = subprocess.run([sys.argv[1], "-i", "/dev/fd/3", "-o", "o"], pass_fds=(3,), stdout=subprocess.PIPE, timeout=60)
print(f"{p.returncode}|{p.stdout.decode()}", end="")
EOP
)"
ck "a path-only descriptor: nothing created" "absent" "$(snap o)"
