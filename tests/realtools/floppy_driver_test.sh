#!/usr/bin/env bash
# The Linux installer's floppy job on the kernel's own floppy driver: a QEMU guest (TCG, no
# KVM needed) runs Debian's generic kernel with floppy.ko and the installer built here, and
# drive A: is /dev/fd0 found as on a real machine, with no --drive mapping.
#   boot 1, a 1.44 MB drive: a mounted FAT disk (lock refused, nothing written); a blank
#     disk (written: the exported image over the cylinders written, nothing after, fsck.fat
#     clean, and it boots in QEMU to the README line on COM1); a write-protected disk and
#     an empty drive (the write-error message, nothing reported as success). The disks are
#     changed through QEMU's monitor while the guest waits.
#   boot 2, a 2.88 MB drive, empty at start-up so that QEMU keeps its type, then given a
#     1.44 MB disk (written like the blank disk), and a 5.25-inch 1.2 MB drive (not listed).
# The kernel package is fetched once with apt-get and kept under CACHE_DIR.
#
# usage: floppy_driver_test.sh INSTALLER EXPORTER SAMPLE_BUILD_DIR SAMPLE_SOURCE_DIR CACHE_DIR
# Exit status: 0 = passed, 1 = failed, 77 = skipped (the guest cannot run here).
# KEEP_WORK=1 keeps the work folder (the guest's console logs, the disks) for a look afterwards.
set -u
installer=$(realpath "$1") exporter=$(realpath "$2") built=$(realpath "$3")
source=$(realpath "$4") cache="$5/floppy-guest"
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
for tool in qemu-system-x86_64 qemu-system-i386 busybox gzip ldd fsck.fat mkfs.fat cmp \
  timeout mkfifo strings; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
ldd "$(command -v busybox)" >/dev/null 2>&1 && skip "busybox is not the static build (busybox-static)"

