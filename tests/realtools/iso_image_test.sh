#!/usr/bin/env bash
# Checks exported CD images with programs that share no code with the installer: isoinfo
# lists both directory trees and the boot record, xorriso reports the El Torito catalog,
# osirrox extracts the files through the Joliet tree, and QEMU boots the CD by floppy
# emulation with the sample boot sector.
#
# usage: iso_image_test.sh EXPORTER MKINSTALLDAT SAMPLE_BUILD_DIR SAMPLE_SOURCE_DIR
set -u
exporter=$(realpath "$1") mkinstalldat=$(realpath "$2") built=$(realpath "$3") source=$(realpath "$4")

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in isoinfo xorriso osirrox qemu-system-i386 timeout cmp dd awk; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/iso_image_test.XXXXXX") || fail "mktemp"
# osirrox gives extracted files and folders the read-only modes of the CD.
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1796589348

readonly first_file_sector=747  # after the descriptors, both trees and the boot image
readonly sector_bytes=2048

# Exports DAT to ISO; the exporter's stderr goes to ISO.err.
export_iso() {  # DAT ISO
  "$exporter" make-iso --quiet --data "$1" --out "$2" 2>"$2.err" || { cat "$2.err" >&2; fail "export of $1"; }
}

# The file records of one tree as "extent<TAB>size<TAB>name" lines, in directory order.
listing() {  # ISO [-J]
  isoinfo ${2:+"$2"} -l -i "$1" 2>"$work/isoinfo.err" >"$work/isoinfo.out" ||
    { cat "$work/isoinfo.err" >&2; fail "isoinfo ${2:-} -l on $1"; }
  sed -nE 's/^-[-rwx]{9} +[0-9]+ +[0-9]+ +[0-9]+ +([0-9]+) [^[]*\[ *([0-9]+) +[0-9]+\]  (.*) $/\2\t\1\t\3/p' \
    "$work/isoinfo.out"
}

# Fails on any xorriso or libisofs message of severity WARNING or worse except the one
# that every image of the installer causes:
#   "libisofs: WARNING : Found hidden El-Torito image. Its size could not be figured out,
#    so image modify or boot image patching may lead to bad results."
# The boot image has no directory record in either tree (it is not one of the CD's
# files), so libisofs cannot take its size from a record and infers 1.44 MB from the
# floppy emulation type instead; the warning concerns changing the image, not reading it.
# NOTE lines are not faults: the SOURCE_DATE_EPOCH that xorriso sees, the tree it loads,
# and "Detected El-Torito boot information which currently is set to be discarded" (only
# a new session written by xorriso would drop it; nothing is written here).
check_messages() {  # LOG WHAT
  local unexpected
  unexpected=$(grep -E '(WARNING|MISHAP|SORRY|FAILURE|FATAL|ABORT) *:' "$1" |
               grep -vF 'Found hidden El-Torito image. Its size could not be figured out')
  [ -z "$unexpected" ] || fail "$2 reported: $unexpected"
}

