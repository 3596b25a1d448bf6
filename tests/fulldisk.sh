# File systems of their own: a tmpfs smaller than the input, then ext4,
# xfs and btrfs on loop devices, where the output's blocks are reserved
# ahead of the writes or must not be: nothing reserved may outlive a run.
needroot "mounting file systems"
head -c 1000000 /dev/urandom | tr '\000-\077' '[' > rnd
mkdir m && mount -t tmpfs -o size=1536k tmpfs m || skipall "cannot mount a tmpfs here"
undo umount -l "$t/m"
ck "onto tmpfs" "0|" "$(run -i rnd -o m/x)"; sameconv m/x rnd
if command -v strace > /dev/null; then
  # A tmpfs has no blocks to lay out: reserving was measured slower there.
  st -o tr -e trace=fallocate "$bin" -i rnd -o m/x
  ck "no reservation on tmpfs" "0" "$(grep -c '^fallocate' tr)"; sameconv m/x rnd
else
  echo "SKIP no reservation on tmpfs: strace is missing"
fi
ck "full disk" "1|write fail:m/y" "$(run -i rnd -o m/y)"
prefconv m/y rnd
rm -f m/y
ck "full disk behind stdout" "1" "$(timeout 60 "$bin" -i rnd -o /dev/stdout > m/f; echo $?)"
prefconv m/f rnd      # data kept, no message over it

head -c 48M /dev/urandom | base64 -w 76 | tr '+' '[' > in64; truncate -s 64M in64
need strace losetup
# killed DIR: the tool from in64 into DIR/k, killed by SIGKILL while its
# fourth read is held back, after three blocks; checks that it holds at
# most a window past its end.
killed() {
  rm -f kill.tr.*
  # A trace file for each process, named after it: the one that reads.
  st -ff -o kill.tr -P in64 -e trace=read -e inject=read:delay_enter=30000000:when=4 "$bin" -i in64 -o "$1/k" 2> /dev/null &
  local p=$! k f
  for ((k = 0; k < 600; k++)); do
    f=$(grep -l '^read' kill.tr.* 2> /dev/null | head -n 1)
    [ -n "$f" ] && [ "$(grep -c '^read' "$f")" -ge 4 ] && break; sleep 0.1
  done
  # strace, the tool's parent, is stopped too, rather than left to sit
  # out its delay.
  local s; s=$(awk '/^PPid:/ { print $2 }' "/proc/${f##*.}/status")
  kill -KILL "${f##*.}" "$s"; wait $p
  ck "$1: killed mid-copy" "$((3 * blk))" "$(stat -c %s "$1/k")"; prefconv "$1/k" in64
  ck "$1: a killed run leaves at most a window past its end" "1" \
    "$(($(stat -c %b "$1/k") * 512 - $(stat -c %s "$1/k") <= win))"
}
loopfs x 300M rw mkfs.xfs -q -f && killed x
loopfs e 100M rw mkfs.ext4 -q -F || return
killed e
# What a killed run left is given back by the next run into that file.
: > e/h && fallocate -n -l 16M e/h
ck "ext4: blocks past an empty output's end" "0|" "$(run -i rnd -o e/h)"; sameblks e/h
rm -f e/k e/h
# Nearly full: room for 10 MiB of a 64 MiB input.  A run stopped by a
# file-size limit, and one whose input gave less than its size said, hold
# no more than their output, and removing it frees all.
fallocate -l $(($(fsfree e) - 10 * 1024 * 1024)) e/fill; f0=$(fsfree e)
ck "ext4 nearly full: size limit" "1|write fail:e/y" "$(ulimit -f 5120; run -i in64 -o e/y)"
ck "ext4 nearly full: size limit, free space" "$((f0 - $(stat -c %b e/y) * 512))" "$(fsfree e)"
prefconv e/y in64; rm e/y
ck "ext4 nearly full: shorter input" "0|" "$(runc st -o /dev/null -P in64 -e trace=read -e inject=read:retval=0:when=6 "$bin" -i in64 -o e/y)"
ck "ext4 nearly full: shorter input, free space" "$((f0 - $(stat -c %b e/y) * 512))" "$(fsfree e)"
prefconv e/y in64; rm e/y
ck "ext4 nearly full: all back once removed" "$f0" "$(fsfree e)"
# btrfs writes reserved extents in place, without its compression.
if loopfs b 256M compress=zstd mkfs.btrfs -q -f; then
  f0=$(fsfree b); reff in64 b/t; f1=$(fsfree b); rm b/t; sync -f b
  ck "btrfs compressed: status" "0|" "$(run -i in64 -o b/s)"
  ck "btrfs compressed: no more room than tr's" "1" "$((f1 - $(fsfree b) <= f0 - f1))"
  sameconv b/s in64
fi
