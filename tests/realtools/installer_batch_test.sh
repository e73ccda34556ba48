#!/usr/bin/env bash
# The installer's batch mode on the sample data file: the floppy job writes an image file
# mapped as drive A: and the CD job burns to a libburn file target; both must equal what
# installer-export writes, and fsck.fat reads the floppy back. Then the refusals: nocd, a
# drive another writer has locked, no install.dat, bad options.
#
# usage: installer_batch_test.sh INSTALLER EXPORTER SAMPLE_BUILD_DIR
installer=$(realpath "$1") exporter=$(realpath "$2") built=$(realpath "$3")
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
need fsck.fat cmp timeout dd truncate flock
cd "$work" || fail "cd $work"
mkdir run && cp "$built/install.dat" run/ || fail "copy of the sample data file"
for disk in floppy spare busy; do truncate -s "$floppy_bytes" "run/$disk.img" || fail "truncate"; done

# Runs the installer in run/ (under the command $wrap names, if any) with a time limit;
# its output goes to NAME.out and NAME.err. Its exit code must be STATUS, or with "fail"
# not 0.
run() {  # NAME 0|2|fail ARGS...
  local name=$1 expected=$2 status
  shift 2
  # shellcheck disable=SC2086 # $wrap is a command line
  (cd run && timeout 45 ${wrap:-} "$installer" "$@") >"$name.out" 2>"$name.err"
  status=$?
  [ "$status" != 124 ] || fail "installer $* did not end within 45 s"
  if [ "$expected" = fail ]; then [ "$status" != 0 ]; else [ "$status" = "$expected" ]; fi ||
    fail "installer $* exited $status: $(cat "$name.out" "$name.err")"
}

echo "floppy job"
run floppy 0 --drive A=floppy.img --batch create-floppy
export_floppy run/install.dat export.img
check_written run/floppy.img export.img
echo "  $used cylinder(s) written"
# The sample's texts: the title first, the last cylinder's line, the message, the ready line.
[ "$(head -n 1 floppy.out)" = "Talvo Boot Media Installer" ] || fail "no title first: $(head -n 1 floppy.out)"
has_line floppy.out "Writing cylinder $used of $used"
has_line floppy.out "Finished: The Talvo boot disk has been written to the floppy disk in drive A:."
[ "$(tail -n 1 floppy.out)" = "Ready. Choose a drive and press a Create button (first floppy drive A:)." ] ||
  fail "the ready line does not come last: $(tail -n 1 floppy.out)"
[ "$(grep -c '^Finished:' floppy.out)" = 1 ] || fail "not exactly one success message"

echo "CD job, with a floppy drive that its message names and that it leaves alone"
run cdjob 0 --drive A=spare.img --recorder "stdio:$work/cd.iso" --batch create-cd
is_zeros run/spare.img "$floppy_bytes" || fail "the CD job wrote the floppy"
"$exporter" make-iso --quiet --data run/install.dat --out export.iso || fail "export of the ISO"
cmp cd.iso export.iso || fail "the burned file differs from the exported image"
has_line cdjob.out "Finished: The Talvo boot disk has been written to the CD. A boot floppy can also be made in drive A:."

echo "nocd, then the same recorder without it"
run nocd fail nocd --recorder "stdio:$work/nocd.iso" --batch create-cd
grep -qF "installer: Create CD-ROM is disabled: " nocd.err || fail "nocd gave no reason: $(cat nocd.err)"
[ ! -e nocd.iso ] || fail "with nocd the recorder was written"
run again 0 --recorder "stdio:$work/again.iso" --batch create-cd

echo "a drive whose lock another writer holds (flock, as a second installer would)"
wrap="flock -x busy.img" run busy fail --drive A=busy.img --batch create-floppy
has_line busy.out "Error: The floppy drive is in use by another program and cannot be locked."
is_zeros run/busy.img "$floppy_bytes" || fail "the locked drive was written"
! grep -q '^Finished:' busy.out || fail "the job on a locked drive reported success"

echo "no install.dat"
rm run/install.dat
run missing fail --drive A=floppy.img --batch create-floppy
has_line missing.out "Error: Could not load Image and Resource file."

echo "bad options"
for bad in "--drive" "--drive C=x" "--batch make-tea" "--recorder ''" "cdno" \
  "--batch create-cd --batch create-floppy"; do
  eval "run bad 2 $bad"
  grep -q '^usage: installer' bad.err || fail "installer $bad printed no usage"
done
echo "PASS"
