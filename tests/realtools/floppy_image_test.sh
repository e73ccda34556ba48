#!/usr/bin/env bash
# Exported floppies read back by fsck.fat and mtools, and booted in QEMU with the sample boot sector.
. "$(dirname "$0")/lib.sh"
need fsck.fat mcopy mattrib qemu-system-i386 timeout cmp

check_image() {  # NAME DAT KERNEL README: 1.44 MB, fsck clean, equal FATs, the files, SHR KERNEL.MAP
  local img=$1.img
  export_floppy "$2" "$img"
  [ "$(stat -c %s "$img")" = $floppy_bytes ] || fail "$img is not 1,474,560 bytes"
  check_fsck "$img"
  cmp <(dd if="$img" bs=512 skip=1 count=9 status=none) <(dd if="$img" bs=512 skip=10 count=9 status=none) ||
    fail "the two FATs of $img differ"
  mcopy -n -i "$img" ::KERNEL.MAP k && cmp k "$3" || fail "KERNEL.MAP of $img"
  mcopy -n -i "$img" ::README.TXT r && cmp r "$4" || fail "README.TXT of $img"
  [[ "$(mattrib -i "$img" ::KERNEL.MAP)" =~ ^\ *SHR ]] || fail "KERNEL.MAP: $(mattrib -i "$img" ::KERNEL.MAP)"
  [[ "$(mattrib -i "$img" ::README.TXT)" =~ ^\ *:: ]] || fail "README.TXT: $(mattrib -i "$img" ::README.TXT)"
}

check_image install "$built/install.dat" "$source/files/KERNEL.MAP" "$source/files/readme.txt"
export_floppy "$built/install-de.dat" de.img && cmp install.img de.img || fail "the texts' language changed the floppy"

# An empty file (first cluster 0), whole sectors, and a chain across many FAT groups.
: >empty && head -c 4096 /dev/urandom >whole && head -c 300001 /dev/urandom >large
printf 'Generated README first line\r\nmore\r\n' >readme
for files in empty:readme whole:readme large:readme large:empty; do
  kernel=${files%:*} readme=${files#*:}
  floppy_entries "$work/$kernel" "$work/$readme" | make_dat "$kernel-$readme.dat"
  check_image "$kernel-$readme" "$kernel-$readme.dat" $kernel $readme
done

boot_floppy sample "$readme_line" install.img
boot_floppy large "Generated README first line" large-readme.img
