#!/usr/bin/env bash
# installer-export: devices, FIFO, socket, folder, device link refused; '-'; closed pipe, OUT.partial, full disk.
. "$(dirname "$0")/lib.sh"
need mknod mkfifo timeout cmp stat
dat=$built/install.dat
export_iso "$dat" ref.iso

mknod chardev c 1 3 || fail "mknod (needs root)"  # the numbers of /dev/null
mkfifo fifo && mkdir folder && ln -s chardev link-to-device
kinds="chardev fifo folder link-to-device"
! python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' sock 2>/dev/null || kinds+=" sock"
head -c 1048576 /dev/zero >backing
if loop=$(losetup -f --show backing 2>/dev/null); then
  on_exit "losetup -d '$loop'"; mknod blockdev b $((0x$(stat -c %t "$loop"))) $((0x$(stat -c %T "$loop"))); kinds+=" blockdev"
else echo "  no loop device here: the block device case is skipped"; fi

for kind in $kinds; do
  before=$(stat -L -c '%F %t:%T %s' $kind)
  for command in make-iso make-floppy-image; do
    status=0
    timeout 20 "$exporter" $command --data "$dat" --out $kind >out 2>err || status=$?
    [ $status = 1 ] && grep -q 'writes image files only' err || fail "$command --out $kind exited $status: $(cat err)"
    [ ! -s out ] && [ ! -e $kind.partial ] || fail "$command --out $kind built something"
    [ "$(stat -L -c '%F %t:%T %s' $kind)" = "$before" ] || fail "$kind changed"
  done
done
[ -z "$loop" ] || is_zeros backing 1048576 || fail "the loop device was written"

"$exporter" make-iso --data "$dat" --out - 2>trace | cat >piped.iso
cmp piped.iso ref.iso || fail "the image on standard output differs from the file"
grep -qx 'Primary Volume Descriptor' trace || fail "no trace lines on standard error"
"$exporter" make-iso --quiet --data "$dat" --out - 2>trace | cat >/dev/null
[ ! -s trace ] || fail "--quiet printed: $(cat trace)"
status=0
"$exporter" make-iso --quiet --data "$dat" --out - 2>err | head -c 1 >/dev/null || status=$?
[ $status = 1 ] && grep -q 'Broken pipe' err || fail "a closed pipe gave $status: $(cat err)"

ln -s chardev taken.iso.partial
! "$exporter" make-iso --quiet --data "$dat" --out taken.iso 2>err || fail "a taken partial name was accepted"
grep -q 'already exists' err || fail "taken partial name: $(cat err)"
[ ! -e taken.iso ] || fail "taken.iso was created"
[ "$(stat -L -c '%F %t:%T' taken.iso.partial)" = "character special file 1:3" ] || fail "the link's target changed"

mkdir small
if mount -t tmpfs -o size=1m tmpfs small 2>/dev/null; then
  on_exit "umount '$work/small'"
  ! "$exporter" make-iso --quiet --data "$dat" --out small/cd.iso 2>err || fail "a full file system was accepted"
  grep -q 'No space left on device' err || fail "full file system: $(cat err)"
  [ -z "$(ls -A small)" ] || fail "left behind: $(ls -A small)"
else
  echo "  tmpfs cannot be mounted here: the full file system case is skipped"
fi
