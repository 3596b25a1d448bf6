# Many machines: the README's GNU parallel recipe over ssh, against two
# hosts on loopback addresses served by an sshd of this test's own.  Its
# keys and configuration are in the scratch folder, and it runs in a mount
# namespace of its own, where a tmpfs covers the home folder that the jobs
# run in (and /run, for its privilege separation): nothing is written
# outside, and whatever the jobs leave goes with the namespace.
needroot "an sshd that logs in as root"
PATH=$PATH:/usr/sbin:/sbin
need sshd ssh ssh-keygen parallel rsync unshare perl
ssh-keygen -q -t ed25519 -N '' -f hostkey && ssh-keygen -q -t ed25519 -N '' -f key && cp key.pub authkeys ||
  skipall "ssh-keygen failed"
export PARALLEL_HOME=$t/phome RSYNC_OLD_ARGS=1
# The home that sshd gives the jobs, whatever HOME says here.
home=$(getent passwd "$(id -un)" | cut -d: -f6)
[ -d "$home" ] || skipall "no home folder for $(id -un)"
# Every process in the sshd's namespace: the listener, a connection's
# sshd, the jobs.
inns() {
  local p; [ -n "$1" ] || return
  for p in /proc/[0-9]*; do [ "$(readlink $p/ns/mnt 2> /dev/null)" == "$1" ] && echo ${p#/proc/}; done
}
stopd() { local h; for h in h1 h2; do ssh -F "$t/cfg" -O exit $h 2> /dev/null; done; kill $(inns "$1") 2> /dev/null; }
up() { (exec 3<> /dev/tcp/127.0.0.3/$port) 2> /dev/null; }
for try in 1 2 3; do
  port=$((20000 + RANDOM % 40000))
  up && continue
  printf '%s\n' "ListenAddress 127.0.0.2:$port" "ListenAddress 127.0.0.3:$port" "HostKey $t/hostkey" \
    "PidFile none" "AuthorizedKeysFile $t/authkeys" "PermitRootLogin prohibit-password" "PasswordAuthentication no" \
    "KbdInteractiveAuthentication no" "UsePAM no" "StrictModes no" "PrintMotd no" > sshd_config
  unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /run && mkdir -m 755 /run/sshd &&
    mount -t tmpfs -o mode=700 tmpfs "$2" && exec "$0" -D -e -f "$1"' "$(command -v sshd)" "$t/sshd_config" "$home" 2> sshd.log &
  pid=$!
  for i in $(seq 100); do up && break; kill -0 $pid 2> /dev/null || break; sleep 0.05; done
  up && break
done
up || { cat sshd.log; skipall "no sshd could be started here"; }
ns=$(readlink /proc/$pid/ns/mnt) && [ "$ns" != "$(readlink /proc/$$/ns/mnt)" ] ||
  { kill $pid; skipall "the sshd has no namespace of its own"; }
undo stopd "$ns"
# The README's ssh configuration, with h3 on an address where nothing listens.
printf '%s\n' "Host h1" "  HostName 127.0.0.2" "Host h2" "  HostName 127.0.0.3" "Host h3" "  HostName 127.0.0.4" "Host *" \
  "  Port $port" "  User root" "  IdentityFile $t/key" "  IdentitiesOnly yes" "  UserKnownHostsFile $t/known" \
  "  StrictHostKeyChecking accept-new" "  BatchMode yes" "  LogLevel ERROR" "  ControlMaster auto" "  ControlPath $t/cm-%h" \
  "  ControlPersist 60" > cfg
# The connections are opened first, as the README says: ssh commands that
# start at once race to open them, and the losers' message breaks
# parallel's --filter-hosts.
for h in h1 h2; do ssh -F cfg -fN $h || skipall "cannot log in to $h"; done
mkdir job && cd job || exit 1
cp "$bin" sorvane
printf 'a[1\n' > a.txt; printf 'b [2[\n' > 'b c.txt'; head -c 300000 /dev/urandom | tr '\000-\077' '[' > big.txt
printf '%s\n' a.txt 'b c.txt' big.txt gone.txt > list
# The recipe, hosts filled in.
recipe() {
  parallel --ssh "ssh -F $t/cfg" -S "$1" --filter-hosts --joblog jobs.log "${@:2}" --basefile sorvane \
    --transferfile {} --return {.}.tsv --cleanup './sorvane -i {} -o {.}.tsv || { rm -f {.}.tsv; exit 1; }' :::: list
}
out=$(recipe h1,h2 2>&1); s=$?
ck "one job failed" "1" "$s"
ck "its message shown" "1" "$(grep -c '^open fail:gone.txt:gone.tsv$' <<< "$out")"
ck "its output not brought back" "absent" "$(snap gone.tsv)"
for f in a 'b c' big; do sameconv "$f.tsv" "$f.txt"; done
ck "the hosts' folders left empty" "|" "$(ssh -F "$t/cfg" h1 ls -A | tr '\n' ' ')|$(ssh -F "$t/cfg" h2 ls -A)"
printf 'g[one\n' > gone.txt
was=$(for f in a 'b c' big; do snap "$f.tsv"; done)
sleep 1
out=$(recipe h1,h2 --resume-failed 2>&1); s=$?
ck "the failed job rerun" "0" "$s"; sameconv gone.tsv gone.txt
ck "the others not rerun" "$was" "$(for f in a 'b c' big; do snap "$f.tsv"; done)"
ck "the job log: one run each, then the rerun" "1:0 2:0 3:0 4:1 4:0" "$(tail -n +2 jobs.log | sort -s -n -k1,1 | awk '{ print $1 ":" $7 }' | xargs)"
rm -f ./*.tsv jobs.log
out=$(recipe h1,h2,h3 2>&1); s=$?
ck "a host down: status" "0" "$s"
for f in a 'b c' big gone; do sameconv "$f.tsv" "$f.txt"; done

# bench/run times its row here, where the hosts are: 200 small files over
# the two hosts, one job a file and 25 a job, against xargs -P 2 on this
# machine, in seconds.
if [ -n "${SORVANE_BENCH:-}" ]; then
  mkdir ../many && cd ../many && cp "$bin" sorvane || exit 1
  for i in $(seq 200); do printf 'line %d [x[y\n' $i > f$i.txt; done
  printf '%s\n' f*.txt > list
  TIMEFORMAT=%R
  secs() { { time "$@" > /dev/null 2>&1; } 2>&1; rm -f ./*.tsv; }
  {
    echo "xargs $(secs xargs -P 2 -n 1 sh -c './sorvane -i "$1" -o "${1%.txt}.tsv"' sh < list)"
    echo "one $(secs recipe h1,h2)"
    echo "batched $(secs parallel --ssh "ssh -F $t/cfg" -S h1,h2 -N 25 --basefile sorvane --transferfile {} \
      --return {.}.tsv --cleanup 'for f in {} ; do ./sorvane -i "$f" -o "${f%.txt}.tsv" ||
        { rm -f "${f%.txt}.tsv"; s=1; }; done; exit ${s:-0}' :::: list)"
  } > "$SORVANE_BENCH"
fi
