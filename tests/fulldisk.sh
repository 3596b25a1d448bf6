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
# most a window past its end.  strace, the tool's parent, is stopped too,
# rather than left to sit out its delay.
killed() {
  hold read 4 30000000 'kill -KILL $hp $hs' -P in64 "$bin" -i in64 -o "$1/k" > /dev/null
  ck "$1: killed mid-copy" "$((3 * blk))" "$(stat -c %s "$1/k")"; prefconv "$1/k" in64
  ck "$1: a killed run leaves at most a window past its end" "1" \
    "$(($(stat -c %b "$1/k") * 512 - $(stat -c %s "$1/k") <= win))"
}
if loopfs x 300M rw mkfs.xfs -q -f; then
  killed x
  # Nothing is reserved on xfs, which would mark the output preallocated
  # for good and keep what it lays out past the end of later growth: here
  # an input grown mid-run, written back before the end.
  cp in64 x/in; hold read 4 3000000 'head -c 5M /dev/urandom >> x/in; sync -f x' -P x/in "$bin" -i x/in -o x/g > /dev/null
  sameconv x/g x/in; sameblks x/g
  ck "xfs: not marked preallocated" "" "$(xfs_io -r -c lsattr x/g | cut -c 2 | tr -d -)"
fi
loopfs e 200M rw mkfs.ext4 -q -F || return
killed e
# What a killed run left is given back by the next run into that file.
: > e/h && fallocate -n -l 16M e/h
ck "ext4: blocks past an empty output's end" "0|" "$(run -i rnd -o e/h)"; sameblks e/h
rm -f e/k e/h
# A new output by name is reserved, and holds no block past its end.
st -o tr -e trace=fallocate "$bin" -i in64 -o e/n
ck "ext4: reserved a window at a time" "16" "$(grep -c '^fallocate(.*) = 0$' tr)"; sameconv e/n in64; sameblks e/n
rm e/n
# A descriptor the caller hands over may be shared, or hold more than the
# run writes: nothing is reserved there, so a file-size limit leaves no
# block past the end, and another writer's line stays, appended mid-run or
# where a give-back would have cut.
lim=(bash -c 'ulimit -f 5120; exec "$0" -i in64 -o /dev/stdout >> e/sh' "$bin")
echo earlier > e/sh; hold read 4 3000000 'echo =other= >> e/sh' -P in64 "${lim[@]}" > /dev/null
ck "ext4: >> shared mid-run, stopped by a limit" "5242880 1" "$(stat -c %s e/sh) $(grep -c =other= e/sh)"; sameblks e/sh
echo earlier > e/sh; hold ftruncate 1 3000000 'echo =other= >> e/sh' "${lim[@]}" > /dev/null
ck "ext4: >> shared, a line appended after the limit" "=other=" "$(tail -c 8 e/sh)"; sameblks e/sh
head -c 3M /dev/zero > e/sh; bash -c 'ulimit -f 2048; exec "$0" -i in64 -o /dev/stdout 1<> e/sh' "$bin"
ck "ext4: 1<> over a longer file, stopped by a limit" "3145728" "$(stat -c %s e/sh)"; sameblks e/sh
rm e/sh
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
