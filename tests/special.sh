# Pipes, FIFOs, signals, inputs that change under the run, and sizes past 4 GiB.
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
head -c $((2 * blk + 100000)) /dev/urandom > rnd; mkfifo pf
# The stop is sent once the write is seen waiting in the kernel (an
# emulator's too), and the reader comes only after it.  The FIFO is held
# open read-write here, so that opening it blocks nobody.
desc() { local c; for c in $(cat /proc/"$1"/task/*/children 2> /dev/null); do echo "$c"; desc "$c"; done; }
# Waits, ten seconds at the most, for PID or a process under it (timeout's
# child) to wait on a full pipe.
waitw() {
  local i q
  for i in $(seq 1000); do
    for q in $1 $(desc $1); do [[ "$(cat /proc/$q/wchan 2> /dev/null)" == *pipe_write ]] && return; done
    sleep 0.01
  done
}
exec 3<> pf
"$bin" -i rnd -o pf & p=$!
waitw $p
kill -STOP $p; sleep 0.1; kill -CONT $p
timeout 20 head -c $((2 * blk + 100000)) <&3 > got; exec 3<&-
wait $p; ck "stopped and continued" "0" "$?"; sameconv got rnd
# The output is never read back: a pipe's reader leaving ends the run,
# and a FIFO waits for its reader, however late.
pipe() { timeout 20 bash -c "$1"' "$0" -i rnd -o /dev/stdout | head -c 10 > /dev/null; echo ${PIPESTATUS[0]}' "$bin"; }
ck "reader leaves" "141" "$(pipe '')"
ck "reader leaves, SIGPIPE ignored" "1" "$(pipe "trap '' PIPE;")"
# Only the message goes into a pipe whose reader left: the status tells
# the run's own failure.  (The FIFO is opened for reading just long enough
# to open it for writing.)
mkfifo gone; exec 3<> gone 4> gone 3<&-
ck "message into a pipe whose reader left" "1 1" "$(timeout 60 "$bin" -i nope -o x >&4; echo "$? $(timeout 60 "$bin" >&4; echo $?)")"
exec 4>&-
mkfifo lf; timeout 20 "$bin" -i s -o lf & p=$!
sleep 0.3; ck "late fifo reader" "x	y" "$(timeout 10 cat lf)"; wait $p; ck "late fifo reader, status" "0" "$?"
ck "fifo never read" "124" "$(timeout 0.5 "$bin" -i s -o lf; echo $?)"
# The input changed while the run waits to write its first block into a
# FIFO that nobody reads yet: what was read goes out, then whatever the
# file holds from there on, as with tr.
# meddle CHANGE CMD...: runs CMD, reading ci (a copy of rnd) into the FIFO
# fo; once CMD waits on the FIFO, runs CHANGE and drains the FIFO into co.
# Prints CMD's status.
meddle() {
  local chg=$1 p q s; shift
  cp rnd ci; rm -f co fo; mkfifo fo; exec 3<> fo
  "$@" & p=$!
  waitw $p
  eval "$chg"
  timeout 20 cat fo > co 3<&- & q=$!
  exec 3<&-
  wait $p; s=$?; wait $q; echo $s
}
trio() { LC_ALL=C timeout 60 tr '[' '\t' < ci > fo; }
for n in 100000 $((blk + 262108)); do   # cut within what was read, and past it
  ck "cut to $n: tr's status" "0" "$(meddle "truncate -s $n ci" trio)"
  ck "cut to $n: status" "0" "$(meddle "truncate -s $n ci" timeout 60 "$bin" -i ci -o fo)"
  prefconv co rnd
  ck "cut to $n: all that was left" "1" "$(($(stat -c %s co) >= n))"
done
grow="head -c 300000 /dev/urandom >> ci"
ck "grown meanwhile: status" "0" "$(meddle "$grow" timeout 60 "$bin" -i ci -o fo)"; sameconv co ci
ck "past 4 GiB" "x	y" "$({ head -c 4G /dev/zero; cat s; } | timeout 300 "$bin" -i /dev/stdin -o /dev/stdout |
  { dd bs=64K count=65536 iflag=fullblock of=/dev/null 2> /dev/null; cat; })"
# Offsets past 4 GiB, which a 32-bit build must carry in 64 bits: read on
# from just under the mark in a sparse file, and written on from there,
# space reserved and given back where the writes go.
g=4294967296
truncate -s $((g + 3000000)) sp
printf 'x[below' | dd of=sp bs=1 seek=$((g - 7)) conv=notrunc status=none
dd if=rnd of=sp seek=$g oflag=seek_bytes conv=notrunc status=none
tail -c +$((g - 999)) sp > tail4
ck "read on past 4 GiB" "0" "$( { dd skip=$((g - 1000)) iflag=skip_bytes count=0 status=none; toolf /dev/stdin o4; } < sp; echo $?)"
sameconv o4 tail4
# (bash loses the 1 of 1<> inside $(...))
{ dd seek=$((g - 1000)) oflag=seek_bytes count=0 status=none; toolf tail4 /dev/stdout; } 1<> w4
ck "written on past 4 GiB" "0" "$?"
ck "written on past 4 GiB: size" "$(stat -c %s sp)" "$(stat -c %s w4)"
tail -c +$((g - 999)) w4 > w4tail; sameconv w4tail tail4
{ dd seek=$((g - 1000)) oflag=seek_bytes count=0 status=none; conv tail4; } 1<> w4ref
ck "written on past 4 GiB: blocks only where the data is" "$(stat -c %b w4ref)" "$(stat -c %b w4)"
