#!/usr/bin/env bash
# Builds the sample floppy base image from sample/boot/bootsector.asm, checks
# its FAT12 layout, fills it with files using mtools, and boots it in QEMU both
# as a floppy and from a CD with El Torito floppy emulation.  The boot code
# must print README.TXT's first line followed by CR LF on COM1.
#
# Exit status: 0 = all checks passed, 1 = a check failed, 77 = a required tool
# is missing (so a test driver can report the test as skipped).

set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
asm="${BOOTSECTOR_ASM:-$root/sample/boot/bootsector.asm}"   # override to test another build

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "  $*"; }

for tool in nasm mcopy mdel mmd fsck.fat qemu-system-i386 timeout od cmp; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: required tool '$tool' not found" >&2; exit 77; }
done
mkiso=""
if command -v xorriso >/dev/null 2>&1; then
    mkiso=xorriso
elif command -v genisoimage >/dev/null 2>&1; then
    mkiso=genisoimage
else
    echo "SKIP: neither xorriso nor genisoimage found" >&2; exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/boot_sector_test.XXXXXX") || fail "mktemp failed"
qemu_pid=""
cleanup() {
    if [ -n "$qemu_pid" ]; then kill "$qemu_pid" 2>/dev/null; wait "$qemu_pid" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT

IMG_SIZE=1474560
BASE_SIZE=$((33 * 512))

# random_text N: N printable characters without CR/LF, different on every run
random_text() {
    local out=""
    while [ "${#out}" -lt "$1" ]; do
        out="$out$(head -c 4096 /dev/urandom | LC_ALL=C tr -dc 'A-Za-z0-9 .,:-')"
    done
    printf '%s' "${out:0:$1}"
}

# bytes_hex FILE OFFSET COUNT: the bytes as a plain lowercase hex string
bytes_hex() {
    od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'
}

# le16 FILE OFFSET: little-endian 16-bit value as decimal
le16() {
    local h; h=$(bytes_hex "$1" "$2" 2)
    echo $(( 0x${h:2:2}${h:0:2} ))
}

# ---------------------------------------------------------------------------
echo "1. assemble"
base="$work/base.img"
nasm -f bin -o "$base" "$asm" || fail "nasm could not assemble $asm"
size=$(stat -c %s "$base")
[ "$size" -eq "$BASE_SIZE" ] || fail "base image is $size bytes, expected $BASE_SIZE"
note "base image: $size bytes"

echo "2. base image layout"
[ "$(bytes_hex "$base" 0 1)" = "eb" ] || fail "boot sector does not start with a short jump"
[ "$(bytes_hex "$base" 2 1)" = "90" ] || fail "short jump is not followed by NOP"
[ "$(bytes_hex "$base" 510 2)" = "55aa" ] || fail "boot signature 55 AA missing at offset 510"
check16() { local v; v=$(le16 "$base" "$1"); [ "$v" -eq "$2" ] || fail "BPB $3 is $v, expected $2"; }
check8()  { local v; v=$(( 0x$(bytes_hex "$base" "$1" 1) )); [ "$v" -eq "$2" ] || fail "BPB $3 is $v, expected $2"; }
check16 11 512  "bytes per sector"
check8  13 1    "sectors per cluster"
check16 14 1    "reserved sectors"
check8  16 2    "FAT count"
check16 17 224  "root entries"
check16 19 2880 "total sectors"
check8  21 240  "media descriptor"
check16 22 9    "sectors per FAT"
check16 24 18   "sectors per track"
check16 26 2    "heads"
[ "$(bytes_hex "$base" 28 8)" = "0000000000000000" ] || fail "hidden/large sector counts are not zero"
check8  36 0    "drive number"
check8  38 41   "extended boot signature"
[ "$(dd if="$base" bs=1 skip=54 count=8 status=none)" = "FAT12   " ] || fail "file system type is not 'FAT12   '"

fat1="$work/fat1" fat2="$work/fat2"
dd if="$base" of="$fat1" bs=512 skip=1 count=9 status=none
dd if="$base" of="$fat2" bs=512 skip=10 count=9 status=none
cmp -s "$fat1" "$fat2" || fail "the two FAT copies differ"
[ "$(bytes_hex "$fat1" 0 3)" = "f0ffff" ] || fail "FAT does not start with F0 FF FF"
nonzero=$(tail -c +4 "$fat1" | LC_ALL=C tr -d '\0' | wc -c)
[ "$nonzero" -eq 0 ] || fail "FAT has $nonzero non-zero bytes after the first three"
nonzero=$(tail -c +$((19 * 512 + 1)) "$base" | LC_ALL=C tr -d '\0' | wc -c)
[ "$nonzero" -eq 0 ] || fail "root directory is not empty ($nonzero non-zero bytes)"
note "BPB, FATs and root directory as expected"

# new_floppy NAME: full-size image from the base; the data area is filled with
# 'Z' so that reading past the end of a file shows up in the output.
new_floppy() {
    local img="$work/$1.img"
    cp "$base" "$img"
    head -c $((IMG_SIZE - BASE_SIZE)) /dev/zero | LC_ALL=C tr '\0' 'Z' >> "$img"
    echo "$img"
}

# run_qemu LOG QEMU-ARGS...: boot, wait until the log ends in CR LF (or QEMU
# exits, or 20 s pass), then stop QEMU.
run_qemu() {
    local log=$1; shift
    : > "$log"
    timeout 30 qemu-system-i386 -accel tcg -display none -monitor none \
        -serial "file:$log" -no-reboot "$@" 2>"$log.stderr" &
    qemu_pid=$!
    local i=0
    while [ "$i" -lt 200 ]; do
        [ "$(tail -c 2 "$log" | od -An -tx1 | tr -d ' \n')" = "0d0a" ] && break
        kill -0 "$qemu_pid" 2>/dev/null || break
        sleep 0.1
        i=$((i + 1))
    done
    sleep 0.3   # anything printed after the line would show up in the log
    kill "$qemu_pid" 2>/dev/null
    wait "$qemu_pid" 2>/dev/null
    qemu_pid=""
}

# expect_log WHAT LOG EXPECTED-FILE
expect_log() {
    if ! cmp -s "$2" "$3"; then
        echo "--- expected ($1):" >&2; od -c "$3" | head -20 >&2
        echo "--- serial log:" >&2;     od -c "$2" | head -20 >&2
        if [ -s "$2.stderr" ]; then echo "--- qemu stderr:" >&2; cat "$2.stderr" >&2; fi
        fail "$1: serial output differs from the expected line"
    fi
    note "$1: serial log matches ($(stat -c %s "$2") bytes)"
}

boot_floppy() {   # NAME IMG EXPECTED
    local log="$work/$1.floppy.log"
    run_qemu "$log" -drive "file=$2,if=floppy,format=raw" -boot a
    expect_log "$1 (floppy)" "$log" "$3"
}

boot_cd() {       # NAME IMG EXPECTED TOOL
    local dir="$work/$1.isodir" iso="$work/$1.$4.iso" log="$work/$1.$4.cd.log"
    mkdir -p "$dir"
    cp "$2" "$dir/boot.img"
    case "$4" in
        xorriso)     xorriso -as mkisofs -quiet -o "$iso" -b boot.img "$dir" 2>"$iso.err" ;;
        genisoimage) genisoimage -quiet -o "$iso" -b boot.img "$dir" 2>"$iso.err" ;;
    esac || { cat "$iso.err" >&2; fail "$4 could not build the CD image"; }
    run_qemu "$log" -drive "file=$iso,media=cdrom,format=raw" -boot d
    expect_log "$1 (CD, $4, floppy emulation)" "$log" "$3"
}

