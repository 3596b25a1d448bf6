# The bytes: every value, around the buffer size, over longer content, file modes.
printf "$(printf '\\%03o' {0..255})" > all; : > empty
# Every byte value at every offset of a vector of up to 64 bytes: 257
# bytes, a bracket among them, repeated past two buffers.
printf '[' | cat all - > pat
for k in $(seq 11); do cat pat pat > p2 && mv p2 pat; done
for n in 1 $((blk - 1)) $blk $((blk + 1)) $((3 * blk + 5)); do      # around the block size
  head -c $n /dev/urandom | tr '\000-\077' '[' > r$n
  head -c $n /dev/zero | tr '\000' '[' > b$n      # a bracket at every offset
done
for f in all empty pat r* b*; do
  printf 'old longer content %0300d' 0 > out
  ck "convert $f" "0|" "$(run -i $f -o out)"; sameconv out $f
done
# Read to its end, whatever its size says.
ck "a file whose size says 0" "0|0" "$(run -i /proc/version -o out)$(stat -c %s /proc/version)"
sameconv out /proc/version
printf x > out; ck "empty input over one byte" "0|0" "$(run -i empty -o out)$(stat -c %s out)"
: > out; touch -d 2000-01-01 out; run -i empty -o out > /dev/null
ck "empty output restamped, as a truncation would" "1" "$(($(stat -c %Y out) > 946684800))"
for m in 027 000; do
  rm -f new; (umask $m; run -i all -o new > /dev/null)
  ck "new file mode under umask $m" "$(printf %o $((0666 & ~0$m)))" "$(stat -c %a new)"
done
