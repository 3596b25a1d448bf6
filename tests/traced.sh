# What only a trace shows or an injected fault provokes: the reservation of
# the output's space, and reads and writes that give less than asked.
need strace
head -c $((2 * blk + 100000)) /dev/urandom | tr '\000-\077' '[' > big
# The output's space is reserved for a large regular input, and only then.
resv() { rm -f "$2"; st -o tr -e trace=fallocate,ftruncate "$bin" -i "$1" -o "$2" && grep -c -E "$3" tr; }
head -c $blk big > onebuf; head -c $((blk + 1)) big > overbuf
ck "space reserved for a large input" "1" "$(resv big big.o '^fallocate\(.*\) = 0$')"
ck "space reserved one byte over the buffer" "1" "$(resv overbuf over.o "^fallocate\\(.*, 0, $((blk + 1))\\) = 0$")"
ck "none given back after a whole copy" "0" "$(resv big big.o '^ftruncate')"
ck "no reservation for one buffer's worth" "0" "$(resv onebuf one.o '^fallocate')"
{ head -c 100000 > /dev/null; st -o tr -e trace=fallocate "$bin" -i /dev/stdin -o rest; } < big
ck "reservation sized by what is left" "1" "$(grep -c "fallocate(.*, 0, $((2 * blk))) = 0" tr)"
# The input's size said more than its reads gave.
st -o /dev/null -P big -e trace=read -e inject=read:retval=0:when=2 "$bin" -i big -o short
ck "shorter input" "1" "$(($(stat -c %s short) < $(stat -c %s big)))"; sameblks short
# Linux never has write return 0 for a nonzero count, but were it to, the
# run must end and say so rather than try again for ever.
ck "write that writes nothing" "1|write fail:w0" "$(runc st -o /dev/null -e inject=write:retval=0:when=1 "$bin" -i big -o w0)"
# ... also when an interrupted read left EINTR in errno.
: > w1; ck "write that writes nothing after EINTR" "1|write fail:w1" "$(runc st -o /dev/null -P big -P w1 -e trace=read,write \
  -e inject=read:error=EINTR:when=1 -e inject=write:retval=0:when=1 "$bin" -i big -o w1)"
