#!/usr/bin/env bash
# End-to-end tests, driving the built binary on real files in a scratch folder.
# Usage: tests/run.sh GROUP PATH   (PATH is the binary, or the manual page for "manpage")
set -u
grp=$1 bin=$(realpath "$2") top=$(cd "$(dirname "$0")/.." && pwd)
t=$(mktemp -d) && trap 'rm -rf "$t"' EXIT && cd "$t" || exit 1
fails=0 cases=0
ck() { # ck WHAT EXPECTED ACTUAL
  cases=$((cases + 1))
  [ "$2" == "$3" ] || { fails=$((fails + 1)); printf 'FAIL %s\n  want: %q\n  got:  %q\n' "$1" "$2" "$3"; }
}
runc() { local o; o=$("$@"); echo "$?|$o"; }        # status|stdout
run() { runc "$bin" "$@"; }
conv() { LC_ALL=C tr '[' '\t' < "$1"; }               # reference
sameconv() { ck "$1 holds the converted $2" "" "$(conv "$2" | cmp - "$1" 2>&1)"; }
prefconv() { ck "$1 is a prefix of the converted $2" "" "$(conv "$2" | cmp -s -n "$(stat -c %s "$1")" - "$1" || echo differs)"; }
ls1() { ls -A | tr '\n' ' '; }
# LeakSanitizer cannot run under a tracer.
st() { ASAN_OPTIONS=detect_leaks=0 strace --quiet=path-resolution "$@"; }

case $grp in
args)
  printf 'a[1' > a; printf 'c[3' > c
  ck "three slots" "1|pram argc:3" "$(run -i a)"
  ck "-o in last slot" "1|open fail:a:(null)" "$(run -i a -o)"
  ck "neither option" "1|open fail:(null):(null)" "$(run a b c)"
  ck "lookalike flags" "1|open fail:(null):b" "$(run -ia -I a --i=a -o b)"
  ck "nothing created by the failures" "a c " "$(ls1)"
  ck "options in any order" "0|" "$(run -o b -i a extra words)"; sameconv b a
  ck "first -i wins" "0|" "$(run -i a -i c -o b2)"; sameconv b2 a
  cp c ./-o
  ck "flag taken as a value" "0|" "$(run -i -o x)"; sameconv x ./-o
  ck "slot 0 is compared too" "0|" "$(runc bash -c 'exec -a -i "$0" a -o s0' "$bin")"; sameconv s0 a
  ;;
convert)
  printf "$(printf '\\%03o' {0..255})" > all; : > empty
  for n in 1 262143 262144 262145 786437; do      # around the buffer size
    head -c $n /dev/urandom | tr '\000-\077' '[' > r$n
    head -c $n /dev/zero | tr '\000' '[' > b$n      # a bracket at every offset
  done
  for f in all empty r* b*; do
    printf 'old longer content %0300d' 0 > out
    ck "convert $f" "0|" "$(run -i $f -o out)"; sameconv out $f
  done
  printf x > out; ck "empty input over one byte" "0|0" "$(run -i empty -o out)$(stat -c %s out)"
  : > out; touch -d 2000-01-01 out; run -i empty -o out > /dev/null
  ck "empty output restamped, as a truncation would" "1" "$(($(stat -c %Y out) > 946684800))"
  for m in 027 000; do
    rm -f new; (umask $m; run -i all -o new > /dev/null)
    ck "new file mode under umask $m" "$(printf %o $((0666 & ~0$m)))" "$(stat -c %a new)"
  done
  ;;
