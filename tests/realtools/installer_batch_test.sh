#!/usr/bin/env bash
# Runs the installer's batch mode on the sample data file: the floppy job writes into an
# image file mapped as drive A: and the CD job burns to a libburn file target. fsck.fat
# reads the floppy back, and both results must equal what installer-export writes.
#
# usage: installer_batch_test.sh INSTALLER EXPORTER SAMPLE_BUILD_DIR
set -u
installer=$(realpath "$1") exporter=$(realpath "$2") built=$(realpath "$3")

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in fsck.fat cmp timeout dd truncate flock; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/installer_batch_test.XXXXXX") || fail "mktemp"
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1796589348
readonly floppy_bytes=1474560 cylinder_bytes=18432 cylinders=80
cd "$work" || fail "cd $work"
mkdir run && cp "$built/install.dat" run/ || fail "copy of the sample data file"

# Runs the installer in run/ with a time limit; its output goes to NAME.out and NAME.err,
# its exit code to $status.
run() {  # NAME ARGS...
  local name=$1
  shift
  (cd run && timeout 45 "$installer" "$@") >"$name.out" 2>"$name.err"
  status=$?
  [ "$status" != 124 ] || fail "installer $* did not end within 45 s"
}
# Fails unless NAME.out holds LINE as a whole line.
has_line() {  # NAME LINE
  grep -qxF -- "$2" "$1.out" || fail "installer output lacks '$2': $(cat "$1.out" "$1.err")"
}

echo "floppy job"
truncate -s "$floppy_bytes" run/floppy.img || fail "truncate"
run floppy --drive A=floppy.img --batch create-floppy
[ "$status" = 0 ] || fail "floppy job exited $status: $(cat floppy.out floppy.err)"
"$exporter" make-floppy-image --quiet --data run/install.dat --out export.img || fail "export"
# The cylinders the job writes: block 0 and each block from 1 on up to the first one that
# holds only the 0xF6 format filler.
head -c "$cylinder_bytes" /dev/zero | tr '\0' '\366' >filler
used=1
while [ "$used" -lt "$cylinders" ] &&
  ! dd if=export.img bs="$cylinder_bytes" skip="$used" count=1 status=none | cmp -s - filler; do
  used=$((used + 1))
done
written=$((used * cylinder_bytes))
echo "  $used cylinder(s) written"
cmp -n "$written" run/floppy.img export.img || fail "the floppy differs from the export in the first $used cylinders"
cmp <(tail -c +"$((written + 1))" run/floppy.img) <(head -c "$((floppy_bytes - written))" /dev/zero) ||
  fail "the floppy was written past cylinder $used"
[ "$(stat -c %s run/floppy.img)" = "$floppy_bytes" ] || fail "the floppy changed its size"
fsck.fat -n run/floppy.img >fsck.log 2>&1 || { cat fsck.log >&2; fail "fsck.fat on the floppy"; }
# The sample's texts: the title first, the last cylinder's line, the message, the ready line.
[ "$(head -n 1 floppy.out)" = "Talvo Boot Media Installer" ] || fail "no title first: $(head -n 1 floppy.out)"
has_line floppy "Writing cylinder $used of $used"
has_line floppy "Finished: The Talvo boot disk has been written to the floppy disk in drive A:."
tail -n 1 floppy.out | grep -qxF "Ready. Choose a drive and press a Create button (first floppy drive A:)." ||
  fail "the ready line does not come last: $(tail -n 1 floppy.out)"
[ "$(grep -c '^Finished:' floppy.out)" = 1 ] || fail "not exactly one success message"

echo "CD job"
# A floppy drive too, so that the message names its letter; the CD job leaves it alone.
truncate -s "$floppy_bytes" run/spare.img || fail "truncate"
run cd --drive A=spare.img --recorder "stdio:$work/cd.iso" --batch create-cd
[ "$status" = 0 ] || fail "CD job exited $status: $(cat cd.out cd.err)"
cmp -s run/spare.img <(head -c "$floppy_bytes" /dev/zero) || fail "the CD job wrote the floppy"
"$exporter" make-iso --quiet --data run/install.dat --out export.iso || fail "export of the ISO"
cmp cd.iso export.iso || fail "the burned file differs from the exported image"
has_line cd "Finished: The Talvo boot disk has been written to the CD. A boot floppy can also be made in drive A:."

echo "nocd"
run nocd nocd --recorder "stdio:$work/nocd.iso" --batch create-cd
[ "$status" != 0 ] || fail "with nocd the CD job ran: $(cat nocd.out)"
grep -qF "installer: Create CD-ROM is disabled: " nocd.err || fail "nocd gave no reason: $(cat nocd.err)"
[ ! -e nocd.iso ] || fail "with nocd the recorder was written"
# The same recorder without nocd: the CD target is there, so nocd alone turned it off.
run again --recorder "stdio:$work/again.iso" --batch create-cd
[ "$status" = 0 ] || fail "CD job exited $status: $(cat again.out again.err)"

echo "a floppy job that cannot lock the drive fails"
# flock holds the drive's lock as another writer of the installer would.
truncate -s "$floppy_bytes" run/busy.img || fail "truncate"
(cd run && timeout 45 flock -x busy.img "$installer" --drive A=busy.img --batch create-floppy) \
  >busy.out 2>busy.err
status=$?
[ "$status" != 0 ] && [ "$status" != 124 ] || fail "the job on a locked drive exited $status: $(cat busy.out)"
has_line busy "Error: The floppy drive is in use by another program and cannot be locked."
cmp -s run/busy.img <(head -c "$floppy_bytes" /dev/zero) || fail "the locked drive was written"
! grep -q '^Finished:' busy.out || fail "the job on a locked drive reported success"

echo "no install.dat"
rm run/install.dat
run missing --drive A=floppy.img --batch create-floppy
[ "$status" != 0 ] || fail "without install.dat the batch run exited 0"
has_line missing "Error: Could not load Image and Resource file."

echo "bad options"
for bad in "--drive" "--drive C=x" "--batch make-tea" "--recorder ''" "cdno" \
  "--batch create-cd --batch create-floppy"; do
  eval "run bad $bad"
  [ "$status" = 2 ] || fail "installer $bad exited $status, not 2"
  grep -q '^usage: installer' bad.err || fail "installer $bad printed no usage"
done
echo "PASS"