check_fs() {
    fsck.fat -n "$1" >"$1.fsck" 2>&1 || { cat "$1.fsck" >&2; fail "fsck.fat reports problems in $(basename "$1")"; }
}

export MTOOLS_NO_VFAT=1

# ---------------------------------------------------------------------------
echo "3. short first line after another file"
img=$(new_floppy basic)
head -c 1000 /dev/urandom > "$work/KERNEL.MAP"
line="Hello from the sample floppy $(random_text 12)"
printf '%s\r\nsecond line\r\n' "$line" > "$work/README.TXT"
mcopy -i "$img" "$work/KERNEL.MAP" ::KERNEL.MAP || fail "mcopy KERNEL.MAP"
mcopy -i "$img" "$work/README.TXT" ::README.TXT || fail "mcopy README.TXT"
check_fs "$img"
printf '%s\r\n' "$line" > "$work/basic.expected"
boot_floppy basic "$img" "$work/basic.expected"
boot_cd basic "$img" "$work/basic.expected" "$mkiso"
if [ "$mkiso" = xorriso ] && command -v genisoimage >/dev/null 2>&1; then
    boot_cd basic "$img" "$work/basic.expected" genisoimage
fi

echo "4. 1500-byte first line on a fragmented chain, behind a deleted entry"
img=$(new_floppy long)
head -c 512 /dev/urandom > "$work/ONE.BIN"
for f in KERNEL.MAP ONE.BIN TWO.BIN THREE.BIN; do
    [ -f "$work/$f" ] || head -c 512 /dev/urandom > "$work/$f"
    mcopy -i "$img" "$work/$f" "::$f" || fail "mcopy $f"
