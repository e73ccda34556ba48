#!/usr/bin/env bash
# installer-export replaces only a regular file or a free name. Devices (character, and
# block on a loop device), a FIFO, a socket, a directory and a link to a device are refused
# for both images, nothing created and the node unchanged; '-' writes to a pipe, a closed
# pipe is reported, a full file system leaves no partial file, a planted OUT.partial link
# is not followed.
#
# usage: export_output_test.sh EXPORTER DAT
exporter=$(realpath "$1") dat=$(realpath "$2")
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
need mknod mkfifo timeout cmp stat
cd "$work" || fail "cd"
export_iso "$dat" ref.iso

# Nodes of our own, so that a fault can only ever replace a node in this folder.
mknod chardev c 1 3 || fail "mknod (needs root)"  # the numbers of /dev/null
mkfifo fifo && mkdir folder && ln -s chardev link-to-device || fail "mkfifo, mkdir or ln"
kinds="chardev fifo folder link-to-device"
if command -v python3 >/dev/null &&
  python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' sock; then
  kinds+=" sock"
fi
head -c 1048576 /dev/zero >backing
if loop=$(losetup -f --show backing 2>/dev/null); then
  on_exit "losetup -d '$loop'"
  mknod blockdev b "$((0x$(stat -c %t "$loop")))" "$((0x$(stat -c %T "$loop")))" || fail "mknod b"
  kinds+=" blockdev"
else
  loop=''
  echo "  no loop device here: the block device case is skipped"
fi

for kind in $kinds; do
  before=$(stat -L -c '%F %t:%T %s' "$kind")
  for command in make-iso make-floppy-image; do
    timeout 20 "$exporter" "$command" --data "$dat" --out "$kind" >out 2>err
    status=$?
    [ "$status" = 1 ] || fail "$command --out $kind exited $status"
    grep -q 'writes image files only' err || fail "$command --out $kind said: $(cat err)"
    [ -s out ] && fail "$command --out $kind built something: $(cat out)"
    [ -e "$kind.partial" ] && fail "$command --out $kind created $kind.partial"
    [ "$(stat -L -c '%F %t:%T %s' "$kind")" = "$before" ] || fail "$kind changed"
  done
  echo "  $kind refused: $(cat err)"
done
[ -L link-to-device ] || fail "the link was replaced"
[ -z "$loop" ] || is_zeros backing 1048576 || fail "the loop device was written"

echo "standard output"
"$exporter" make-iso --data "$dat" --out - 2>trace | cat >piped.iso
cmp piped.iso ref.iso || fail "the image on standard output differs from the file"
grep -qx 'Primary Volume Descriptor' trace || fail "no trace lines on standard error"
"$exporter" make-iso --quiet --data "$dat" --out - 2>trace | cat >/dev/null
[ -s trace ] && fail "--quiet printed: $(cat trace)"
"$exporter" make-iso --quiet --data "$dat" --out - 2>err | head -c 1 >/dev/null
status=${PIPESTATUS[0]}
[ "$status" = 1 ] && grep -q 'Broken pipe' err || fail "a closed pipe gave $status: $(cat err)"

echo "a planted partial name"
ln -s chardev taken.iso.partial || fail "ln"
"$exporter" make-iso --quiet --data "$dat" --out taken.iso 2>err && fail "a taken partial name was accepted"
grep -q 'already exists' err || fail "taken partial name: $(cat err)"
[ -e taken.iso ] && fail "taken.iso was created"
[ "$(stat -L -c '%F %t:%T' taken.iso.partial)" = "character special file 1:3" ] || fail "the link's target changed"

echo "a full file system"
mkdir small || fail "mkdir"
if mount -t tmpfs -o size=1m tmpfs small 2>/dev/null; then
  on_exit "umount '$work/small'"
  "$exporter" make-iso --quiet --data "$dat" --out small/cd.iso 2>err && fail "a full file system was accepted"
  grep -q 'No space left on device' err || fail "full file system: $(cat err)"
  [ -z "$(ls -A small)" ] || fail "left behind: $(ls -A small)"
  echo "  $(cat err)"
else
  echo "  tmpfs cannot be mounted here: skipped"
fi
echo PASS
