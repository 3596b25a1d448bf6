# Files that the shell opened before a change of user, which the user
# itself may not open.
needroot "changing user"
unpriv "after a change of user" || exit 77
head -c 300000 /dev/urandom | tr '\000-\077' '[' > big
mkdir priv && chmod 700 priv && cp big priv/in
"${as[@]}" timeout 60 "$bin" -i /dev/stdin -o /dev/stdout < priv/in > priv/out
ck "after a change of user" "0" "$?"; sameconv priv/out big
