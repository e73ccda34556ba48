#!/usr/bin/env bash
# Batch jobs write what installer-export writes; nocd, a locked drive, no data file, bad options refused.
. "$(dirname "$0")/lib.sh"
need fsck.fat cmp timeout truncate flock
mkdir run && cp "$built/install.dat" run/ && truncate -s $floppy_bytes run/{floppy,spare,busy}.img

run() {  # NAME 0|2|fail ARGS...: the installer in run/ (under $wrap), output in NAME.out, NAME.err
  local name=$1 expected=$2 status=0
  shift 2
  # shellcheck disable=SC2086 # $wrap is a command line
  (cd run && timeout 45 ${wrap:-} "$installer" "$@") >"$name.out" 2>"$name.err" || status=$?
  [ $status != 124 ] || fail "installer $* did not end within 45 s"
  if [ "$expected" = fail ]; then [ $status != 0 ]; else [ $status = "$expected" ]; fi ||
    fail "installer $* exited $status: $(cat "$name.out" "$name.err")"
}

run floppy 0 --drive A=floppy.img --batch create-floppy
export_floppy run/install.dat export.img
check_written run/floppy.img export.img
has_line floppy.out "Writing cylinder $used of $used"  # and the title first, one success message, the ready line last:
[ "$(sed -n '1p; /^Finished:/p; $p' floppy.out)" = "Talvo Boot Media Installer
Finished: The Talvo boot disk has been written to the floppy disk in drive A:.
Ready. Choose a drive and press a Create button (first floppy drive A:)." ] || fail "floppy.out: $(cat floppy.out)"

# The CD job names the floppy drive in its message and leaves it alone.
run cdjob 0 --drive A=spare.img --recorder "stdio:$work/cd.iso" --batch create-cd
is_zeros run/spare.img $floppy_bytes || fail "the CD job wrote the floppy"
export_iso run/install.dat export.iso
cmp cd.iso export.iso || fail "the burned file differs from the exported image"
has_line cdjob.out "Finished: The Talvo boot disk has been written to the CD. A boot floppy can also be made in drive A:."

run nocd fail nocd --recorder "stdio:$work/nocd.iso" --batch create-cd
grep -qF "installer: Create CD-ROM is disabled: " nocd.err || fail "nocd gave no reason: $(cat nocd.err)"
[ ! -e nocd.iso ] || fail "with nocd the recorder was written"
run again 0 --recorder "stdio:$work/again.iso" --batch create-cd

wrap="flock -x busy.img" run busy fail --drive A=busy.img --batch create-floppy  # as a second installer would
has_line busy.out "Error: The floppy drive is in use by another program and cannot be locked."
is_zeros run/busy.img $floppy_bytes || fail "the locked drive was written"
! grep -q '^Finished:' busy.out || fail "the job on a locked drive reported success"

rm run/install.dat
run missing fail --drive A=floppy.img --batch create-floppy
has_line missing.out "Error: Could not load Image and Resource file."

for bad in "--drive" "--drive C=x" "--batch make-tea" "--recorder ''" "cdno" "--batch create-cd --batch create-floppy"; do
  eval "run bad 2 $bad"
  grep -q '^usage: installer' bad.err || fail "installer $bad printed no usage"
done
