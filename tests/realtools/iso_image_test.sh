#!/usr/bin/env bash
# Exported CDs read back by isoinfo, xorriso, osirrox (through Joliet), and booted in QEMU.
. "$(dirname "$0")/lib.sh"
need isoinfo xorriso osirrox qemu-system-i386 timeout cmp awk

listing() {  # ISO [-J]: the file records as "extent<TAB>size<TAB>name" lines, in directory order
  isoinfo ${2:+"$2"} -l -i "$1" >isoinfo.out 2>&1 || fail "isoinfo ${2:-} -l: $(cat isoinfo.out)"
  sed -nE 's/^-[-rwx]{9} +[0-9]+ +[0-9]+ +[0-9]+ +([0-9]+) [^[]*\[ *([0-9]+) +[0-9]+\]  (.*) $/\2\t\1\t\3/p' isoinfo.out
}
check_messages() {  # LOG: no libisofs WARNING or worse but the unsized boot image's
  ! grep -E '(WARNING|MISHAP|SORRY|FAILURE|FATAL|ABORT) *:' "$1" |
    grep -vF 'Found hidden El-Torito image. Its size could not be figured out' || fail "$1 has the lines above"
}

check_iso() {  # DAT ISO LIST: LIST's "name<TAB>path" files from sector 747 in both trees, El Torito, floppy at 27
  local iso=$2 name path size extent=747
  export_iso "$1" "$iso"
  while IFS=$'\t' read -r name path; do
    size=$(stat -c %s "$path")
    printf '%d\t%d\t%s\n' $extent "$size" "$name"
    extent=$((extent + (size + 2047) / 2048))
  done <"$3" >records
  isoinfo -d -i "$iso" >d.out 2>&1 || fail "isoinfo -d: $(cat d.out)"
  for line in "Volume size is: $extent" 'El Torito VD version 1 found, boot catalog is in sector 20' \
    'Joliet with UCS level 3 found'; do has_line d.out "$line"; done
  diff records <(listing "$iso" -J) >&2 || fail "$iso: the Joliet tree (right) differs from the files (left)"
  listing "$iso" >iso9660
  diff <(cut -f1,2 records) <(cut -f1,2 iso9660) >&2 || fail "$iso: the ISO 9660 tree's extents or sizes (right) differ"
  ! cut -f3 iso9660 | grep -vxE '[A-Z0-9_]{1,8}\.[A-Z0-9_]{0,3};1|\.[A-Z0-9_]{1,3};1' || fail "$iso: not 8.3 names"

  xorriso -indev "$iso" -report_el_torito plain >eltorito 2>xorriso.log || fail "xorriso: $(cat xorriso.log)"
  check_messages xorriso.log
  # One BIOS image: bootable, 1.44 MB, segment 0x7C0, type 6, 1 sector loaded, LBA 27, 720 blocks.
  [ "$(sed -nE 's/^El Torito (catalog|boot img|img blks) *: *//p' eltorito | tr -s ' ')" = \
    "$(printf '20 1\n1 BIOS y fd1.4 0x07c0 0x06 1 27\n1 720')" ] || fail "$iso: El Torito report: $(cat eltorito)"

  osirrox -indev "$iso" -extract / "$iso.files" >osirrox.log 2>&1 || fail "osirrox -extract: $(cat osirrox.log)"
  check_messages osirrox.log
  [ "$(find "$iso.files" -type f | wc -l)" = "$(wc -l <"$3")" ] || fail "$iso: osirrox extracted other files"
  while IFS=$'\t' read -r name path; do cmp "$iso.files/$name" "$path" || fail "$iso: '$name' differs"; done <"$3"
  export_floppy "$1" floppy.img
  cmp <(dd if="$iso" bs=2048 skip=27 count=720 status=none) floppy.img || fail "$iso: sectors 27-746 are not the floppy"
}

make_cd_dat() {  # OUT LIST README: the sample floppy, LIST's files (file 0 or README as README.TXT)
  { floppy_entries "$source/files/KERNEL.MAP"
    awk -F '\t' '{ printf "%d text %s\n%d file %s\n", 4999 + NR, $1, 5099 + NR, $2 }' "$2"
    [ -s "$2" ] || printf '5100 file %s\n' "${3:-}"
  } | make_dat "$1"
}

printf "%s\t$source/files/%s\n" readme.txt readme.txt Setup.Cfg setup.cfg Drivers-List.text drivers-list.text \
  LICENSE LICENSE >sample.list  # as in the sample's manifest
check_iso "$built/install.dat" sample.iso sample.list
[ ! -s sample.iso.err ] || fail "unexpected messages: $(cat sample.iso.err)"
[ "$(cut -f3 iso9660 | tr '\n' ' ')" = "README.TXT;1 SETUP.CFG;1 DRIVERSL.TEX;1 LICENSE.;1 " ] ||
  fail "8.3 names of the sample: $(cut -f3 iso9660 | tr '\n' ' ')"
boot_prints sample "$readme_line" -cdrom sample.iso -boot d

# 100 files: only those whose Joliet records (33 + 2 x 11-32 characters) fit one sector are kept.
mkdir files
stem=MixedCaseNamesOfDifferentLengths exts=(Txt bin DAT cFg Md) sizes=(0 2048 5000 1 2047 2049 4096)
for i in $(seq 0 99); do
  head -c "${sizes[i]:-$((i * 733 % 7000))}" /dev/urandom >files/$i
  printf '%s%02d.%s\t%s\n' "${stem:0:$((6 + i * 7 % 20))}" "$i" "${exts[i % 5]}" "$work/files/$i"
done >many.list
kept=$(awk -F '\t' '{ fill += 33 + 2 * length($1); if (68 + fill > 2048) { print NR - 1; exit } }' many.list)
[ -n "$kept" ] && [ "$kept" -ge 7 ] || fail "the names should not all fit, and files 0-6 should (kept: '$kept')"
make_cd_dat many.dat many.list
head -n "$kept" many.list >kept.list
check_iso many.dat many.iso kept.list
grep -qw "$kept" many.iso.err && grep -qw 100 many.iso.err || fail "no warning of $kept of 100 files: $(cat many.iso.err)"

# Names equal as 8.3 names, the longest Joliet name, and no CD files.
printf 'Both files of this pair\r\n' >files/pair-readme && long=$(printf 'L%.0s' $(seq 111))
printf "%s\t$work/files/%s\n" archive.tar.gz pair-readme archive.tar.gzip 2 LongFileName1.txt 4 \
  LongFileName2.txt 5 "$long" 6 >pairs.list && : >empty.list
for name in pairs empty; do
  make_cd_dat $name.dat $name.list "$work/files/pair-readme"
  check_iso $name.dat $name.iso $name.list
done

# A name of 112 characters, whose Joliet record (33 + 224 bytes) would pass 255 bytes.
{ floppy_entries "$source/files/KERNEL.MAP" "$source/files/readme.txt"; echo "5000 text L$long"; } | make_dat longname.dat
! "$exporter" make-iso --quiet --data longname.dat --out longname.iso 2>longname.err || fail "a 112-character name was taken"
grep -q 112 longname.err || fail "the message does not mention 112: '$(cat longname.err)'"
[ ! -e longname.iso ] || fail "the refused image was left behind"
