#!/usr/bin/env bash
# The floppy job on the kernel's own floppy driver: a QEMU guest runs Debian's generic
# kernel (fetched once with apt-get, kept under CACHE_DIR) and the installer built here, and
# drive A: is /dev/fd0 as on a real machine. The guest asks for each disk in turn, and the
# host changes it through QEMU's monitor.
#   boot 1, a 1.44 MB drive: a mounted FAT disk (lock refused, nothing written), a blank disk
#     (written as the export), a write-protected disk and an empty drive (write error).
#   boot 2, a 2.88 MB drive (empty at start-up, so that QEMU keeps its type) given a 1.44 MB
#     disk (written), and a 5.25-inch 1.2 MB drive (not offered).
#
# usage: floppy_driver_test.sh INSTALLER EXPORTER SAMPLE_BUILD_DIR SAMPLE_SOURCE_DIR CACHE_DIR
installer=$(realpath "$1") exporter=$(realpath "$2") built=$(realpath "$3") source=$(realpath "$4")
cache="$5/floppy-guest"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need qemu-system-x86_64 qemu-system-i386 busybox gzip ldd fsck.fat mkfs.fat cmp timeout mkfifo
ldd "$(command -v busybox)" >/dev/null 2>&1 && skip "busybox is not the static build (busybox-static)"
pids=()
on_exit 'kill "${pids[@]}"; wait'

