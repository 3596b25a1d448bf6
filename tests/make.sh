# The shipped Makefile: a failed conversion leaves no target to be taken
# for up to date.
need make
cp "$top/examples/Makefile" .
for f in a b c; do printf '%s[%s\n' $f $f > $f.txt; done
head -c 300000 /dev/urandom > b.txt; echo '[' > 'd e.txt'; touch -d 2001-02-03 ./*.txt
mk() { make -s SORVANE="$bin" "$@" 2>&1; echo "status $?"; }
ck "make -j2 converts all it can take" "status 0" "$(mk -j2)"
ck "a name with a space left out" "absent" "$(snap 'd e.tsv')"
for f in a b c; do sameconv $f.tsv $f.txt; done
touch a.txt
ck "one input touched, one target rebuilt" "$bin -i a.txt -o a.tsv|status 0" "$(make SORVANE="$bin" | tr '\n' '|'; echo "status $?")"
touch b.txt
ck "failed conversion" "1" "$( (ulimit -f 100; mk) | grep -c '^write fail:b.tsv$')"
ck "no target left behind" "absent" "$([ -e b.tsv ] && echo present || echo absent)"
ck "tried again" "status 0" "$(mk)"; sameconv b.tsv b.txt
