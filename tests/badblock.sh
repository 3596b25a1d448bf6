# A block of the input that the disk cannot read: an ext4 image on a loop
# device, its backing file cut short under the middle of the input.  The
# run must end at once with the error, not wait on the block for ever.
needroot "setting up a loop device"
need losetup mkfs.ext4 filefrag
loopfs m 32M rw mkfs.ext4 -q -F -b 4096 -O ^has_journal || exit 77
head -c 8M /dev/urandom | tr '\000-\077' '[' > f0
cp f0 m/f && sync
# The physical block under the file's middle (4 MiB in), and nothing of
# the image from there on.
bad=$(filefrag -v -b4096 m/f | awk -F'[: .]+' '$2 ~ /^[0-9]+$/ && $3 <= 1024 && 1024 <= $4 { print $5 + 1024 - $3 }')
# Read-only before the cut, so that nothing is written past it; the file's
# pages are then dropped from the cache, so that reading goes to the disk.
# (Not unmounted and mounted again: a test running beside this one may
# hold a copy of the mount in a namespace of its own.)
[ -n "$bad" ] && mount -o remount,ro m && truncate -s $((bad * 4096)) m.img &&
  dd if=m/f iflag=nocache count=0 status=none ||
  { ck "the image cut under the input" "" "cannot cut it or drop its cache"; return; }
ck "unreadable block" "1|read fail:m/f" "$(run -i m/f -o out)"
prefconv out f0
ck "stopped no later than the bad block" "1" "$(($(stat -c %s out) <= 4194304))"
