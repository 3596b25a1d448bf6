# Descriptor names (/dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N) in the
# shell forms people write, each against tr in the same form, and what is
# refused with nothing touched.
printf 'a[1\n' > a; printf 'b[2\n' > b; printf 'c[3\n' > c
printf 'hdr[0\nx[y\nz[\n' > lines
head -c $((blk + 300000)) /dev/urandom | tr '\000-\077' '[' > big   # more than one block
printf 'old content, longer than a%0400d\n' 0 > long
echo earlier > pre
{ echo header; cat big; } > hbig
mkdir seed && cp a b c lines big hbig long pre seed/
like "a loop into one redirection" 'for f in a b c big; do F $f /dev/stdout; done > all' all
like "appended with >>" 'F big /dev/stdout >> pre' pre
like "a brace group" '{ echo head; F a /dev/stdout; echo tail; } > g' g
like "exec 3>> between the shell's writes" 'exec 3>> pre; echo one >&3; F big /dev/fd/3; echo two >&3' pre
like "standard error appended" 'F a /dev/stderr 2>> pre' pre
like "standard input after a header line" '{ read -r h; F /dev/stdin body; } < lines' body
# Read on from where the caller stands, and leave the offset at the end
# for what the caller reads next.
like "/dev/stdin after a header" '{ read -r h; F /dev/stdin body; cat > after; } < hbig' body after
like "/dev/fd/3 after a header" 'exec 3< hbig; read -r h <&3; F /dev/fd/3 body; cat <&3 > after' body after
like "written in place over longer content" 'F a /dev/stdout 1<> long' long
like "a large input in place" 'F big /dev/stdout 1<> long' long
# Parallel runs into one file each put their one block in whole; the order
# varies.
for i in $(seq 40); do printf 'file %d [%d\n' $i $i > x$i; done
ls x* | xargs -P4 -I{} sh -c "timeout 60 '$bin'"' -i {} -o /dev/stdout' > pall
cat x* | LC_ALL=C tr '[' '\t' > pref
ck "xargs -P into one file" "$(stat -c %s pref)" "$(stat -c %s pall)"
ck "xargs -P into one file: its bytes" "$(LC_ALL=C sort pref | md5sum)" "$(LC_ALL=C sort pall | md5sum)"

# Refused, and nothing touched.
echo read-only > ro; mkdir d; touch -d 2001-02-03 ro a pre
untouched() { # untouched WHAT FILE BEFORE
  ck "$1: $2 untouched" "$3" "$(snap "$2")"
}
ro0=$(snap ro) a0=$(snap a) pre0=$(snap pre)
ck "output descriptor open for reading only" "1|open fail:a:/dev/fd/3" "$(run -i a -o /dev/fd/3 3< ro)"
untouched "read-only output descriptor" ro "$ro0"
ck "input descriptor open for writing only" "1|open fail:/dev/fd/3:x" "$(run -i /dev/fd/3 -o x 3>> pre)"
untouched "write-only input descriptor" pre "$pre0"
ck "output descriptor a directory" "1|open fail:a:/dev/fd/3" "$(run -i a -o /dev/fd/3 3< d)"
ck "a descriptor not open" "1|open fail:a:/dev/fd/7" "$(run -i a -o /dev/fd/7)"
# Read on after the shell's read of a header, which a fresh open would not.
tail -n +2 lines > body
for n in 0 9 10 12; do
  ( eval "exec $n< lines" && read -r h <&$n && timeout 60 "$bin" -i /dev/fd/$n -o y$n )
  ck "/dev/fd/$n" "0" "$?"; sameconv y$n body
done
# Past INT_MAX is a path, whatever the width of long: 4294967297 is 1 in
# 32 bits, 4294967298 is 2.
for n in 2147483647 2147483648 4294967297 4294967298 99999999999999999999 1x; do
  n=/dev/fd/$n
  ck "$n is a path" "1|open fail:a:$n" "$(run -i a -o $n)"
