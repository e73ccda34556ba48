#!/usr/bin/env bash
# The sample boot sector's FAT12 layout; mtools-filled floppies boot in QEMU and print README.TXT's first line.
. "$(dirname "$0")/lib.sh"
need nasm mcopy mdel mmd fsck.fat qemu-system-i386 timeout od cmp
hex() { od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }  # FILE OFFSET COUNT
random_text() { head -c 8192 /dev/urandom | LC_ALL=C tr -dc 'A-Za-z0-9 .,:-' | cut -c "1-$1"; }

nasm -f bin -o base.img "$source/boot/bootsector.asm"
[ "$(stat -c %s base.img)" = $((33 * 512)) ] || fail "the base image is not 33 sectors"
# Jump, NOP; BPB (512,1,1,2 FATs,224,2880,F0,9,18,2 heads); drive 0, 29h; "FAT12"; signature; media.
for field in 0:eb 2:90 11:000201010002e000400bf00900120002000000000000000000 36:00 38:29 \
  54:4641543132202020 510:55aa 512:f0ffff; do
  at=${field%:*} value=${field#*:}
  [ "$(hex base.img "$at" $((${#value} / 2)))" = "$value" ] || fail "bytes from $at are not $value"
done
cmp <(dd if=base.img bs=512 skip=1 count=9 status=none) <(dd if=base.img bs=512 skip=10 count=9 status=none) ||
  fail "the two FATs differ"
for range in 515:4605 9728:7168; do  # the FAT after its media entry; the root directory
  is_zeros <(tail -c +$((${range%:*} + 1)) base.img | head -c "${range#*:}") "${range#*:}" || fail "bytes $range are not zero"
done

new_floppy() {  # NAME FILE...: the base, its data area filled with 'Z', then FILEs copied on
  img=$1.img
  shift
  { cat base.img && head -c $((floppy_bytes - 33 * 512)) /dev/zero | tr '\0' Z; } >"$img"
  for file; do mcopy -i "$img" "$file" "::$file"; done
}
boots() { check_fsck "$img" && boot_floppy "$img" "$1" "$img"; }  # LINE

# A 1500-byte line, its chain jumping two freed clusters, behind a deleted root entry.
head -c 1000 /dev/urandom >KERNEL.MAP && for file in ONE.BIN TWO.BIN THREE.BIN; do head -c 512 /dev/urandom >$file; done
new_floppy long KERNEL.MAP ONE.BIN TWO.BIN THREE.BIN
mdel -i "$img" ::ONE.BIN ::TWO.BIN
line=$(random_text 1500) && printf '%s\nsecond line\n' "$line" >README.TXT
mcopy -i "$img" README.TXT ::README.TXT
mdel -i "$img" ::KERNEL.MAP
[ "$(hex "$img" 9728 1)" = e5 ] || fail "setup: the first root entry is not a deleted one"
boots "$line"

for line in "only line, no newline $(random_text 10)" ''; do  # no line ending; an empty file
  printf '%s' "$line" >README.TXT && new_floppy "noeol${#line}" README.TXT
  boots "$line"
done

printf 'not the readme\r\n' >OTHER.TXT && new_floppy missing  # README.TXT only as a directory:
mmd -i "$img" ::README.TXT && mcopy -i "$img" OTHER.TXT ::OTHER.TXT
boots "README.TXT not found"

printf 'never printed\r\n' >README.TXT && new_floppy diskerror README.TXT
[ "$(dd if="$img" bs=1 skip=9728 count=11 status=none)" = "README  TXT" ] || fail "setup: README.TXT not first"
# First cluster 0xFEF: LBA 4110, beyond the disk's 80 cylinders, so every read fails.
printf '\357\017' | dd of="$img" bs=1 seek=$((9728 + 26)) conv=notrunc status=none
boot_floppy "$img" "Disk error" "$img"
