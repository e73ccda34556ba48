#!/usr/bin/env bash
# Exported CD images read back by programs that share no code with the installer: isoinfo
# lists both directory trees and the boot record, xorriso reports the El Torito catalog,
# osirrox extracts the files through the Joliet tree, and QEMU boots the CD by floppy
# emulation with the sample boot sector.
#
# usage: iso_image_test.sh EXPORTER MKINSTALLDAT SAMPLE_BUILD_DIR SAMPLE_SOURCE_DIR
exporter=$(realpath "$1") mkinstalldat=$(realpath "$2") built=$(realpath "$3") source=$(realpath "$4")
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
need isoinfo xorriso osirrox qemu-system-i386 timeout cmp dd awk

# The file records of one tree as "extent<TAB>size<TAB>name" lines, in directory order.
listing() {  # ISO [-J]
  isoinfo ${2:+"$2"} -l -i "$1" >"$work/isoinfo.out" 2>&1 || fail "isoinfo ${2:-} -l: $(cat "$work/isoinfo.out")"
  sed -nE 's/^-[-rwx]{9} +[0-9]+ +[0-9]+ +[0-9]+ +([0-9]+) [^[]*\[ *([0-9]+) +[0-9]+\]  (.*) $/\2\t\1\t\3/p' \
    "$work/isoinfo.out"
}

# Fails on any xorriso or libisofs message of severity WARNING or worse but the one every
# image causes: the boot image is none of the CD's files, so no record gives its size
# (libisofs takes 1.44 MB from the emulation type), which matters only for changing it.
check_messages() {  # LOG WHAT
  local unexpected
  unexpected=$(grep -E '(WARNING|MISHAP|SORRY|FAILURE|FATAL|ABORT) *:' "$1" |
    grep -vF 'Found hidden El-Torito image. Its size could not be figured out')
  [ -z "$unexpected" ] || fail "$2 reported: $unexpected"
}

# Proves ISO sound for the files of LIST ("name<TAB>path" lines, in data-file order):
# volume size; both trees with the files' sizes and consecutive extents from sector 747,
# 8.3 names in one; the El Torito catalog; the files back through Joliet; and sectors
# 27-746 equal to the floppy image that make-floppy-image writes from DAT. ISO is exported
# first, its messages in ISO.err.
check_iso() {  # DAT ISO LIST
  local iso=$2 list=$3 name path size extent=747
  export_iso "$1" "$iso"
  : >"$work/records"
  while IFS=$'\t' read -r name path; do
    size=$(stat -c %s "$path") || fail "no file $path"
    printf '%d\t%d\t%s\n' "$extent" "$size" "$name" >>"$work/records"
    extent=$((extent + (size + 2047) / 2048))
  done <"$list"  # the volume ends with the last file

  isoinfo -d -i "$iso" >"$work/d.out" 2>&1 || fail "isoinfo -d: $(cat "$work/d.out")"
  for line in "Volume size is: $extent" 'El Torito VD version 1 found, boot catalog is in sector 20' \
    'Joliet with UCS level 3 found'; do
    has_line "$work/d.out" "$line"
  done
  listing "$iso" -J >"$work/joliet"
  diff "$work/records" "$work/joliet" >&2 || fail "$iso: the Joliet tree (right) differs from the files (left)"
  listing "$iso" >"$work/iso9660"
  diff <(cut -f1,2 "$work/records") <(cut -f1,2 "$work/iso9660") >&2 ||
    fail "$iso: extents or sizes of the ISO 9660 tree (right) differ from the files (left)"
  # d-characters, at most 8 before the dot and 3 after, not both empty, version 1
  ! cut -f3 "$work/iso9660" | grep -vxE '[A-Z0-9_]{1,8}\.[A-Z0-9_]{0,3};1|\.[A-Z0-9_]{1,3};1' ||
    fail "$iso: identifiers above are not 8.3 names"

  xorriso -indev "$iso" -report_el_torito plain >"$work/eltorito" 2>"$work/xorriso.log" ||
    fail "xorriso -report_el_torito: $(cat "$work/xorriso.log")"
  check_messages "$work/xorriso.log" "xorriso on $iso"
  # One image: BIOS, bootable, 1.44 MB emulation, segment 0x7C0, type 6, 1 sector loaded,
  # at LBA 27; 720 blocks of 2048 bytes.
  [ "$(sed -nE 's/^El Torito (catalog|boot img|img blks) *: *//p' "$work/eltorito" | tr -s ' ')" = \
    "$(printf '20 1\n1 BIOS y fd1.4 0x07c0 0x06 1 27\n1 720')" ] || fail "$iso: El Torito report: $(cat "$work/eltorito")"

  mkdir "$work/out" || fail "mkdir"
  osirrox -indev "$iso" -extract / "$work/out" >"$work/osirrox.log" 2>&1 ||
    fail "osirrox -extract: $(cat "$work/osirrox.log")"
  check_messages "$work/osirrox.log" "osirrox on $iso"
  [ "$(find "$work/out" -type f | wc -l)" = "$(wc -l <"$list")" ] || fail "$iso: osirrox extracted other files"
  while IFS=$'\t' read -r name path; do
    cmp "$work/out/$name" "$path" || fail "$iso: '$name' differs from $path"
  done <"$list"
  chmod -R u+w "$work/out" && rm -rf "$work/out"

  export_floppy "$1" "$work/floppy.img"
  cmp <(dd if="$iso" bs=2048 skip=27 count=720 status=none) "$work/floppy.img" ||
    fail "$iso: sectors 27-746 are not the floppy image"
}