# The kernel and the modules the guest loads (in this order), from the package apt offers.
if [ ! -f "$cache/ready" ]; then
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[^ ]*-amd64\)$/\1/p' | head -n 1)
  [ -n "$package" ] || skip "apt offers no linux-image-amd64 to take the floppy driver from"
  (cd "$work" && apt-get download "$package" >download.log 2>&1) ||
    skip "could not fetch $package: $(tail -n 1 "$work/download.log")"
  { rm -rf "$cache" && mkdir -p "$work/kernel" "$cache/modules"; } || fail "cannot create $cache"
  dpkg-deb --fsys-tarfile "$work"/"$package"_*.deb |
    tar -x -C "$work/kernel" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/*.ko' ||
    fail "could not unpack $package"
  cp "$work"/kernel/boot/vmlinuz-* "$cache/vmlinuz" || fail "$package has no vmlinuz"
  for module in floppy fat msdos nls_cp437; do
    find "$work/kernel" -name "$module.ko" -exec cp {} "$cache/modules/" \; -quit
    [ -f "$cache/modules/$module.ko" ] || fail "$package has no $module.ko"
    echo "$module" >>"$cache/modules/order"
  done
  echo "$package" >"$cache/ready"
  rm -rf "$work/kernel" "$work"/*.deb
fi
echo "  kernel: $(cat "$cache/ready")"

# The initramfs: busybox, the modules, the installer with its shared libraries and the
# dynamic loader at the paths ldd names, and the sample data file.
root="$work/root"
mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/sys" "$root/mnt" "$root/run" &&
  cp "$(command -v busybox)" "$root/bin/busybox" && cp -r "$cache/modules" "$root/modules" &&
  cp "$here/floppy_driver_guest_init.sh" "$root/init" && chmod +x "$root/init" &&
  cp "$installer" "$root/installer" && cp "$built/install.dat" "$root/run/" || fail "initramfs files"
for library in $(ldd "$installer" | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'); do
  { mkdir -p "$root$(dirname "$library")" && cp -L "$library" "$root$library"; } || fail "copy of $library"
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd" || fail "cpio"

# Boots the guest with the cases FDTEST names. The console and the monitor are pipes: the
# guest's lines land in NAME.log, and the host answers each "@@ media DISK" by putting DISK
# into drive A: and writing a line back.
boot() {  # NAME FDTEST QEMU-OPTIONS...
  local name=$1 test=$2 answered=0 disk command expected _
  shift 2
  local console="$work/$name.con" monitor="$work/$name.mon"
  mkfifo "$console.in" "$console.out" "$monitor.in" "$monitor.out" || fail "mkfifo"
  # Opened for reading and writing, the input pipes never block the host after QEMU ends.
  exec 7<>"$console.in" 8<>"$monitor.in"
  cat "$console.out" >"$work/$name.console" &
  pids+=($!)
  cat "$monitor.out" >"$work/$name.monitor" &
  pids+=($!)
  timeout 300 qemu-system-x86_64 -accel tcg -m 256M -no-reboot -display none -vga none \
    -net none -kernel "$cache/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 fdtest=$test SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH" \
    -chardev "pipe,id=console,path=$console" -serial chardev:console \
    -chardev "pipe,id=monitor,path=$monitor" -mon chardev=monitor,mode=readline \
    "$@" 2>"$work/$name.qemu" &
  local qemu=$!
  pids+=("$qemu")
  while kill -0 "$qemu" 2>/dev/null; do
    disk=$(tr -d '\r' <"$work/$name.console" | sed -n 's/^@@ media //p' | sed -n "$((answered + 1))p")
    if [ -n "$disk" ]; then
      answered=$((answered + 1))
      case $disk in
        blank | e2880) command="change floppy0 $work/$disk.img raw read-write" expected="$disk.img (raw)" ;;
        protected) command="change floppy0 $work/$disk.img raw read-only" expected="$disk.img (raw, read-only)" ;;
        none) command="eject -f floppy0" expected="not inserted" ;;
        *) fail "the guest asked for an unknown disk '$disk'" ;;
      esac
      printf '%s\ninfo block floppy0\n' "$command" >&8
      for _ in $(seq 1 100); do
        tr -d '\r' <"$work/$name.monitor" | grep -q "^floppy0.*$expected" && break
        sleep 0.1
      done
      tr -d '\r' <"$work/$name.monitor" | grep -q "^floppy0.*$expected" ||
        fail "QEMU did not change the disk to '$disk': $(tr -d '\r' <"$work/$name.monitor" | tail -n 5)"
      echo go >&7
    fi
    sleep 0.2
  done
  wait "$qemu"
  exec 7>&- 8>&-
  tr -d '\r' <"$work/$name.console" >"$work/$name.log"
  grep -qx '@@ done' "$work/$name.log" ||
    fail "the $name guest did not finish its cases: $(tail -n 30 "$work/$name.log"; cat "$work/$name.qemu")"
  ! grep '^@@ .* failed$' "$work/$name.log" || fail "the $name guest could not set up a case"
}

# Case NAME of boot log LOG: its lines go to NAME.case; the job must have exited 0, or with
# "fail" not 0 and without reporting success.
check_case() {  # LOG NAME 0|fail
  local lines="$work/$2.case" code
  sed -n "/^@@ begin $2\$/,/^@@ end $2 /p" "$1" >"$lines"
  code=$(sed -n "s/^@@ end $2 exit=\([0-9]*\)\$/\1/p" "$lines")
  [ -n "$code" ] || fail "case $2 did not end: $(cat "$1")"
  echo "  $2: exit $code; the driver logged: $(sed -n "s/^@@ driver $2: //p" "$1")"
  if [ "$3" = 0 ]; then [ "$code" = 0 ]; else [ "$code" != 0 ] && ! grep -q '^Finished:' "$lines"; fi ||
    fail "case $2 exited $code: $(cat "$lines")"
}
readonly finished="Finished: The Talvo boot disk has been written to the floppy disk in drive A:."

# The kernel hands SOURCE_DATE_EPOCH to the guest's init, so the installer there dates the
# files as the exporter here does.
export_floppy "$built/install.dat" "$work/export.img"
for disk in blank protected e2880; do truncate -s "$floppy_bytes" "$work/$disk.img"; done
truncate -s 1228800 "$work/h1200.img"
mkfs.fat -C -n MOUNTED "$work/mounted.img" 1440 >/dev/null || fail "mkfs.fat"
cp "$work/mounted.img" "$work/mounted.orig"

echo "boot 1: a 1.44 MB drive, its disk changed between the cases"
boot disk disk -global isa-fdc.fdtypeA=144 -drive "file=$work/mounted.img,if=floppy,format=raw"
has_line "$work/disk.log" '@@ Floppy drive(s): fd0 is 1.44M'
check_case "$work/disk.log" mounted fail
has_line "$work/mounted.case" "Error: The floppy drive is in use by another program and cannot be locked."
cmp -s "$work/mounted.img" "$work/mounted.orig" || fail "the mounted disk was written"
check_case "$work/disk.log" write 0
check_written "$work/blank.img" "$work/export.img"
# The disk the driver wrote boots: the README line appears on COM1.
boot_floppy written "$(head -n 1 "$source/files/readme.txt" | tr -d '\r')" "$work/blank.img"
has_line "$work/write.case" "Writing cylinder $used of $used"
has_line "$work/write.case" "$finished"
for name in protected empty; do
  check_case "$work/disk.log" "$name" fail
  has_line "$work/$name.case" \
    "Error: The floppy disk could not be written. Check that a disk is inserted and not write-protected."
done
is_zeros "$work/protected.img" "$floppy_bytes" || fail "the write-protected disk changed"

echo "boot 2: a 2.88 MB drive A: and a 1.2 MB drive B:"
boot types types -global isa-fdc.fdtypeA=288 -global isa-fdc.fdtypeB=120 -drive if=floppy \
  -drive "file=$work/h1200.img,if=floppy,index=1,format=raw"
grep -qx '@@ Floppy drive(s): fd0 is 2.88M.*, fd1 is 1.2M' "$work/types.log" ||
  fail "the guest's drives are not 2.88 MB and 1.2 MB: $(grep '^@@ Floppy' "$work/types.log")"
check_case "$work/types.log" e2880 0
check_written "$work/e2880.img" "$work/export.img"
has_line "$work/e2880.case" "$finished"
check_case "$work/types.log" h1200 fail
grep -q '^installer: Create Floppy is disabled: ' "$work/h1200.case" ||
  fail "a 1.2 MB drive was offered: $(cat "$work/h1200.case")"
is_zeros "$work/h1200.img" 1228800 || fail "the 1.2 MB disk changed"
echo "PASS"
