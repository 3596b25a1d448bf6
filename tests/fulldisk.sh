# A file system that fills up: a tmpfs of its own, smaller than the input.
needroot "mounting a tmpfs"
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