# A data file with the sample's floppy and, for each line of LIST, a CD file's name and
# contents. The list's file 0 is README.TXT as well; a list without files names README.
make_cd_dat() {  # OUT LIST README
  { floppy_entries "$source/files/KERNEL.MAP"
    awk -F '\t' '{ printf "%d text %s\n%d file %s\n", 4999 + NR, $1, 5099 + NR, $2 }' "$2"
    [ -s "$2" ] || printf '5100 file %s\n' "${3:-}"
  } | make_dat "$1"
}

echo "sample data file"
awk '$1 >= 5000 && $1 < 5100 && $2 == "text" { name[$1 - 5000] = $3 }
     $1 >= 5100 && $1 < 5200 && $2 == "file" { path[$1 - 5100] = $3 }
     END { for (i = 0; i in name; i++) printf "%s\t%s/%s\n", name[i], dir, path[i] }' \
  dir="$source" "$source/content.manifest" >"$work/sample.list"
[ "$(wc -l <"$work/sample.list")" = 4 ] || fail "the sample manifest does not name 4 CD files"
check_iso "$built/install.dat" "$work/sample.iso" "$work/sample.list"
[ -s "$work/sample.iso.err" ] && fail "unexpected messages: $(cat "$work/sample.iso.err")"
[ "$(cut -f3 "$work/iso9660" | tr '\n' ' ')" = "README.TXT;1 SETUP.CFG;1 DRIVERSL.TEX;1 LICENSE.;1 " ] ||
  fail "8.3 names of the sample: $(cut -f3 "$work/iso9660" | tr '\n' ' ')"

echo "100 files: only those whose records fit one directory sector are kept"
mkdir "$work/files" || fail mkdir
# Mixed-case names of 11 to 32 characters: each Joliet record (33 + 2 x length bytes) is
# longer than any 8.3 record (at most 33 + 15), so Joliet decides.
stem=MixedCaseNamesOfDifferentLengths exts=(Txt bin DAT cFg Md) sizes=(0 2048 5000 1 2047 2049 4096)
for i in $(seq 0 99); do
  head -c "${sizes[i]:-$((i * 733 % 7000))}" /dev/urandom >"$work/files/$i"
  printf '%s%02d.%s\t%s\n' "${stem:0:$((6 + i * 7 % 20))}" "$i" "${exts[i % 5]}" "$work/files/$i"
done >"$work/many.list"
# Records from byte 68 (after "." and "..") up to the sector's end, byte 2048.
kept=$(awk -F '\t' '{ fill += 33 + 2 * length($1); if (68 + fill > 2048) { print NR - 1; exit } }' "$work/many.list")
[ -n "$kept" ] && [ "$kept" -ge 7 ] || fail "the names should not all fit, and files 0-6 should (kept: '$kept')"
make_cd_dat "$work/many.dat" "$work/many.list"
head -n "$kept" "$work/many.list" >"$work/kept.list"
check_iso "$work/many.dat" "$work/many.iso" "$work/kept.list"
{ grep -qw "$kept" "$work/many.iso.err" && grep -qw 100 "$work/many.iso.err"; } ||
  fail "no warning naming $kept of 100 files: '$(cat "$work/many.iso.err")'"

echo "names equal as 8.3 names, the longest Joliet name, and no CD files"
printf 'Both files of this pair\r\n' >"$work/files/pair-readme"
long=$(printf 'L%.0s' $(seq 1 111))
printf '%s\t%s\n' archive.tar.gz "$work/files/pair-readme" archive.tar.gzip "$work/files/2" \
  LongFileName1.txt "$work/files/4" LongFileName2.txt "$work/files/5" "$long" "$work/files/6" >"$work/pairs.list"
: >"$work/empty.list"
for name in pairs empty; do
  make_cd_dat "$work/$name.dat" "$work/$name.list" "$work/files/pair-readme"
  check_iso "$work/$name.dat" "$work/$name.iso" "$work/$name.list"
  echo "  $name, 8.3 names: $(cut -f3 "$work/iso9660" | cut -c1-20 | tr '\n' ' ')"
done

echo "a name of 112 characters, whose Joliet record (33 + 224 bytes) would pass 255 bytes"
{ floppy_entries "$source/files/KERNEL.MAP" "$source/files/readme.txt"; echo "5000 text L$long"; } |
  make_dat "$work/longname.dat"
"$exporter" make-iso --quiet --data "$work/longname.dat" --out "$work/longname.iso" 2>"$work/longname.err" &&
  fail "a name of 112 characters was accepted"
grep -q 112 "$work/longname.err" || fail "the message does not mention 112: '$(cat "$work/longname.err")'"
[ -e "$work/longname.iso" ] && fail "the refused image was left behind"
echo "  $(cat "$work/longname.err")"

echo "boot"
boot_prints sample "$(head -n 1 "$source/files/readme.txt" | tr -d '\r')" -cdrom "$work/sample.iso" -boot d
echo "PASS"
