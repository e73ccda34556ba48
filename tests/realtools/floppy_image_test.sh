#!/usr/bin/env bash
# Exported floppy images read back by programs that share no code with the installer:
# fsck.fat and mtools (contents and attributes); QEMU boots them with the sample boot sector.
#
# usage: floppy_image_test.sh EXPORTER MKINSTALLDAT SAMPLE_BUILD_DIR SAMPLE_SOURCE_DIR
exporter=$(realpath "$1") mkinstalldat=$(realpath "$2") built=$(realpath "$3") source=$(realpath "$4")
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
need fsck.fat mcopy mattrib qemu-system-i386 timeout cmp

# DAT exported to NAME.img: 1.44 MB, fsck clean, both FATs equal, the files back byte for
# byte, KERNEL.MAP read-only, hidden and system, README.TXT with no attributes.
check_image() {  # NAME DAT KERNEL README
  local img=$work/$1.img
  export_floppy "$2" "$img"
  [ "$(stat -c %s "$img")" = "$floppy_bytes" ] || fail "$img is not 1,474,560 bytes"
  check_fsck "$img"
  cmp <(dd if="$img" bs=512 skip=1 count=9 status=none) \
    <(dd if="$img" bs=512 skip=10 count=9 status=none) || fail "the two FATs of $img differ"
  rm -f "$work/k" "$work/r"
  mcopy -n -i "$img" ::KERNEL.MAP "$work/k" && cmp "$work/k" "$3" || fail "KERNEL.MAP of $img"
  mcopy -n -i "$img" ::README.TXT "$work/r" && cmp "$work/r" "$4" || fail "README.TXT of $img"
  mattrib -i "$img" ::KERNEL.MAP | grep -q '^ *SHR' || fail "KERNEL.MAP: $(mattrib -i "$img" ::KERNEL.MAP)"
  mattrib -i "$img" ::README.TXT | grep -q '^ *::' || fail "README.TXT: $(mattrib -i "$img" ::README.TXT)"
}

echo "the sample data file, in both languages"
for dat in install install-de; do
  check_image "$dat" "$built/$dat.dat" "$source/files/KERNEL.MAP" "$source/files/readme.txt"
done
cmp "$work/install.img" "$work/install-de.img" || fail "the language of the texts changed the floppy"

# An empty file (first cluster 0), one of whole sectors, and a large one whose chain
# crosses many FAT groups.
: >"$work/empty"
head -c 4096 /dev/urandom >"$work/whole"
head -c 300001 /dev/urandom >"$work/large"
printf 'Generated README first line\r\nmore\r\n' >"$work/readme"
for files in empty:readme whole:readme large:readme large:empty; do
  kernel=${files%:*} readme=${files#*:}
  echo "KERNEL.MAP $kernel, README.TXT $readme"
  floppy_entries "$work/$kernel" "$work/$readme" | make_dat "$work/$kernel-$readme.dat"
  check_image "$kernel-$readme" "$work/$kernel-$readme.dat" "$work/$kernel" "$work/$readme"
done

echo "boot"
boot_floppy sample "$(head -n 1 "$source/files/readme.txt" | tr -d '\r')" "$work/install.img"
boot_floppy large "Generated README first line" "$work/large-readme.img"
echo "PASS"
