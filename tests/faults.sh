# Every call the tool makes on its two files, failed in turn at each of its
# occurrences in a clean run: for a new, an existing and an empty existing
# output named by path, and an output that the shell opened for appending
# and handed over as /dev/fd/3.  The calls come from a trace of all of
# them, on whatever architecture and C library this is, so the table follows
# the code; a call that the table below cannot judge fails the group.
need strace
# Read in several blocks, large enough to have its output's space reserved.
head -c $((2 * blk + 100000)) /dev/urandom | tr '\000-\077' '[' > in
prep() { rm -f out; [ $1 == new ] || { head -c $2 in > out; touch -d 2001-02-03 out; }; }
# runo KIND CMD...: CMD with the output named as KIND names it.
runo() { if [ $1 == fd ]; then "${@:2}" -i in -o /dev/fd/3 3>> out; else "${@:2}" -i in -o out; fi; }
ncase=0
for k in new:0 old:5000 empty:0 fd:5000; do
  kind=${k%:*} onm=out; [ $kind == fd ] && onm=/dev/fd/3
  # What the output must hold after a whole copy: an appended one keeps
  # what it had.
  { [ $kind == fd ] && head -c ${k#*:} in; conv in; } > exp
  exact() { ck "$1: exact output" "" "$(cmp exp out 2>&1)"; }
  prefix() { ck "$1: output a prefix" "" "$(cmp -n "$(stat -c %s out)" exp out 2>&1)"; }
  prep $kind ${k#*:}
  runo $kind st -y -s 0 -o clean "$bin"; exact "$kind output, clean run"
  # NAME NTH PHASE LINE for each call of ours, NTH counting every call of
  # NAME (a sanitizer's runtime or an emulator makes some too); the phase
  # turns from open to copy at the first seek, statfs or read, when both
  # files are open.
  awk -F'(' '{ n[$1]++ } /("|\/)(in|out)("|>)/ {
    if ($1 ~ /^(_?l?lseek|fstatfs(64)?|read)$/) ph = "copy"; print $1, n[$1], ph ? ph : "open", $0 }' clean > ours
  while read -r sc nth ph line; do
    case $sc:$ph:$line in
      read:copy:*) want="read fail:in" ;;
      write:copy:* | close:copy:*/out\>*) want="write fail:$onm" ;;
      close:copy:* | *l*seek*:copy:* | fstatfs*:copy:* | fcntl*:copy:* | fallocate:copy:* | *stat*:copy:* | ftruncate*:copy:*)
        want= ;;   # the data is not at stake: the input's close, the reservation
      openat:open:* | open:open:* | *stat*:open:* | fcntl*:open:* | ftruncate*:open:* | utimensat*:open:*)
        want="open fail:in:$onm" ;;
      *) ck "a call the table does not cover" "" "$line"; continue ;;
    esac
    for e in EIO ENOSPC EDQUOT EFBIG EACCES EINTR; do
      w=$want; [ $e == EINTR ] && [ "$sc" == read -o "$sc" == write ] && w=
      prep $kind ${k#*:}; was=$(snap out)
      got=$(runc runo $kind st -o /dev/null -e trace=$sc -e inject=$sc:error=$e:when=$nth "$bin")
      what="$kind output, $e on $line"; ncase=$((ncase + 1))
      if [ -z "$w" ]; then
        ck "$what" "0|" "$got"; exact "$what"
      else
        ck "$what" "1|$w" "$got"
        case $w in
          open*) ck "$what: output as it was" "$was" "$(snap out)" ;;
          *) prefix "$what" ;;
        esac
      fi
    done
  done < ours
done
echo "faults: $ncase injected"
# Not closing the output at all would drop it from the table above.
prep old 5000
ck "the output's close is checked" "1|write fail:out" \
  "$(runc st -o /dev/null -P out -e trace=close -e inject=close:error=EIO:when=1 "$bin" -i in -o out)"
