# What only a trace shows or an injected fault provokes: the reservation of
# the output's space, and reads and writes that give less than asked.
need strace
head -c $((2 * blk + 100000)) /dev/urandom | tr '\000-\077' '[' > big
# The output's space is reserved for a large regular input, and only then,
# a window at a time ahead of the writes, on the file systems where that
# pays.
resv() { rm -f "$2"; st -o tr -e trace=fallocate,ftruncate "$bin" -i "$1" -o "$2" && grep -c -E "$3" tr; }
case $(stat -f -c %T .) in
  ext2/ext3)
    head -c $blk big > onebuf; head -c $((blk + 1)) big > overbuf
    ck "space reserved for a large input" "1" "$(resv big big.o '^fallocate\(.*\) = 0$')"
    ck "space reserved one byte over the buffer" "1" "$(resv overbuf over.o "^fallocate\\(.*, 0, $((blk + 1))\\) = 0$")"
    ck "none given back after a whole copy" "0" "$(resv big big.o '^ftruncate')"
    # A give-back refused (a file system shut down) fails the output.
    : > gb; ck "give-back refused" "1|write fail:gb" "$(runc st -o /dev/null -P big -P gb -e trace=read,ftruncate \
      -e inject=read:retval=0:when=2 -e inject=ftruncate:error=EIO "$bin" -i big -o gb)"
    ck "nothing reserved or given back for one buffer's worth" "0" "$(resv onebuf one.o '^f(allocate|truncate)')"
    { head -c 100000 > /dev/null; st -o tr -e trace=fallocate "$bin" -i /dev/stdin -o rest; } < big
    ck "reservation sized by what is left" "1" "$(grep -c "fallocate(.*, 0, $((2 * blk))) = 0" tr)"
    { head -c $((blk + 100)) /dev/zero; head -c 100000 big; } > left1
    { head -c 100100 > /dev/null; st -o tr -e trace=fallocate "$bin" -i /dev/stdin -o rest; } < left1
    ck "no reservation for one buffer's worth left" "0" "$(grep -c '^fallocate' tr)"
    if [ "$(id -u)" == 0 ] && mknod nul c 1 3; then
      st -o tr -e trace=fallocate "$bin" -i big -o nul
      ck "no reservation for a device" "0" "$(grep -c '^fallocate' tr)"
    fi
    { head -c $((2 * win)) /dev/zero; echo; } > wins
    resv wins wins.o . > /dev/null
    ck "a window at a time, the last of one byte" "0 $win|$win $win|$((2 * win)) 1|" \
      "$(sed -n 's/^fallocate(.*, \([0-9]*\), \([0-9]*\)) = 0$/\1 \2/p' tr | tr '\n' '|')"
    ;;
  *) echo "SKIP the reservation: the scratch folder is on $(stat -f -c %T .), where none is made" ;;
esac
# The input's size said more than its reads gave.
st -o /dev/null -P big -e trace=read -e inject=read:retval=0:when=2 "$bin" -i big -o short
ck "shorter input" "1" "$(($(stat -c %s short) < $(stat -c %s big)))"; sameblks short
# Linux never has write return 0 for a nonzero count, but were it to, the
# run must end and say so rather than try again for ever.
ck "write that writes nothing" "1|write fail:w0" "$(runc st -o /dev/null -e inject=write:retval=0:when=1 "$bin" -i big -o w0)"
# ... also when an interrupted read left EINTR in errno.
: > w1; ck "write that writes nothing after EINTR" "1|write fail:w1" "$(runc st -o /dev/null -P big -P w1 -e trace=read,write \
  -e inject=read:error=EINTR:when=1 -e inject=write:retval=0:when=1 "$bin" -i big -o w1)"
# held OUT CHANGE: the tool from big into OUT with OUT's first open held
# back until CHANGE: the name changes hands between the tool's look and its
# open.
held() { hold openat 1 2000000 "$2" -P "$1" "$bin" -i big -o "$1"; }
cp big big0; : > o1; mkfifo o3
# Of all that may take a vanished FIFO's place, only the empty file of
# mode 0 that the tool itself made is removed.
ck "a file that became a FIFO" "1|open fail:big:o1" "$(held o1 'rm o1; mkfifo -m 0 o1')"
ck "a file that became a FIFO: left" "p" "$(stat -c %A o1 | cut -c1)"
other=; [ "$(id -u)" == 0 ] && other=': > o2; chmod 0 o2; chown 65534 o2'
for c in 'echo keep > o2' ': > o2' ': > o2; chmod 1000 o2' 'echo keep > o2; chmod 0 o2' ${other:+"$other"}; do
  rm -f o2; mkfifo o2; was=$(held o2 "rm o2; $c; snap o2 > o2.was")
  ck "a FIFO that became a file ($c)" "1|open fail:big:o2" "$was"
  ck "a FIFO that became a file ($c): left as it was" "$(cat o2.was)" "$(snap o2)"
done
ck "a FIFO that vanished" "1|open fail:big:o3" "$(held o3 'rm o3')"
ck "a FIFO that vanished: nothing made in its place" "absent" "$(snap o3)"
ck "an absent name that became a link to the input" "1|open fail:big:o4" "$(held o4 'ln big o4')"
ck "the input left as it was" "" "$(cmp big big0 2>&1)"