done
# The copies take the lowest numbers past 2: five descriptors in all are
# enough for both.  (The emulator's wrapper script needs more itself.)
if [ ${#emu[@]} == 0 ]; then
  (ulimit -n 5; timeout 60 "$bin" -i /dev/stdin -o /dev/stdout < a > y5 3<&- 4<&-)
  ck "five descriptors allowed" "0" "$?"; sameconv y5 a
fi
# Names that only look like descriptor names are paths, here missing ones.
for n in /dev/fd/01 /dev/fd/00 /dev/fd/ /dev/fd/0x /dev/fd/1x /dev/fdx0 /dev/stdinx /dev/fd/99999999999; do
  ck "$n is a path" "1|open fail:$n:x" "$(run -i $n -o x < a)"
done
# ... on the output side too, where a descriptor taken for one would be
# standard output.
for n in /dev/fd/01 /dev/fd/; do
  ck "$n is a path for the output" "1|open fail:a:$n" "$(run -i a -o $n)"
done
# The output is the input by another route: no message either, since
# standard output is the input itself.
ck "-o /dev/stdout >> the input" "1" "$(timeout 60 "$bin" -i a -o /dev/stdout >> a; echo $?)"
ck "stdin and stdout the same file" "1" "$(timeout 60 "$bin" -i /dev/stdin -o /dev/stdout < a >> a; echo $?)"
# (bash loses the 1 of 1<> inside $(...))
timeout 60 "$bin" -i a -o /dev/stdout 1<> a; ck "-o /dev/stdout 1<> the input" "1" "$?"
timeout 60 "$bin" -i a -o a 1<> a; ck "-o the input 1<> the input" "1" "$?"
untouched "refused as the input" a "$a0"
ck "no file created" "" "$(ls x 2>&1 | grep -v 'No such')"
# Closed standard descriptors: refused at once, never read back or waited on.
ck "stdout closed, input a file" "1" "$(timeout 10 "$bin" -i a -o /dev/stdout >&-; echo $?)"
ck "stdout closed, input a pipe" "1" "$(printf 'a[b' | timeout 10 "$bin" -i /dev/stdin -o /dev/stdout >&-; echo $?)"
# (inside $(...), bash would give the closed 0 to its own pipe)
timeout 10 "$bin" -i /dev/stdin -o new <&- > msg; ck "stdin closed" "1|open fail:/dev/stdin:new" "$?|$(cat msg)"
ck "stdin closed: nothing created" "absent" "$(snap new)"
# With standard input closed, the input opened by path takes descriptor 0;
# when the output then fails, no message goes into it through >>.
timeout 10 "$bin" -i a -o d <&- >> a; ck "input on descriptor 0, output refused" "1" "$?"
untouched "input on descriptor 0" a "$a0"
# With standard input closed, the output opened by path takes descriptor 0
# and is still checked and emptied.
cp long long2; timeout 60 "$bin" -i /dev/fd/3 -o long2 3< a <&-; ck "output on descriptor 0" "0" "$?"; sameconv long2 a
# Too few arguments onto a file with content: the message goes after it.
cp long p; timeout 60 "$bin" -i p 1<> p
ck "pram argc after the content" "" "$( { cat long; echo 'pram argc:3'; } | cmp - p 2>&1)"

# A large input appended onto content: exact, and no block held past the
# end, also when a file-size limit stops it.
head -c 3000000 /dev/urandom > in3; echo earlier > log
ck ">> with 3 MB" "0" "$(timeout 60 "$bin" -i in3 -o /dev/stdout >> log; echo $?)"
ck ">> with 3 MB: bytes" "" "$( { echo earlier; conv in3; } | cmp - log 2>&1)"; sameblks log
echo earlier > log
ck ">> past a file-size limit" "1" "$( (ulimit -f 1000; timeout 60 "$bin" -i in3 -o /dev/stdout >> log); echo $?)"
ck ">> past a file-size limit: a prefix kept" "" "$( { echo earlier; conv in3; } | cmp -n "$(stat -c %s log)" - log 2>&1)"
ck ">> past a file-size limit: data written" "1" "$(($(stat -c %s log) > 500000))"; sameblks log
echo earlier > log
ck "write fail message after the data" "1" "$( (ulimit -f 1000; timeout 60 "$bin" -i in3 -o /dev/fd/3 3>> log >> wmsg); echo $?)"
ck "write fail message" "write fail:/dev/fd/3" "$(cat wmsg)"
# The reservation starts where the writes go: exactly the blocks of the
# data, not one more.
head -c $((blk + 100000)) /dev/urandom > m1
run -i m1 -o mo > /dev/null; sameblks mo
echo earlier > log; timeout 60 "$bin" -i m1 -o /dev/stdout >> log; sameblks log
# Read from the caller's offset, the reservation sized by what is left.
{ head -c 100000 > /dev/null; timeout 60 "$bin" -i /dev/stdin -o rest; } < in3
ck "input read from the caller's offset" "" "$(tail -c +100001 in3 | LC_ALL=C tr '[' '\t' | cmp - rest 2>&1)"
sameblks rest
