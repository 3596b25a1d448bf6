# Permissions as a user without root's power over them meets them.
printf 'keep[me' > a; printf 'precious' > b
unpriv "write-only output" || exit 77
chmod 755 .; chmod 644 a; chmod 200 b; [ ${#as[@]} == 0 ] || chown 65534 b
ck "write-only output" "1|open fail:a:b" "$(runc "${as[@]}" "$bin" -i a -o b)"
chmod 600 b; ck "write-only output left alone" "precious" "$(cat b)"
