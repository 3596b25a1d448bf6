# Mistakes and failures: missing, unreadable or same files, full disks and limits.
printf 'keep[me' > a; printf 'precious' > b; cp b b0; mkdir d
ck "missing input" "1|open fail:nope:b" "$(run -i nope -o b)"
ck "directory input" "1|open fail:d:b" "$(run -i d -o b)"
ck "directory output" "1|open fail:a:d" "$(run -i a -o d)"
ck "missing input, same name" "1|open fail:n:n" "$(run -i n -o n)"
ck "output left alone" "precious" "$(cat b)"
ck "no file created" "a b b0 d " "$(ls1)"
ck "control bytes escaped" '1|open fail:n\012l\033[1m\177:b' "$(run -i $'n\nl\e[1m\x7f' -o b)"
ck "other bytes as given" "1|open fail:é \\x:b" "$(run -i 'é \x' -o b)"
# C1 controls, which a terminal may act on too: as UTF-8, and as single
# bytes outside a well-formed UTF-8 character (0x9B is CSI in an 8-bit
# terminal); a character that merely holds such a byte, and Latin-1, as
# given.
ck "C1 controls escaped" $'1|open fail:\\233m\\302\\233m\\302\\200\xe2\\202x\\205\xf0\\220:b' \
  "$(run -i $'\x9bm\xc2\x9bm\xc2\x80\xe2\x82x\x85\xf0\x90' -o b)"
ck "letters as given" $'1|open fail:\xe2\x80\x9b\xc2\xa0\xc4\x80\xe2\x82\xac\xf0\x9f\x98\x80caf\xe9:b' \
  "$(run -i $'\xe2\x80\x9b\xc2\xa0\xc4\x80\xe2\x82\xac\xf0\x9f\x98\x80caf\xe9' -o b)"
# The edges of well-formed UTF-8: a character is printed as given when its
# lead byte, its second byte's narrower range (after E0, ED, F0, F4) and its
# continuation bytes all admit it; otherwise each 0x80 to 0x9F byte of it
# is escaped on its own.
ok=$'\xdf\x85x\xe0\xa0\x85x\xed\x9f\x85x\xef\x85\x85x\xf0\x90\x85\x85x\xf4\x8f\x85\x85x\xe2\x80\x85x\xe2\xbf\x85x\xe2\x85\x80x\xe2\x85\xbfx\xa0'
ck "well-formed UTF-8 at its edges as given" "1|open fail:$ok:b" "$(run -i "$ok" -o b)"
ck "ill-formed UTF-8 at its edges" $'1|open fail:\xc1\\205x\xe0\\237\\205x\xed\xa0\\205x\xf0\\217\\205\\205x\xf4\\220\\205\\205x\xf5\\205\\205\\205x\\205\\205\\205\\205x\xe2\\205\\177x\xe2\\205\xc0x\xf0\\220\\205\\177x\xe2\\177\\205x\xe2\xc0\\205x\\302\\237\\237:b' \
  "$(run -i $'\xc1\x85x\xe0\x9f\x85x\xed\xa0\x85x\xf0\x8f\x85\x85x\xf4\x90\x85\x85x\xf5\x85\x85\x85x\x85\x85\x85\x85x\xe2\x85\x7fx\xe2\x85\xc0x\xf0\x90\x85\x7fx\xe2\x7f\x85x\xe2\xc0\x85x\xc2\x9f\x9f' -o b)"
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
sameblks part
# An existing output that holds no blocks, a sparse one, is still emptied.
truncate -s 1 sparse; ck "sparse output emptied" "0|0" "$(run -i /dev/null -o sparse)$(stat -c %s sparse)"