mends)
  printf 'keep[me' > a; printf 'precious' > b; cp b b0; mkdir d
  ck "missing input" "1|open fail:nope:b" "$(run -i nope -o b)"
  ck "directory input" "1|open fail:d:b" "$(run -i d -o b)"
  ck "directory output" "1|open fail:a:d" "$(run -i a -o d)"
  ck "missing input, same name" "1|open fail:n:n" "$(run -i n -o n)"
  ck "output left alone" "precious" "$(cat b)"
  ck "no file created" "a b b0 d " "$(ls1)"
  ck "control bytes escaped" '1|open fail:n\012l\033[1m\177:b' "$(run -i $'n\nl\e[1m\x7f' -o b)"
  ck "other bytes as given" "1|open fail:é \\x:b" "$(run -i 'é \x' -o b)"
  ck "stdin closed: input on fd 0" "0" "$( (exec <&-; "$bin" -i a -o c0); echo $?)"; sameconv c0 a
  # A dangling link is followed, as fopen would, and its target made.
  ln -s made dl; (umask 000; "$bin" -i a -o dl)
  ck "dangling link's target" "666" "$(stat -c %a made)"; sameconv made a
  rm c0 dl made
  ln a hard; ln -s a soft
  for o in a ./a "$t/a" hard soft; do
    ck "same file as $o" "1|open fail:a:$o" "$(run -i a -o "$o")"
  done
  ck "input kept" "keep[me" "$(cat a)"
  ck "unreadable input" "1|read fail:/proc/self/mem" "$(run -i /proc/self/mem -o o1)"
  ck "full disk" "1|write fail:/dev/full" "$(run -i a -o /dev/full)"
  # A file-size limit makes the first write short and the next one fail,
  # which must be reported rather than end the run by SIGXFSZ.
  head -c 300000 /dev/urandom > big
  ck "write past limit" "1|write fail:part" "$(ulimit -f 100; run -i big -o part)"
  ck "partial output kept" "102400" "$(stat -c %s part)"
  prefconv part big
  ck "small stack limit" "0|" "$(ulimit -s 128; run -i big -o st)"; sameconv st big
  ck "no space held past its end" "1" "$(($(stat -c '%b * %B' part) <= 102400 + 16384))"
  # The input's size said more than its reads gave.
  st -o /dev/null -P big -e trace=read -e inject=read:retval=0:when=2 "$bin" -i big -o short
  ck "shorter input: no space held past the end" "1" "$(($(stat -c '%s < 300000 && %b * %B <= %s + 16384' short)))"
  # Write-only output: only a user without root's override is refused.
  cp "$bin" sv; chmod 755 . sv; chmod 644 a; chmod 200 b
  as=(); [ "$(id -u)" == 0 ] && chown 65534 b && as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  ck "write-only output" "1|open fail:a:b" "$(runc "${as[@]}" ./sv -i a -o b)"
  chmod 600 b; ck "write-only output left alone" "precious" "$(cat b)"
  ;;
special)
  printf 'x[y' > s
  ck "null device in, empty file out" "0|0" "$(run -i /dev/null -o out)$(stat -c %s out)"
  ck "pipeline" "x	y" "$(cat s | "$bin" -i /dev/stdin -o /dev/stdout)"
  mkfifo f
  (for i in $(seq 50); do printf '[%d' $i; sleep 0.01; done) > f &
  ck "fifo" "0|" "$(run -i f -o fo)"; wait
  ck "fifo in pieces" "$(for i in $(seq 50); do printf '\t%d' $i; done)" "$(cat fo)"
  # A stop and continue cuts short a write that waits on a full pipe; the
  # rest of the block must still go out.
  head -c 1000000 /dev/urandom > rnd; mkfifo pf
  # The stop is sent once the write is seen waiting, and the reader comes
  # only after it.
  "$bin" -i rnd -o pf & p=$!
  exec 3< pf
  for i in $(seq 500); do [ "$(cut -d' ' -f1 /proc/$p/syscall 2> /dev/null)" == 1 ] && break; sleep 0.01; done
  kill -STOP $p; sleep 0.1; kill -CONT $p; cat <&3 > got & r=$!; exec 3<&-
  wait $p; ck "stopped and continued" "0" "$?"; wait $r; sameconv got rnd
  # The output is never read back: a pipe's reader leaving ends the run,
  # and a FIFO waits for its reader, however late.
  pipe() { timeout 20 bash -c "$1"' "$0" -i rnd -o /dev/stdout | head -c 10 > /dev/null; echo ${PIPESTATUS[0]}' "$bin"; }
  ck "reader leaves" "141" "$(pipe '')"
  ck "reader leaves, SIGPIPE ignored" "1" "$(pipe "trap '' PIPE;")"
  mkfifo lf; "$bin" -i s -o lf & p=$!
  sleep 0.3; ck "late fifo reader" "x	y" "$(timeout 10 cat lf)"; wait $p; ck "late fifo reader, status" "0" "$?"
  ck "fifo never read" "124" "$(timeout 0.5 "$bin" -i s -o lf; echo $?)"
  # A message goes after the data in the file behind standard output.
  cp s s0; "$bin" -i s -o s 1<> s
  ck "message after the input" "" "$(printf 'x[yopen fail:s:s\n' | cmp - s 2>&1)"; mv s0 s
  # The output's space is reserved for a large regular input, and only then.
  resv() { rm -f "$2"; st -o tr -e trace=fallocate,ftruncate "$bin" -i "$1" -o "$2" && grep -c -E "$3" tr; }
  head -c 262144 rnd > onebuf
  ck "space reserved for a large input" "1" "$(resv rnd big.o '^fallocate\(.*\) = 0$')"
  ck "none given back after a whole copy" "0" "$(resv rnd big.o '^ftruncate')"
  ck "no reservation for one buffer's worth" "0" "$(resv onebuf one.o '^fallocate')"
  if mkdir m && mount -t tmpfs -o size=1536k tmpfs m 2> /dev/null; then
    ck "onto tmpfs" "0|" "$(run -i rnd -o m/x)"; sameconv m/x rnd
    ck "no reservation on tmpfs" "0" "$(resv rnd m/x '^fallocate')"; sameconv m/x rnd
    ck "full disk behind stdout" "1" "$("$bin" -i rnd -o /dev/stdout > m/f; echo $?)"
    prefconv m/f rnd      # data kept, no message over it
    umount m
  else
    echo "SKIP full disk behind stdout: cannot mount a tmpfs here (needs root)"
  fi
  ck "past 4 GiB" "x	y" "$({ head -c 4G /dev/zero; cat s; } | "$bin" -i /dev/stdin -o /dev/stdout |
    { dd bs=64K count=65536 iflag=fullblock of=/dev/null 2> /dev/null; cat; })"
  ;;
