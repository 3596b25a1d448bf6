# Pipes, FIFOs, signals, the reservation of space and sizes past 4 GiB.
printf 'x[y' > s
ck "null device in, empty file out" "0|0" "$(run -i /dev/null -o out)$(stat -c %s out)"
ck "pipeline" "x	y" "$(cat s | timeout 60 "$bin" -i /dev/stdin -o /dev/stdout)"
mkfifo f
# The writer opens the FIFO under its time limit, so that a tool that never
# opens it cannot block the suite.
timeout 20 bash -c 'for i in $(seq 50); do printf "[%d" $i; sleep 0.01; done > f' &
ck "fifo" "0|" "$(run -i f -o fo)"; wait
ck "fifo in pieces" "$(for i in $(seq 50); do printf '\t%d' $i; done)" "$(cat fo)"
# A stop and continue cuts short a write that waits on a full pipe; the
# rest of the block must still go out.
head -c 1000000 /dev/urandom > rnd; mkfifo pf
# The stop is sent once the write is seen waiting in the kernel (an
# emulator's too), and the reader comes only after it.  The FIFO is held
# open read-write here, so that opening it blocks nobody.
exec 3<> pf
"$bin" -i rnd -o pf & p=$!
for i in $(seq 500); do [[ "$(cat /proc/$p/wchan 2> /dev/null)" == *pipe_write ]] && break; sleep 0.01; done
kill -STOP $p; sleep 0.1; kill -CONT $p
timeout 20 head -c 1000000 <&3 > got; exec 3<&-
wait $p; ck "stopped and continued" "0" "$?"; sameconv got rnd
# The output is never read back: a pipe's reader leaving ends the run,
# and a FIFO waits for its reader, however late.
pipe() { timeout 20 bash -c "$1"' "$0" -i rnd -o /dev/stdout | head -c 10 > /dev/null; echo ${PIPESTATUS[0]}' "$bin"; }
ck "reader leaves" "141" "$(pipe '')"
ck "reader leaves, SIGPIPE ignored" "1" "$(pipe "trap '' PIPE;")"
mkfifo lf; timeout 20 "$bin" -i s -o lf & p=$!
sleep 0.3; ck "late fifo reader" "x	y" "$(timeout 10 cat lf)"; wait $p; ck "late fifo reader, status" "0" "$?"
ck "fifo never read" "124" "$(timeout 0.5 "$bin" -i s -o lf; echo $?)"
# The output's space is reserved for a large regular input, and only then.
resv() { rm -f "$2"; st -o tr -e trace=fallocate,ftruncate "$bin" -i "$1" -o "$2" && grep -c -E "$3" tr; }
head -c 262144 rnd > onebuf; head -c 262145 rnd > overbuf
ck "space reserved for a large input" "1" "$(resv rnd big.o '^fallocate\(.*\) = 0$')"
ck "space reserved one byte over the buffer" "1" "$(resv overbuf over.o '^fallocate\(.*, 0, 262145\) = 0$')"
ck "none given back after a whole copy" "0" "$(resv rnd big.o '^ftruncate')"
ck "no reservation for one buffer's worth" "0" "$(resv onebuf one.o '^fallocate')"
if mkdir m && mount -t tmpfs -o size=1536k tmpfs m 2> /dev/null; then
  ck "onto tmpfs" "0|" "$(run -i rnd -o m/x)"; sameconv m/x rnd
  ck "no reservation on tmpfs" "0" "$(resv rnd m/x '^fallocate')"; sameconv m/x rnd
  ck "full disk behind stdout" "1" "$(timeout 60 "$bin" -i rnd -o /dev/stdout > m/f; echo $?)"
  prefconv m/f rnd      # data kept, no message over it
  umount m
else
  echo "SKIP full disk behind stdout: cannot mount a tmpfs here (needs root)"
fi
ck "past 4 GiB" "x	y" "$({ head -c 4G /dev/zero; cat s; } | timeout 300 "$bin" -i /dev/stdin -o /dev/stdout |
  { dd bs=64K count=65536 iflag=fullblock of=/dev/null 2> /dev/null; cat; })"
