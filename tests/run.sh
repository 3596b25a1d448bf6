#!/usr/bin/env bash
# End-to-end tests, driving the built binary on real files in a scratch folder.
# Usage: tests/run.sh GROUP PATH [EMULATOR...]
# GROUP is one of the files GROUP.sh beside this one, which it runs with the
# helpers below.  PATH is the binary (the manual page for "manpage"); a
# binary built for another machine runs through EMULATOR (qemu-aarch64-static).
set -u
grp=$1 bin=$(realpath "$2") top=$(cd "$(dirname "$0")/.." && pwd) emu=("${@:3}")
[ -f "$top/tests/$grp.sh" ] || { echo "unknown group $grp"; exit 2; }
# What a group mounts or attaches it undoes with undo CMD...; on any exit
# that runs, last first, before the scratch folder goes.
undo=()
undo() { undo+=("$(printf '%q ' "$@")"); }
clean() { local k; for ((k = ${#undo[@]} - 1; k >= 0; k--)); do eval "${undo[k]}" 2> /dev/null; done; rm -rf "$r"; }
r=$(mktemp -d) && trap clean EXIT && trap 'exit 1' HUP INT TERM && chmod 755 "$r" && mkdir "$r/w" "$r/bin" || exit 1
# The binary is run from a copy in the scratch folder, which another user
# can reach wherever the build folder is (/root, a private mktemp -d).
# Tests run it as another user, through strace and from make: a script of
# one exec stands in for it when it needs an emulator.
cp "$bin" "$r/bin/target" && chmod 755 "$r/bin/target" && bin=$r/bin/target || exit 1
if [ ${#emu[@]} -gt 0 ]; then
  command -v "${emu[0]}" > /dev/null || { echo "SKIP $grp: ${emu[0]} is missing, which runs the binary"; exit 77; }
  printf '#!/bin/sh\nexec %q %q "$@"\n' "$(command -v "${emu[0]}")" "$bin" > "$r/bin/sorvane"
  chmod 755 "$r/bin/sorvane"; bin=$r/bin/sorvane
fi
cd "$r/w" || exit 1
t=$PWD
fails=0 cases=0
# The tool's block: what it reads and writes at a time, and the input size
# past which it reserves the output's space.  Checks probe either side.
# The reservation runs ahead of the writes by at most a window.
blk=$((512 * 1024)) win=$((4 * 1024 * 1024))
# A group that cannot run here says why and is counted as skipped; one
# that can run only some of its checks names each it leaves out.
skipall() { echo "SKIP $grp: $1"; exit 77; }
need() { local c; for c; do command -v "$c" > /dev/null || skipall "$c is missing"; done; }
needroot() { [ "$(id -u)" == 0 ] || skipall "$1 needs root"; }
ck() { # ck WHAT EXPECTED ACTUAL
  cases=$((cases + 1))
  [ "$2" == "$3" ] || { fails=$((fails + 1)); printf 'FAIL %s\n  want: %q\n  got:  %q\n' "$1" "$2" "$3"; }
}
runc() { local o; o=$("$@"); echo "$?|$o"; }        # status|stdout
# No run may hang the suite: one that would is cut off, and fails.
run() { runc timeout 60 "$bin" "$@"; }
conv() { LC_ALL=C tr '[' '\t' < "$1"; }               # reference
sameconv() { ck "$1 holds the converted $2" "" "$(conv "$2" | cmp - "$1" 2>&1)"; }
prefconv() { ck "$1 is a prefix of the converted $2" "" "$(conv "$2" | cmp -s -n "$(stat -c %s "$1")" - "$1" || echo differs)"; }
# FILE holds as many blocks as the same bytes written by cat beside it:
# none are left reserved past its end.
sameblks() { cat "$1" > "$1.cat" && ck "$1 holds no block past its end" "$(stat -c %b "$1.cat")" "$(stat -c %b "$1")"; rm -f "$1.cat"; }
# loopfs DIR SIZE MOUNTOPTS MKFS...: a file system of its own, made by MKFS
# on an image of SIZE, mounted on DIR (the loop device in $dev) and undone
# on any exit; where it cannot be had, says why and fails.
loopfs() {
  local d=$1 sz=$2 mo=$3; shift 3
  command -v "$1" > /dev/null || { echo "SKIP $d: $1 is missing"; return 1; }
  truncate -s "$sz" "$d.img" && "$@" "$d.img" > /dev/null 2>&1 || { echo "SKIP $d: $* failed"; return 1; }
  dev=$(losetup -f --show "$d.img") || { echo "SKIP $d: no loop device can be had here"; return 1; }
  undo losetup -d "$dev"
  mkdir -p "$d" && mount -o "$mo" "$dev" "$d" || { echo "SKIP $d: cannot mount $dev"; return 1; }
  undo umount -l "$t/$d"
}
# Free bytes on the file system that holds DIR, once written out.
fsfree() { sync -f "$1" && echo $(($(stat -f -c '%a * %S' "$1"))); }
ls1() { ls -A | tr '\n' ' '; }
# FILE's size, time and content, or absent.  What this user cannot read
# (a file of mode 0, for a user without root) is left at size and time.
snap() {
  [ -e "$1" ] || { echo absent; return; }
  stat -c '%s %Y' "$1"
  if [ -r "$1" ]; then md5sum < "$1"; else echo "SKIP the content of $1: user $(id -u) cannot read it" >&2; fi
}
# F IN OUT is tr, or the tool, in the same place.  tr takes a descriptor
# name as the descriptor itself (bash would open it afresh).
reff() {
  local i=0 o=1
  case $1 in /dev/stdin) ;; /dev/fd/*) i=${1#/dev/fd/} ;; *) exec {i}< "$1" ;; esac
  case $2 in /dev/stdout) ;; /dev/stderr) o=2 ;; /dev/fd/*) o=${2#/dev/fd/} ;; *) exec {o}> "$2" ;; esac
  LC_ALL=C timeout 60 tr '[' '\t' <&$i >&$o
}
toolf() { timeout 60 "$bin" -i "$1" -o "$2"; }
# The same as commands named sorvane, first on PATH in like's forms.
mkdir -p "$r/as/ref" "$r/as/tool" && ln -s "$bin" "$r/as/tool/sorvane" &&
  printf '#!/usr/bin/env bash\n%s\nwhile [ $# -gt 1 ]; do case $1 in -i) i=$2 ;; -o) o=$2 ;; esac; shift; done\nreff "$i" "$o"\n' \
    "$(declare -f reff)" > "$r/as/ref/sorvane" && chmod 755 "$r/as/ref/sorvane" || exit 1
# like WHAT FORM FILE...: FORM, a shell snippet run in a fresh copy of the
# folder seed with F (or sorvane) as tr and then as the tool, must print
# the same, leave each FILE (or, with none named, every file) the same and
# end with the same status.
like() {
  local what=$1 form=$2 k f; shift 2
  for k in ref tool; do
    rm -rf $k && cp -r seed $k
    (cd $k && F() { ${k}f "$@"; } && PATH=$r/as/$k:$PATH && eval "$form" > ../$k.out; echo $? > ../$k.st)
  done
  # A reference that failed proves nothing.
  ck "$what: tr's status" "0" "$(cat ref.st)"
  ck "$what: status" "$(cat ref.st)" "$(cat tool.st)"
  ck "$what: what it printed" "" "$(cmp ref.out tool.out 2>&1)"
  [ $# -gt 0 ] || ck "$what: its files" "" "$(diff -r ref tool 2>&1)"
  for f in "$@"; do ck "$what: $f" "" "$(cmp ref/$f tool/$f 2>&1)"; done
}
# unpriv WHAT: sets as=(...), the prefix that runs the binary without
# root's power over permissions, or says why WHAT is skipped.  Root
# becomes uid 65534, which must reach the copy of the binary; anyone else
# is unprivileged already.
unpriv() {
  as=()
  [ "$(id -u)" != 0 ] && return 0
  as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  command -v setpriv > /dev/null || { echo "SKIP $1: setpriv is missing"; return 1; }
  "${as[@]}" test -x "$bin" && return 0
  echo "SKIP $1: uid 65534 cannot reach $bin"; return 1
}
# LeakSanitizer cannot run under a tracer.
st() { ASAN_OPTIONS=detect_leaks=0 timeout 120 strace --quiet=path-resolution "$@"; }
# hold CALL N US CHANGE ARGS...: strace ARGS (options, then the command)
# with the Nth CALL that they trace held back for US microseconds, enough
# for CHANGE, or a signal, to land meanwhile.  Once the trace shows that
# call entered, or the command ended without it, runs CHANGE, with the held
# process in $hp and its tracer in $hs.  Gives status|stdout.
hold() {
  local c=$1 n=$2 us=$3 chg=$4 p k f=; shift 4
  rm -f hold.tr.*
  # A trace file for each process, named after it: the one that calls.
  st -ff -o hold.tr -e trace="$c" -e inject="$c:delay_enter=$us:when=$n" "$@" > hold.out 2> /dev/null &
  p=$! hp= hs=
  for ((k = 0; k < 600; k++)); do
    f=$(grep -l "^$c(" hold.tr.* 2> /dev/null | head -n 1)
    [ -n "$f" ] && [ "$(grep -c "^$c(" "$f")" -ge "$n" ] && break
    kill -0 $p 2> /dev/null || break
    sleep 0.1
  done
  [ -n "$f" ] && hp=${f##*.} && hs=$(awk '/^PPid:/ { print $2 }' "/proc/$hp/status" 2> /dev/null)
  eval "$chg"; wait $p; echo "$?|$(cat hold.out)"
}

. "$top/tests/$grp.sh"
echo "$grp: $((cases - fails)) passed, $fails failed"
[ $fails == 0 ]