# Proves ISO sound for the files listed in EXPECTED ("name<TAB>source path" lines, in
# data-file order): volume size, both trees with the files' sizes and consecutive extents
# from sector 747, the El Torito catalog, the files back byte for byte through Joliet,
# and sectors 27-746 equal to the floppy image that make-floppy-image writes from DAT.
check_iso() {  # DAT ISO EXPECTED
  local dat=$1 iso=$2 expected=$3 count
  count=$(wc -l <"$expected")
  # The records each tree must hold: extent, size, Joliet name.
  local name path size extent=$first_file_sector volume
  : >"$work/records"
  while IFS=$'\t' read -r name path; do
    size=$(stat -c %s "$path") || fail "no file $path"
    printf '%d\t%d\t%s\n' "$extent" "$size" "$name" >>"$work/records"
    extent=$((extent + (size + sector_bytes - 1) / sector_bytes))
  done <"$expected"
  volume=$extent

  isoinfo -d -i "$iso" >"$work/d.out" 2>&1 || { cat "$work/d.out" >&2; fail "isoinfo -d on $iso"; }
  grep -qx "Volume size is: $volume" "$work/d.out" ||
    fail "$iso: expected volume size $volume, isoinfo says: $(grep 'Volume size' "$work/d.out")"
  grep -qx 'El Torito VD version 1 found, boot catalog is in sector 20' "$work/d.out" ||
    fail "$iso: no El Torito boot record pointing at sector 20: $(cat "$work/d.out")"
  grep -qx 'Joliet with UCS level 3 found' "$work/d.out" || fail "$iso: no Joliet UCS level 3 descriptor"

  listing "$iso" -J >"$work/joliet"
  diff "$work/records" "$work/joliet" >&2 || fail "$iso: the Joliet tree (right) differs from the files (left)"
  listing "$iso" >"$work/iso9660"
  [ "$(wc -l <"$work/iso9660")" = "$count" ] || fail "$iso: the ISO 9660 tree does not hold $count records"
  diff <(cut -f1,2 "$work/records") <(cut -f1,2 "$work/iso9660") >&2 ||
    fail "$iso: extents or sizes of the ISO 9660 tree (right) differ from the files (left)"
  # 8.3 identifiers of d-characters: at most 8 before the dot, at most 3 after, not both
  # empty, version 1.
  local bad
  bad=$(cut -f3 "$work/iso9660" | grep -vxE '[A-Z0-9_]{1,8}\.[A-Z0-9_]{0,3};1|\.[A-Z0-9_]{1,3};1')
  [ -z "$bad" ] || fail "$iso: identifiers that are not 8.3 names: $bad"
  if [ "$count" -gt 0 ]; then  # the volume ends with the last listed file
    tail -n 1 "$work/joliet" | awk -F '\t' -v bytes="$sector_bytes" -v volume="$volume" '
      { exit !($1 + int(($2 + bytes - 1) / bytes) == volume) }' || fail "$iso: the last file does not end the volume"
  fi

  xorriso -indev "$iso" -report_el_torito plain >"$work/eltorito" 2>"$work/xorriso.log" ||
    { cat "$work/xorriso.log" >&2; fail "xorriso -report_el_torito on $iso"; }
  check_messages "$work/xorriso.log" "xorriso on $iso"
  # One image: BIOS, bootable, 1.44 MB floppy emulation, segment 0x7C0, system type 6,
  # one sector loaded, at LBA 27; 720 blocks of 2048 bytes (1,474,560 bytes).
  local report
  report=$(sed -nE 's/^El Torito (catalog|boot img|img blks) *: *//p' "$work/eltorito" | tr -s ' ')
  [ "$report" = "$(printf '20 1\n1 BIOS y fd1.4 0x07c0 0x06 1 27\n1 720')" ] ||
    fail "$iso: El Torito report: $(cat "$work/eltorito")"

  mkdir "$work/out" || fail "mkdir"
  osirrox -indev "$iso" -extract / "$work/out" >"$work/osirrox.log" 2>&1 ||
    { cat "$work/osirrox.log" >&2; fail "osirrox -extract on $iso"; }
  check_messages "$work/osirrox.log" "osirrox on $iso"
  [ "$(find "$work/out" -type f | wc -l)" = "$count" ] ||
    fail "$iso: osirrox extracted $(find "$work/out" -type f | wc -l) files, expected $count"
  while IFS=$'\t' read -r name path; do
    cmp "$work/out/$name" "$path" || fail "$iso: '$name' differs from $path"
  done <"$expected"
  chmod -R u+w "$work/out" && rm -rf "$work/out"

  "$exporter" make-floppy-image --quiet --data "$dat" --out "$work/floppy.img" || fail "floppy export of $dat"
  cmp <(dd if="$iso" bs=2048 skip=27 count=720 status=none) "$work/floppy.img" ||
    fail "$iso: sectors 27-746 are not the floppy image"
}