readonly floppy_bytes=1474560 cylinder_bytes=18432 cylinders=80 h1200_bytes=1228800
# The modules the guest loads, in order; each one's own dependencies are checked below.
readonly modules="floppy fat msdos nls_cp437"
work=$(mktemp -d "${TMPDIR:-/tmp}/floppy_driver_test.XXXXXX") || fail "mktemp"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ -n "${KEEP_WORK:-}" ]; then echo "work folder kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- The kernel: vmlinuz and the modules, from the package apt offers for this release.
if [ ! -f "$cache/ready" ]; then
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[^ ]*-amd64\)$/\1/p' | head -n 1)
  [ -n "$package" ] || skip "apt offers no linux-image-amd64 to take the floppy driver from"
  (cd "$work" && apt-get download "$package" >download.log 2>&1) ||
    skip "could not fetch $package: $(tail -n 1 "$work/download.log")"
  echo "  fetched $package"
  mkdir -p "$work/kernel" || fail "mkdir"
  dpkg-deb --fsys-tarfile "$work"/"$package"_*.deb |
    tar -x -C "$work/kernel" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/*.ko' ||
    fail "could not unpack $package"
  { rm -rf "$cache" && mkdir -p "$cache/modules"; } || fail "cannot create $cache"
  cp "$work"/kernel/boot/vmlinuz-* "$cache/vmlinuz" || fail "$package has no vmlinuz"
  for module in $modules; do
    path=$(find "$work/kernel" -name "$module.ko" | head -n 1)
    [ -n "$path" ] || fail "$package has no $module.ko"
    # Each module names the modules it needs; they must come earlier in the list.
    for needed in $(strings "$path" | sed -n 's/^depends=//p' | tr ',' ' '); do
      case " ${loaded:-} " in *" $needed "*) ;; *) fail "$module.ko needs $needed.ko" ;; esac
    done
    loaded="${loaded:-} $module"
    cp "$path" "$cache/modules/" || fail "copy of $module.ko"
  done
  # shellcheck disable=SC2086 # one name a line
  printf '%s\n' $modules >"$cache/modules/order"
  echo "$package" >"$cache/ready"
  rm -rf "$work/kernel" "$work"/*.deb
fi
echo "  kernel: $(cat "$cache/ready")"

# --- The guest's initramfs: busybox, the modules, the installer with its shared libraries
# and the dynamic loader at the paths ldd names, and the sample data file.
root="$work/root"
mkdir -p "$root/bin" "$root/dev" "$root/proc" "$root/sys" "$root/mnt" "$root/run" || fail "mkdir"
cp "$(command -v busybox)" "$root/bin/busybox" || fail "copy of busybox"
cp -r "$cache/modules" "$root/modules" || fail "copy of the modules"
{ cp "$here/floppy_driver_guest_init.sh" "$root/init" && chmod +x "$root/init"; } || fail "init"
cp "$installer" "$root/installer" || fail "copy of the installer"
cp "$built/install.dat" "$root/run/" || fail "copy of the sample data file"
for library in $(ldd "$installer" | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'); do
  { mkdir -p "$root$(dirname "$library")" && cp -L "$library" "$root$library"; } ||
    fail "copy of $library"
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd" ||
  fail "could not pack the initramfs"

# --- Booting. The console and the monitor are pipes: the guest's lines land in
# NAME.console, and the host answers its "@@ media" requests by changing the disk.
boot() {  # NAME FDTEST QEMU-OPTIONS...
  local name=$1 test=$2
  shift 2
  local console="$work/$name.con" monitor="$work/$name.mon"
  mkfifo "$console.in" "$console.out" "$monitor.in" "$monitor.out" || fail "mkfifo"
  : >"$work/$name.console"
  # Opened for reading and writing, the input pipes never block the host, even once QEMU
  # is gone.
  exec 7<>"$console.in" 8<>"$monitor.in"
  cat "$console.out" >"$work/$name.console" &
  pids+=($!)
  cat "$monitor.out" >"$work/$name.monitor" &
  pids+=($!)
  timeout 300 qemu-system-x86_64 -accel tcg -m 256M -no-reboot -display none -vga none \
    -net none -kernel "$cache/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 fdtest=$test SOURCE_DATE_EPOCH=$epoch" \
    -chardev "pipe,id=console,path=$console" -serial chardev:console \
    -chardev "pipe,id=monitor,path=$monitor" -mon chardev=monitor,mode=readline \
    "$@" 2>"$work/$name.qemu" &
  local qemu=$!
  pids+=("$qemu")
  local answered=0 requests
  while kill -0 "$qemu" 2>/dev/null; do
    requests=$(tr -d '\r' <"$work/$name.console" | sed -n 's/^@@ media //p')
    if [ "$(echo "$requests" | grep -c .)" -gt "$answered" ]; then
      answered=$((answered + 1))
      change_disk "$name" "$(echo "$requests" | sed -n "${answered}p")"
      echo go >&7
    fi
    sleep 0.2
  done
  wait "$qemu"
  exec 7>&- 8>&-
  tr -d '\r' <"$work/$name.console" >"$work/$name.log"
  if ! grep -qx '@@ done' "$work/$name.log"; then
    tail -n 30 "$work/$name.log" >&2
    cat "$work/$name.qemu" >&2
    fail "the $name guest did not finish its cases"
  fi
  ! grep '^@@ .* failed$' "$work/$name.log" || fail "the $name guest could not set up a case"
}

# Puts disk WHAT into drive A: through the monitor and waits until QEMU reports it.
change_disk() {  # BOOT WHAT
  local command expected
  case "$2" in
    blank | e2880)
      command="change floppy0 $work/$2.img raw read-write"
      expected="$2.img (raw)"
      ;;
    protected)
      command="change floppy0 $work/protected.img raw read-only"
      expected="protected.img (raw, read-only)"
      ;;
    none) command="eject -f floppy0" expected="not inserted" ;;
    *) fail "the guest asked for an unknown disk '$2'" ;;
  esac
  printf '%s\ninfo block floppy0\n' "$command" >&8
  local _
  for _ in $(seq 1 100); do
    tr -d '\r' <"$work/$1.monitor" | grep -q "^floppy0.*$expected" && return
    sleep 0.1
  done
  fail "QEMU did not change the disk to '$2': $(tr -d '\r' <"$work/$1.monitor" | tail -n 5)"
}

# The lines of case NAME in boot log LOG; $exit_code is set to the job's exit code.
case_lines() {  # LOG NAME
  sed -n "/^@@ begin $2\$/,/^@@ end $2 /p" "$1" >"$work/$2.case"
  exit_code=$(sed -n "s/^@@ end $2 exit=\([0-9]*\)\$/\1/p" "$work/$2.case")
  [ -n "$exit_code" ] || fail "case $2 did not end: $(cat "$1")"
  echo "  $2: exit $exit_code; the driver logged: $(sed -n "s/^@@ driver $2: //p" "$1")"
}
has_line() {  # CASE LINE
  grep -qxF -- "$2" "$work/$1.case" || fail "case $1 lacks '$2': $(cat "$work/$1.case")"
}
no_success() {  # CASE
  [ "$exit_code" != 0 ] || fail "case $1 exited 0: $(cat "$work/$1.case")"
  ! grep -q '^Finished:' "$work/$1.case" || fail "case $1 reported success"
}

# The cylinders the job writes: cylinder 0, then each one up to the first that holds only
# the 0xF6 format filler. The kernel hands SOURCE_DATE_EPOCH to the guest's init, so the
# installer there dates the files as the exporter here does.
readonly epoch=1796589348
export SOURCE_DATE_EPOCH=$epoch
"$exporter" make-floppy-image --quiet --data "$built/install.dat" --out "$work/export.img" ||
  fail "export"
head -c "$cylinder_bytes" /dev/zero | tr '\0' '\366' >"$work/filler"
used=1
while [ "$used" -lt "$cylinders" ] && ! dd if="$work/export.img" bs="$cylinder_bytes" \
  skip="$used" count=1 status=none | cmp -s - "$work/filler"; do
  used=$((used + 1))
done
written=$((used * cylinder_bytes))
readme_line=$(head -n 1 "$source/files/readme.txt" | tr -d '\r')

# A written disk: the export over the cylinders written, zeros after, a clean FAT.
check_written() {  # IMG
  cmp -n "$written" "$1" "$work/export.img" || fail "$1 differs from the export in $used cylinders"
  cmp <(tail -c +"$((written + 1))" "$1") <(head -c "$((floppy_bytes - written))" /dev/zero) ||
    fail "$1 was written past cylinder $used"
  fsck.fat -n "$1" >"$1.fsck" 2>&1 || fail "fsck.fat on $1: $(cat "$1.fsck")"
}

for disk in blank protected e2880; do truncate -s "$floppy_bytes" "$work/$disk.img"; done
truncate -s "$h1200_bytes" "$work/h1200.img"
mkfs.fat -C -n MOUNTED "$work/mounted.img" 1440 >/dev/null || fail "mkfs.fat"
cp "$work/mounted.img" "$work/mounted.orig"

echo "boot 1: a 1.44 MB drive, its disk changed between the cases"
boot disk disk -global isa-fdc.fdtypeA=144 -drive "file=$work/mounted.img,if=floppy,format=raw"
log="$work/disk.log"
grep -qx '@@ Floppy drive(s): fd0 is 1.44M' "$log" ||
  fail "the guest's drive is not a 1.44 MB drive: $(grep '^@@ Floppy' "$log")"
case_lines "$log" mounted
has_line mounted "Error: The floppy drive is in use by another program and cannot be locked."
no_success mounted
cmp -s "$work/mounted.img" "$work/mounted.orig" || fail "the mounted disk was written"

case_lines "$log" write
[ "$exit_code" = 0 ] || fail "the job on /dev/fd0 exited $exit_code: $(cat "$work/write.case")"
has_line write "Writing cylinder $used of $used"
has_line write "Finished: The Talvo boot disk has been written to the floppy disk in drive A:."
check_written "$work/blank.img"

for name in protected empty; do
  case_lines "$log" "$name"
  has_line "$name" \
    "Error: The floppy disk could not be written. Check that a disk is inserted and not write-protected."
  no_success "$name"
done
cmp -s "$work/protected.img" <(head -c "$floppy_bytes" /dev/zero) ||
  fail "the write-protected disk changed"

echo "boot 2: a 2.88 MB drive A: and a 1.2 MB drive B:"
boot types types -global isa-fdc.fdtypeA=288 -global isa-fdc.fdtypeB=120 -drive if=floppy \
  -drive "file=$work/h1200.img,if=floppy,index=1,format=raw"
log="$work/types.log"
grep -qx '@@ Floppy drive(s): fd0 is 2.88M.*, fd1 is 1.2M' "$log" ||
  fail "the guest's drives are not 2.88 MB and 1.2 MB: $(grep '^@@ Floppy' "$log")"
case_lines "$log" e2880
[ "$exit_code" = 0 ] || fail "the job on a 2.88 MB drive exited $exit_code: $(cat "$work/e2880.case")"
has_line e2880 "Finished: The Talvo boot disk has been written to the floppy disk in drive A:."
check_written "$work/e2880.img"
case_lines "$log" h1200
no_success h1200
grep -q '^installer: Create Floppy is disabled: ' "$work/h1200.case" ||
  fail "a 1.2 MB drive was offered: $(cat "$work/h1200.case")"
cmp -s "$work/h1200.img" <(head -c "$h1200_bytes" /dev/zero) || fail "the 1.2 MB disk changed"

echo "boot the written disk"
timeout 60 qemu-system-i386 -accel tcg -drive "file=$work/blank.img,if=floppy,format=raw" \
  -boot a -display none -serial "file:$work/boot.log" -no-reboot >/dev/null 2>&1 &
qemu=$!
pids+=("$qemu")
for _ in $(seq 1 240); do
  grep -qF "$readme_line" "$work/boot.log" 2>/dev/null && break
  sleep 0.25
done
kill "$qemu" 2>/dev/null
grep -qF "$readme_line" "$work/boot.log" || fail "the written disk did not print '$readme_line'"
echo "PASS"
