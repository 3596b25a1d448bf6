# The command line: the options, their values and too few arguments.
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
# An emulator sets the program's slot 0 itself.
if [ ${#emu[@]} -gt 0 ]; then s0=("${emu[@]}" -0 -i "$r/bin/target"); else s0=(bash -c 'exec -a -i "$0" "$@"' "$bin"); fi
ck "slot 0 is compared too" "0|" "$(runc "${s0[@]}" a -o s0)"; sameconv s0 a