# The sample boot sector finds README.TXT on the emulated floppy and prints its first line
# on COM1.
boot() {  # ISO LOG EXPECTED
  timeout 15 qemu-system-i386 -accel tcg -cdrom "$1" -boot d \
    -display none -serial file:"$2" -no-reboot >/dev/null 2>&1 &
  local pid=$! i
  for i in $(seq 1 60); do
    grep -qF "$3" "$2" 2>/dev/null && break
    sleep 0.25
  done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  grep -qF "$3" "$2" || fail "booting $1 did not print '$3' (log: $(cat -A "$2" 2>/dev/null))"
}

# A manifest with the floppy's entries (base image, KERNEL.MAP, README.TXT) and, for each
# "name<TAB>path" line of LIST, the CD file's name and contents.
make_dat() {  # OUT LIST README
  {
    printf '10002 file %s\n10003 file %s\n' "$built/base.img" "$source/files/KERNEL.MAP"
    awk -F '\t' '{ printf "%d text %s\n%d file %s\n", 5000 + NR - 1, $1, 5100 + NR - 1, $2 }' "$2"
    # The list's own file 0 is README.TXT as well; a list without files names one.
    [ -s "$2" ] || printf '5100 file %s\n' "$3"
  } >"$work/manifest"
  "$mkinstalldat" --out "$1" --manifest "$work/manifest" >"$work/mkinstalldat.log" 2>&1 ||
    { cat "$work/mkinstalldat.log" >&2; fail "mkinstalldat $1"; }
}

echo "sample data file"
# The CD files of the sample manifest: "name<TAB>path" in list order.
awk '$1 >= 5000 && $1 < 5100 && $2 == "text" { name[$1 - 5000] = $3 }
     $1 >= 5100 && $1 < 5200 && $2 == "file" { path[$1 - 5100] = $3 }
     END { for (i = 0; i in name; i++) printf "%s\t%s/%s\n", name[i], dir, path[i] }' \
  dir="$source" "$source/content.manifest" >"$work/sample.list"
[ "$(wc -l <"$work/sample.list")" = 4 ] || fail "the sample manifest does not name 4 CD files"
export_iso "$built/install.dat" "$work/sample.iso"
[ -s "$work/sample.iso.err" ] && fail "unexpected messages: $(cat "$work/sample.iso.err")"
check_iso "$built/install.dat" "$work/sample.iso" "$work/sample.list"
[ "$(cut -f3 "$work/iso9660" | tr '\n' ' ')" = "README.TXT;1 SETUP.CFG;1 DRIVERSL.TEX;1 LICENSE.;1 " ] ||
  fail "8.3 names of the sample: $(cut -f3 "$work/iso9660" | tr '\n' ' ')"

echo "reproducible with SOURCE_DATE_EPOCH; trace lines change nothing"
export_iso "$built/install.dat" "$work/again.iso"
cmp "$work/sample.iso" "$work/again.iso" || fail "two exports differ"
"$exporter" make-iso --data "$built/install.dat" --out "$work/traced.iso" >"$work/trace.out" ||
  fail "export with trace lines"
[ -s "$work/trace.out" ] || fail "no trace lines without --quiet"
cmp "$work/sample.iso" "$work/traced.iso" || fail "the image with trace lines differs"

echo "100 files: only those whose records fit one directory sector are kept"
mkdir "$work/files" || fail mkdir
# Mixed-case names of 11 to 32 characters. Each is at least 8 characters long, so its
# Joliet record (33 + 2 x length bytes) is longer than any 8.3 record (at most 33 + 15
# bytes): the Joliet tree decides how many files fit.
stem=MixedCaseNamesOfDifferentLengths
exts=(Txt bin DAT cFg Md)
sizes=(0 2048 5000 1 2047 2049 4096)
: >"$work/many.list"
for i in $(seq 0 99); do
  name="${stem:0:$((6 + i * 7 % 20))}$(printf %02d "$i").${exts[i % 5]}"
  size=${sizes[i]:-$((i * 733 % 7000))}
  head -c "$size" /dev/urandom >"$work/files/$i"
  printf '%s\t%s\n' "$name" "$work/files/$i" >>"$work/many.list"