done
# Free two single clusters in front of THREE.BIN so README.TXT's chain has to
# jump over it; then delete KERNEL.MAP so a deleted entry precedes README.TXT.
mdel -i "$img" ::ONE.BIN ::TWO.BIN || fail "mdel"
line=$(random_text 1500)
printf '%s\nsecond line\n' "$line" > "$work/README.TXT"
mcopy -i "$img" "$work/README.TXT" ::README.TXT || fail "mcopy README.TXT"
mdel -i "$img" ::KERNEL.MAP || fail "mdel KERNEL.MAP"
check_fs "$img"
[ "$(bytes_hex "$img" $((19 * 512)) 1)" = "e5" ] || fail "test setup: first root entry is not a deleted one"
printf '%s\r\n' "$line" > "$work/long.expected"
boot_floppy long "$img" "$work/long.expected"
boot_cd long "$img" "$work/long.expected" "$mkiso"

echo "5. file without line ending"
img=$(new_floppy noeol)
line="only line, no newline $(random_text 10)"
printf '%s' "$line" > "$work/README.TXT"
mcopy -i "$img" "$work/README.TXT" ::README.TXT || fail "mcopy README.TXT"
check_fs "$img"
printf '%s\r\n' "$line" > "$work/noeol.expected"
boot_floppy noeol "$img" "$work/noeol.expected"

echo "6. empty README.TXT"
img=$(new_floppy empty)
: > "$work/README.TXT"
mcopy -i "$img" "$work/README.TXT" ::README.TXT || fail "mcopy README.TXT"
check_fs "$img"
printf '\r\n' > "$work/empty.expected"
boot_floppy empty "$img" "$work/empty.expected"

echo "7. no README.TXT file (only a directory of that name)"
img=$(new_floppy missing)
mmd -i "$img" ::README.TXT || fail "mmd README.TXT"
printf 'not the readme\r\n' > "$work/OTHER.TXT"
mcopy -i "$img" "$work/OTHER.TXT" ::OTHER.TXT || fail "mcopy OTHER.TXT"
check_fs "$img"
printf 'README.TXT not found\r\n' > "$work/missing.expected"
boot_floppy missing "$img" "$work/missing.expected"

echo "8. unreadable sector"
img=$(new_floppy diskerror)
printf 'never printed\r\n' > "$work/README.TXT"
mcopy -i "$img" "$work/README.TXT" ::README.TXT || fail "mcopy README.TXT"
[ "$(dd if="$img" bs=1 skip=$((19 * 512)) count=11 status=none)" = "README  TXT" ] \
    || fail "test setup: README.TXT is not the first root entry"
# Point the first cluster at 0xFEF: LBA 4110, far beyond the 80 cylinders of
# the disk, so every read attempt fails.
printf '\357\017' | dd of="$img" bs=1 seek=$((19 * 512 + 26)) conv=notrunc status=none
printf 'Disk error\r\n' > "$work/diskerror.expected"
boot_floppy diskerror "$img" "$work/diskerror.expected"

echo "PASS: boot sector prints README.TXT's first line from floppy and CD"
