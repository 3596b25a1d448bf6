# Every example of the README and the manual, run as written in a folder of
# small inputs, with the tool first on PATH as sorvane and then with tr in
# its place: it must end with status 0 and print and leave the same.  A
# Makefile example is saved as the Makefile and run by make, and must
# convert every .txt file whose name it can take, beside names it cannot.
# The README's bash blocks (building, installing, many machines) are left
# to .ci/run and the remote group.
need make gzip
# The README's sh and make blocks; the manual's, unescaped, a block with a
# tab-led line being a Makefile.
awk -v d="$t" '/^```(sh|make)$/ { f = d "/ex" ++n "." substr($0, 4); next } /^```/ { f = "" } f { print > f }' "$top/README.md"
sed -n '/^\.EX$/,/^\.EE$/p' "$top/sorvane.1" | sed "s/\\\\-/-/g; s/\\\\(aq/'/g; s/\\\\e/\\\\/g; s/^\\\\&//" |
  awk -v d="$t" '/^\.EX$/ { b = ""; next } /^\.EE$/ { f = d "/man" ++n (b ~ /\n\t/ ? ".make" : ".sh"); printf "%s", b > f; close(f); next }
    { b = b "\n" $0 }'
ck "shell and make examples found in both" "0" "$(ls ex*.sh ex*.make man*.sh man*.make > /dev/null; echo $?)"
mkdir -p seed/sub && cd seed || exit 1
printf 'name[city\nAda[London\n' > table.txt; printf 't[1\n' > t.txt; printf 'n[o\n' > notes.txt
printf 'x[y\n[[\n' > 'sub/with space.txt'; printf 'a\t[b]\r\n' | gzip > data.gz; echo old > log
for n in 'a b' 'c:d' 'e$f' 'g#h' "i'j" $'k\nl'; do printf '%s[\n' "$n" > "$n.txt"; done
cd .. || exit 1
for e in ex* man*; do
  case $e in
    *.sh) like "$e: $(grep -m 1 . $e)" "$(cat $e)" ;;
    *.make) like "$e, a Makefile" "cp '$t/$e' Makefile && make -s && cat table.tsv t.tsv notes.tsv" ;;
  esac
done
