# Files that the shell opened before a change of user, which the user
# itself may not open.
needroot "changing user"
unpriv "after a change of user" || exit 77
head -c 300000 /dev/urandom | tr '\000-\077' '[' > big
mkdir priv && chmod 700 priv && cp big priv/in
"${as[@]}" timeout 60 "$bin" -i /dev/stdin -o /dev/stdout < priv/in > priv/out
ck "after a change of user" "0" "$?"; sameconv priv/out big
# Another user's file and FIFO in a shared sticky folder, where the kernel
# guards them against an O_CREAT open: refused untouched, as a shell's
# redirection is.  Root's own file there and a new one are written.
mkdir -m 1777 sh && "${as[@]}" sh -c ': > sh/f && mkfifo sh/p && chmod 666 sh/f sh/p' && echo old > sh/mine
for s in regular fifos; do
  old=$(cat /proc/sys/fs/protected_$s) && undo sh -c "echo $old > /proc/sys/fs/protected_$s" &&
    echo 1 2> /dev/null > /proc/sys/fs/protected_$s || { echo "SKIP shared folder: cannot set fs.protected_$s"; return; }
done
ck "another user's file in a shared folder" "1|open fail:big:sh/f" "$(run -i big -o sh/f)"
ck "another user's file left as it was" "0" "$(stat -c %s sh/f)"
ck "another user's FIFO in a shared folder" "1|open fail:big:sh/p" "$(run -i big -o sh/p)"
ck "own file in a shared folder" "0|" "$(run -i big -o sh/mine)"; sameconv sh/mine big
ck "new file in a shared folder" "0|" "$(run -i big -o sh/new)"; sameconv sh/new big
