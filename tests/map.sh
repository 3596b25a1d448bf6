# Regular inputs of over a megabyte are read through a map of the page
# cache: the same bytes and outcomes as read() gives, whatever happens to
# the input meanwhile.
# Every byte value at every offset of a 64-byte vector (a period of 257),
# brackets on both sides of the first window's end, a size no multiple of
# a page.
python3 -c 'import sys
w = 4 << 20
b = bytearray((bytes(range(256)) + b"[") * ((w + 70000) // 257))
b[w - 1] = b[w] = ord("[")
sys.stdout.buffer.write(b)' > pat
ck "across windows" "0|" "$(run -i pat -o out)"; sameconv out pat
# Read on from where the caller stands, from no page boundary, and leave
# the offset where read() would: at the end.
mkdir seed; { echo header; cat pat; } > seed/hp
# mapped NAME IN: how many windows of the file NAME a run on IN maps.
mapped() { st -y -o tr -e 'trace=/^mmap2?$' "$bin" -i "$2" -o out; grep -c "/$1>, [0-9a-fx]*) = 0x" tr; }
head -c 1048577 pat > m1; for k in $(seq 10); do cat pat; done > p10
# Not on tmpfs, where the map was measured slower.
if [ "$(stat -f -c %T .)" == tmpfs ]; then
  echo "SKIP the map: the scratch folder is on tmpfs, whose inputs are read"
else
  ck "mapped window by window" "11" "$(mapped p10 p10)"
  ck "a megabyte and a byte: mapped" "1" "$(mapped m1 m1)"; sameconv out m1   # its last block is one byte
  ck "a megabyte left: read" "0" "$({ head -c $(($(stat -c %s pat) - 1048576)) > /dev/null; mapped pat /dev/stdin; } < pat)"
  ck "mapped from the caller's offset" "2" "$({ read -r h; mapped hp /dev/stdin; } < seed/hp)"
fi
if mkdir tf && mount -t tmpfs -o size=8m tmpfs tf 2> /dev/null; then
  cp pat tf/pat; ck "not mapped on tmpfs" "0" "$(mapped pat tf/pat)"; sameconv out pat
  umount tf
else
  echo "SKIP no map on tmpfs: cannot mount a tmpfs here (needs root)"
fi
ck "a file whose size says 0" "0|" "$(run -i /proc/version -o out)"; sameconv out /proc/version
like "/dev/stdin after a header" '{ read -r h; F /dev/stdin body; cat > after; } < hp' body after
like "/dev/fd/3 after a header" 'exec 3< hp; read -r h <&3; F /dev/fd/3 body; cat <&3 > after' body after

# The input changed while the run waits to write its first block into a
# FIFO that nobody reads yet.
desc() { local c; for c in $(pgrep -P "$1"); do echo "$c"; desc "$c"; done; }
# meddle CHANGE CMD...: runs CMD, reading ci (a copy of pat) into the FIFO
# fo; once CMD waits on the FIFO, runs CHANGE and drains it into co.
# Prints CMD's status.
meddle() {
  local chg=$1 p q s i; shift
  cp pat ci; rm -f co fo; mkfifo fo; exec 3<> fo
  "$@" & p=$!
  for i in $(seq 1000); do
    for q in $p $(desc $p); do [[ "$(cat /proc/$q/wchan 2> /dev/null)" == *pipe_write ]] && break 2; done
    sleep 0.01
  done
  eval "$chg"
  timeout 20 cat fo > co 3<&- & q=$!
  exec 3<&-
  wait $p; s=$?; wait $q; echo $s
}
trio() { LC_ALL=C timeout 60 tr '[' '\t' < ci > fo; }
# The map failed: what read() alone gives.
readonly=(st -o /dev/null -P ci -e 'trace=/^mmap2?$' -e 'inject=/^mmap2?$:error=ENODEV')
for n in 100000 524188; do   # cut within the first block; within the second's last page
  cut="truncate -s $n ci"
  ck "cut to $n as by read()" "$(meddle "$cut" "${readonly[@]}" "$bin" -i ci -o fo) $(md5sum < co)" \
    "$(meddle "$cut" timeout 60 "$bin" -i ci -o fo) $(md5sum < co)"
  prefconv co pat
  ck "cut to $n: tr's status" "0" "$(meddle "$cut" trio)"
done
ck "kill -BUS while waiting: as tr" "$(meddle 'kill -BUS $q' trio)" "$(meddle 'kill -BUS $q' "$bin" -i ci -o fo)"
grow="head -c 300000 /dev/urandom >> ci"
ck "grown meanwhile: status" "0" "$(meddle "$grow" timeout 60 "$bin" -i ci -o fo)"; sameconv co ci

# Memory stays at one window, however large the input.
rss() { python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$bin" -i "$1" -o out; }
head -c 4400000 pat > p1
ck "memory flat" "1" "$(($(rss p10) - $(rss p1) < 1024))"
