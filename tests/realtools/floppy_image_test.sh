#!/usr/bin/env bash
# Checks exported floppy images with programs that share no code with the installer:
# fsck.fat and mtools read them back, QEMU boots them with the sample boot sector.
#
# usage: floppy_image_test.sh EXPORTER MKINSTALLDAT SAMPLE_BUILD_DIR SAMPLE_SOURCE_DIR
set -u
exporter=$(realpath "$1") mkinstalldat=$(realpath "$2") built=$(realpath "$3") source=$(realpath "$4")

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in fsck.fat mcopy mattrib qemu-system-i386 timeout cmp; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/floppy_image_test.XXXXXX") || fail "mktemp"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1796589348

# Exports DAT to IMG and proves the image sound: fsck clean, both FATs equal, files back
# byte for byte, KERNEL.MAP read-only, hidden and system.
check_image() {
  local dat=$1 img=$2 kernel=$3 readme=$4
  "$exporter" make-floppy-image --quiet --data "$dat" --out "$img" || fail "export of $dat"
  [ "$(stat -c %s "$img")" = 1474560 ] || fail "$img is not 1,474,560 bytes"
  fsck.fat -n "$img" >"$work/fsck.log" 2>&1 || { cat "$work/fsck.log"; fail "fsck.fat on $img"; }
  cmp <(dd if="$img" bs=512 skip=1 count=9 status=none) \
      <(dd if="$img" bs=512 skip=10 count=9 status=none) || fail "the two FATs of $img differ"
  rm -f "$work/k" "$work/r"
  mcopy -n -i "$img" ::KERNEL.MAP "$work/k" && cmp "$work/k" "$kernel" || fail "KERNEL.MAP of $img"
  mcopy -n -i "$img" ::README.TXT "$work/r" && cmp "$work/r" "$readme" || fail "README.TXT of $img"
  mattrib -i "$img" ::KERNEL.MAP | grep -q '^ *SHR' || fail "KERNEL.MAP attributes: $(mattrib -i "$img" ::KERNEL.MAP)"
  mattrib -i "$img" ::README.TXT | grep -q '^ *::' || fail "README.TXT has attributes: $(mattrib -i "$img" ::README.TXT)"
}

echo "sample data file"
check_image "$built/install.dat" "$work/sample.img" "$source/files/KERNEL.MAP" "$source/files/readme.txt"
check_image "$built/install-de.dat" "$work/sample-de.img" "$source/files/KERNEL.MAP" "$source/files/readme.txt"
cmp "$work/sample.img" "$work/sample-de.img" || fail "the language of the texts changed the floppy"

echo "reproducible with SOURCE_DATE_EPOCH"
"$exporter" make-floppy-image --quiet --data "$built/install.dat" --out "$work/again.img" || fail export
cmp "$work/sample.img" "$work/again.img" || fail "two exports differ"

# Generated data files: an empty KERNEL.MAP (first cluster 0), a KERNEL.MAP that fills
# whole sectors, and a large one whose chain crosses many FAT groups.
make_dat() {  # OUT KERNEL README
  printf '10002 file %s\n10003 file %s\n5100 file %s\n' "$built/base.img" "$2" "$3" > "$work/m"
  "$mkinstalldat" --out "$1" --manifest "$work/m" || fail "mkinstalldat $1"
}
: > "$work/empty"
head -c 4096 /dev/urandom > "$work/whole"
head -c 300001 /dev/urandom > "$work/large"
printf 'Generated README first line\r\nmore\r\n' > "$work/readme"
for kernel in empty whole large; do
  echo "KERNEL.MAP: $kernel"
  make_dat "$work/$kernel.dat" "$work/$kernel" "$work/readme"
  check_image "$work/$kernel.dat" "$work/$kernel.img" "$work/$kernel" "$work/readme"
done
echo "README.TXT: empty"
make_dat "$work/emptyreadme.dat" "$work/large" "$work/empty"
check_image "$work/emptyreadme.dat" "$work/emptyreadme.img" "$work/large" "$work/empty"

# The boot: the sample boot sector finds README.TXT and prints its first line on COM1.
boot() {  # IMG LOG EXPECTED
  timeout 15 qemu-system-i386 -accel tcg -drive file="$1",if=floppy,format=raw -boot a \
    -display none -serial file:"$2" -no-reboot >/dev/null 2>&1 &
  local pid=$! i
  for i in $(seq 1 60); do
    grep -qF "$3" "$2" 2>/dev/null && break
    sleep 0.25
  done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  grep -qF "$3" "$2" || fail "booting $1 did not print '$3' (log: $(cat -A "$2" 2>/dev/null))"
}
echo "boot"
boot "$work/sample.img" "$work/sample.log" "$(head -n 1 "$source/files/readme.txt" | tr -d '\r')"
boot "$work/large.img" "$work/large.log" "Generated README first line"
echo "PASS"
