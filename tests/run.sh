#!/usr/bin/env bash
# End-to-end tests, driving the built binary on real files in a scratch folder.
# Usage: tests/run.sh GROUP PATH   (PATH is the binary, or the manual page for "manpage")
set -u
grp=$1 bin=$(realpath "$2")
t=$(mktemp -d) && trap 'rm -rf "$t"' EXIT && cd "$t" || exit 1
fails=0 cases=0
ck() { # ck WHAT EXPECTED ACTUAL
  cases=$((cases + 1))
  [ "$2" == "$3" ] || { fails=$((fails + 1)); printf 'FAIL %s\n  want: %q\n  got:  %q\n' "$1" "$2" "$3"; }
}
runc() { local o; o=$("$@"); echo "$?|$o"; }        # status|stdout
run() { runc "$bin" "$@"; }
conv() { LC_ALL=C tr '[' '\t' < "$1"; }               # reference
sameconv() { ck "$1 holds the converted $2" "$(conv "$2" | od -An -tx1)" "$(od -An -tx1 < "$1")"; }
ls1() { ls -A | tr '\n' ' '; }

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
  for n in 1 131071 131072 131073 393221; do      # around the buffer size
    head -c $n /dev/urandom | tr '\000-\077' '[' > r$n
    head -c $n /dev/zero | tr '\000' '[' > b$n      # a bracket at every offset
  done
  for f in all empty r* b*; do
    printf 'old longer content %0300d' 0 > out
    ck "convert $f" "0|" "$(run -i $f -o out)"; sameconv out $f
  done
  : > out; touch -d 2000-01-01 out; run -i empty -o out > /dev/null
  ck "empty output restamped, as a truncation would" "1" "$(($(stat -c %Y out) > 946684800))"
  umask 027; run -i all -o new > /dev/null
  ck "new file mode under umask 027" "640" "$(stat -c %a new)"
  ;;
mends)
  printf 'keep[me' > a; printf 'precious' > b; cp b b0; mkdir d
  ck "missing input" "1|open fail:nope:b" "$(run -i nope -o b)"
  ck "directory input" "1|open fail:d:b" "$(run -i d -o b)"
  ck "directory output" "1|open fail:a:d" "$(run -i a -o d)"
  ck "missing input, same name" "1|open fail:n:n" "$(run -i n -o n)"
  ck "output left alone" "precious" "$(cat b)"
  ck "no file created" "a b b0 d " "$(ls1)"
  ln a hard; ln -s a soft
  for o in a ./a "$t/a" hard soft; do
    ck "same file as $o" "1|open fail:a:$o" "$(run -i a -o "$o")"
  done
  ck "input kept" "keep[me" "$(cat a)"
  ck "unreadable input" "1|read fail:/proc/self/mem" "$(run -i /proc/self/mem -o o1)"
  ck "full disk" "1|write fail:/dev/full" "$(run -i a -o /dev/full)"
  # A file-size limit makes the first write short and the next one fail.
  head -c 300000 /dev/urandom > big
  ck "write past limit" "1|write fail:part" "$(trap '' XFSZ; ulimit -f 100; run -i big -o part)"
  ck "partial output kept" "$(conv big | head -c 102400 | od -An -tx1)" "$(od -An -tx1 < part)"
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
  (sleep 0.3; cat pf > got) & r=$!
  "$bin" -i rnd -o pf & p=$!
  for i in $(seq 30); do sleep 0.01; kill -STOP $p; kill -CONT $p; done 2> /dev/null
  wait $p; ck "stopped and continued" "0" "$?"; wait $r; sameconv got rnd
  ck "past 4 GiB" "x	y" "$({ head -c 4G /dev/zero; cat s; } | "$bin" -i /dev/stdin -o /dev/stdout |
    { dd bs=64K count=65536 iflag=fullblock of=/dev/null 2> /dev/null; cat; })"
  ;;
manpage)
  ck "manual renders cleanly" "0|" "$(runc groff -man -ww -z "$bin" 2>&1)"
  ;;
*) echo "unknown group $grp"; exit 2 ;;
esac
echo "$grp: $((cases - fails)) passed, $fails failed"
[ $fails == 0 ]
