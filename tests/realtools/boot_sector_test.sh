#!/usr/bin/env bash
# The sample boot sector (sample/boot/bootsector.asm, or BOOTSECTOR_ASM): its FAT12 layout
# as assembled, then floppies filled by mtools, booted in QEMU from the floppy and from a
# CD by floppy emulation. It must print README.TXT's first line and CR LF on COM1.
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
asm=${BOOTSECTOR_ASM:-$here/../../sample/boot/bootsector.asm}
need nasm mcopy mdel mmd fsck.fat qemu-system-i386 xorriso timeout od cmp

hex() { od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }  # FILE OFFSET COUNT
random_text() { LC_ALL=C tr -dc 'A-Za-z0-9 .,:-' </dev/urandom | head -c "$1"; }  # N, no CR or LF

echo "base image layout"
base=$work/base.img
nasm -f bin -o "$base" "$asm" || fail "nasm could not assemble $asm"
[ "$(stat -c %s "$base")" = $((33 * 512)) ] || fail "the base image is not 33 sectors"
# The jump and NOP; 512 bytes per sector, 1 per cluster, 1 reserved, 2 FATs, 224 root
# entries, 2880 sectors, media F0, 9 sectors per FAT, 18 per track, 2 heads, no hidden or
# large sectors; drive 0, extended signature 29h; "FAT12   "; the signature; FAT's media.
for field in 0:eb 2:90 11:000201010002e000400bf00900120002000000000000000000 36:00 38:29 \
  54:4641543132202020 510:55aa 512:f0ffff; do
  value=${field#*:} at=${field%:*}
  [ "$(hex "$base" "$at" $((${#value} / 2)))" = "$value" ] ||
    fail "bytes from $at are $(hex "$base" "$at" $((${#value} / 2))), not $value"
done
cmp -s <(dd if="$base" bs=512 skip=1 count=9 status=none) \
  <(dd if="$base" bs=512 skip=10 count=9 status=none) || fail "the two FATs differ"
for range in 515:4605 9728:7168; do  # the FAT after its media entry; the root directory
  [ -z "$(tail -c +$((${range%:*} + 1)) "$base" | head -c "${range#*:}" | LC_ALL=C tr -d '\0')" ] ||
    fail "bytes $range of the base image are not all zero"
done

# A full-size floppy from the base, its data area filled with 'Z' so that reading past
# the end of a file shows; add copies files of the work folder onto it.
new_floppy() {  # NAME
  img=$work/$1.img
  { cat "$base" && head -c $((floppy_bytes - 33 * 512)) /dev/zero | tr '\0' Z; } >"$img"
}
add() {  # FILE...
  local file
  for file; do mcopy -i "$img" "$work/$file" "::$file" || fail "mcopy $file"; done
}
boots() { check_fsck "$img" && boot_floppy "$1" "$2" "$img"; }  # NAME LINE

echo "a short first line after another file, from the floppy and from a CD"
new_floppy basic
head -c 1000 /dev/urandom >"$work/KERNEL.MAP"
line="Hello from the sample floppy $(random_text 12)"
printf '%s\r\nsecond line\r\n' "$line" >"$work/README.TXT"
add KERNEL.MAP README.TXT
boots basic "$line"
mkdir "$work/cd" && cp "$img" "$work/cd/boot.img" || fail "copy of the floppy"
xorriso -as mkisofs -quiet -o "$work/basic.iso" -b boot.img "$work/cd" 2>"$work/xorriso.err" ||
  { cat "$work/xorriso.err" >&2; fail "xorriso could not build the CD"; }
boot_prints "basic-cd" "$line" -cdrom "$work/basic.iso" -boot d

echo "a 1500-byte first line on a fragmented chain, behind a deleted entry"
new_floppy long
for file in ONE.BIN TWO.BIN THREE.BIN; do head -c 512 /dev/urandom >"$work/$file"; done
add KERNEL.MAP ONE.BIN TWO.BIN THREE.BIN
# Two free clusters in front of THREE.BIN, so README.TXT's chain jumps over it; then a
# deleted entry in front of README.TXT's.
mdel -i "$img" ::ONE.BIN ::TWO.BIN || fail "mdel"
line=$(random_text 1500)
printf '%s\nsecond line\n' "$line" >"$work/README.TXT"
add README.TXT
mdel -i "$img" ::KERNEL.MAP || fail "mdel KERNEL.MAP"
[ "$(hex "$img" 9728 1)" = e5 ] || fail "setup: the first root entry is not a deleted one"
boots long "$line"

echo "no line ending; an empty README.TXT"
for name in noeol empty; do
  new_floppy "$name"
  line=''
  [ "$name" = empty ] || line="only line, no newline $(random_text 10)"
  printf '%s' "$line" >"$work/README.TXT"
  add README.TXT
  boots "$name" "$line"
done

echo "no README.TXT file, only a directory of that name"
new_floppy missing
mmd -i "$img" ::README.TXT || fail "mmd README.TXT"
printf 'not the readme\r\n' >"$work/OTHER.TXT"
add OTHER.TXT
boots missing "README.TXT not found"

echo "an unreadable sector"
new_floppy diskerror
printf 'never printed\r\n' >"$work/README.TXT"
add README.TXT
[ "$(dd if="$img" bs=1 skip=9728 count=11 status=none)" = "README  TXT" ] ||
  fail "setup: README.TXT is not the first root entry"
# First cluster 0xFEF: LBA 4110, beyond the disk's 80 cylinders, so every read fails.
printf '\357\017' | dd of="$img" bs=1 seek=$((9728 + 26)) conv=notrunc status=none
boot_floppy diskerror "Disk error" "$img"
echo "PASS"