done
# Records from byte 68 (after "." and "..") up to the sector's end, byte 2048.
kept=$(awk -F '\t' '{ fill += 33 + 2 * length($1); if (68 + fill > 2048) { print NR - 1; exit } }' \
  "$work/many.list")
if [ -z "$kept" ] || [ "$kept" -lt 7 ]; then
  fail "the generated names should not all fit, and files 0-6 should (kept: '$kept')"
fi
make_dat "$work/many.dat" "$work/many.list"
export_iso "$work/many.dat" "$work/many.iso"
{ grep -qw "$kept" "$work/many.iso.err" && grep -qw 100 "$work/many.iso.err"; } ||
  fail "no warning naming $kept of 100 files: '$(cat "$work/many.iso.err")'"
head -n "$kept" "$work/many.list" >"$work/kept.list"
check_iso "$work/many.dat" "$work/many.iso" "$work/kept.list"
echo "  kept $kept of 100: $(cat "$work/many.iso.err")"

echo "names that are equal as 8.3 names, and the longest Joliet name"
printf 'Both files of this pair\r\n' >"$work/files/pair-readme"
long=$(printf 'L%.0s' $(seq 1 111))
printf '%s\t%s\n' archive.tar.gz "$work/files/pair-readme" archive.tar.gzip "$work/files/2" \
  LongFileName1.txt "$work/files/4" LongFileName2.txt "$work/files/5" \
  "$long" "$work/files/6" >"$work/pairs.list"
make_dat "$work/pairs.dat" "$work/pairs.list"
export_iso "$work/pairs.dat" "$work/pairs.iso"
check_iso "$work/pairs.dat" "$work/pairs.iso" "$work/pairs.list"
echo "  8.3 names: $(cut -f3 "$work/iso9660" | cut -c1-20 | tr '\n' ' ')"

echo "no CD files"
printf 'Empty list README\r\n' >"$work/files/empty-readme"
: >"$work/empty.list"
make_dat "$work/empty.dat" "$work/empty.list" "$work/files/empty-readme"
export_iso "$work/empty.dat" "$work/empty.iso"
check_iso "$work/empty.dat" "$work/empty.iso" "$work/empty.list"

echo "bad data files"
# File 1's name is there, its contents (5101) are not.
printf '10002 file %s\n10003 file %s\n5000 text A.TXT\n5100 file %s\n5001 text B.TXT\n' \
  "$built/base.img" "$source/files/KERNEL.MAP" "$source/files/readme.txt" >"$work/manifest"
"$mkinstalldat" --out "$work/nodata.dat" --manifest "$work/manifest" || fail "mkinstalldat nodata.dat"
# A name of 112 characters: its Joliet record would be 33 + 224 bytes, more than the 255
# a record length can say.
printf '10002 file %s\n10003 file %s\n5000 text L%s\n5100 file %s\n' \
  "$built/base.img" "$source/files/KERNEL.MAP" "$long" "$source/files/readme.txt" >"$work/manifest"
"$mkinstalldat" --out "$work/longname.dat" --manifest "$work/manifest" || fail "mkinstalldat longname.dat"
for bad in nodata:5101 longname:112; do
  dat=${bad%%:*} mention=${bad#*:}
  "$exporter" make-iso --quiet --data "$work/$dat.dat" --out "$work/$dat.iso" 2>"$work/$dat.err" &&
    fail "$dat.dat was accepted"
  grep -q "$mention" "$work/$dat.err" || fail "$dat.dat: the message does not mention $mention: '$(cat "$work/$dat.err")'"
  [ -e "$work/$dat.iso" ] && fail "$dat.dat left an image behind"
  echo "  $dat: $(cat "$work/$dat.err")"
done

echo "boot"
boot "$work/sample.iso" "$work/sample.log" "$(head -n 1 "$source/files/readme.txt" | tr -d '\r')"
boot "$work/empty.iso" "$work/empty.log" "Empty list README"
echo "PASS"