faults)
  # Every call the tool makes on its two files, failed in turn at each of
  # its occurrences in a clean run, for a new, an existing and an empty
  # existing output.  The calls come from the trace, so the table follows
  # the code.
  command -v strace > /dev/null || { echo "SKIP faults: strace is missing"; exit 77; }
  calls=openat,newfstatat,ftruncate,utimensat,fallocate,read,write,close
  head -c 300000 /dev/urandom | tr '\000-\077' '[' > in   # several reads and writes
  prep() { rm -f out; [ $1 == new ] || { head -c $2 in > out; touch -d 2001-02-03 out; }; }
  snap() { if [ -e out ]; then stat -c '%s %Y' out; md5sum < out; else echo absent; fi; }
  for k in new:0 old:5000 empty:0; do
    prep ${k%:*} ${k#*:}
    st -y -s 0 -o clean -e trace=$calls "$bin" -i in -o out
    sameconv out in
    # NAME NTH PHASE LINE for each call of ours, NTH counting every call of
    # NAME (a sanitizer's runtime makes some too); the phase turns from open
    # to copy at our first read.
    awk -F'(' '{ n[$1]++ } /("|\/)(in|out)("|>)/ {
      if ($1 == "read") ph = "copy"; print $1, n[$1], ph ? ph : "open", $0 }' clean > ours
    while read -r sc nth ph line; do
      case $sc:$ph:$line in
        read:*) kind="read fail:in" ;;
        write:* | close:*/out\>*) kind="write fail:out" ;;
        close:* | fallocate:* | *:copy:*) kind= ;;   # the data is not at stake
        *) kind="open fail:in:out" ;;
      esac
      for e in EIO ENOSPC EDQUOT EFBIG EACCES EINTR; do
        want=$kind; [ $e == EINTR ] && [ "$sc" == read -o "$sc" == write ] && want=
        prep ${k%:*} ${k#*:}; was=$(snap)
        got=$(runc st -o /dev/null -e trace=$sc -e inject=$sc:error=$e:when=$nth "$bin" -i in -o out)
        what="${k%:*} output, $e on $line"
        if [ -z "$want" ]; then
          ck "$what" "0|" "$got"; sameconv out in
        else
          ck "$what" "1|$want" "$got"
          case $want in
            open*) ck "$what: output as it was" "$was" "$(snap)" ;;
            *) prefconv out in ;;
          esac
        fi
      done
    done < ours
  done
  # Not closing the output at all would drop it from the table above.
  prep old 5000
  ck "the output's close is checked" "1|write fail:out" \
    "$(runc st -o /dev/null -P out -e trace=close -e inject=close:error=EIO:when=1 "$bin" -i in -o out)"
  ;;
make)
  # The shipped Makefile: a failed conversion leaves no target to be taken
  # for up to date.
  command -v make > /dev/null || { echo "SKIP make: make is missing"; exit 77; }
  cp "$top/examples/Makefile" .
  for f in a b c; do printf '%s[%s\n' $f $f > $f.txt; done
  head -c 300000 /dev/urandom > b.txt; touch -d 2001-02-03 ./*.txt
  mk() { make -s SORVANE="$bin" "$@" 2>&1; echo "status $?"; }
  ck "make -j2 converts all" "status 0" "$(mk -j2)"
  for f in a b c; do sameconv $f.tsv $f.txt; done
  touch a.txt
  ck "one input touched, one target rebuilt" "$bin -i a.txt -o a.tsv|status 0" "$(make SORVANE="$bin" | tr '\n' '|'; echo "status $?")"
  touch b.txt
  ck "failed conversion" "1" "$( (ulimit -f 100; mk) | grep -c '^write fail:b.tsv$')"
  ck "no target left behind" "absent" "$([ -e b.tsv ] && echo present || echo absent)"
  ck "tried again" "status 0" "$(mk)"; sameconv b.tsv b.txt
  ;;
manpage)
  ck "manual renders cleanly" "0|" "$(runc groff -man -ww -z "$bin" 2>&1)"
  ;;
*) echo "unknown group $grp"; exit 2 ;;
esac
echo "$grp: $((cases - fails)) passed, $fails failed"
[ $fails == 0 ]
