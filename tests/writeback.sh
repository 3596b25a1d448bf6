# Truncating a file makes ext4 write it out when it is closed; an existing
# empty output is not truncated, so its data stays in the cache to be
# written later, as a new file's does.
PATH=$PATH:/usr/sbin:/sbin
need filefrag
[ "$(stat -f -c %T .)" == ext2/ext3 ] || skipall "the scratch folder is not on ext4"
head -c 500000 /dev/urandom > r5
# A sync elsewhere can write it out first: one try in three must show it
# still in the cache.
for i in 1 2 3; do
  : > out; sync; run -i r5 -o out > /dev/null
  filefrag -v out | grep -q delalloc && break
done
ck "empty output not written out on close" "1" "$(filefrag -v out | grep -c delalloc)"; sameconv out r5
