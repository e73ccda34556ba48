#!/usr/bin/env bash
# The floppy job on Debian's kernel floppy driver in a QEMU guest; the host swaps disks via the monitor.
. "$(dirname "$0")/lib.sh"
need qemu-system-x86_64 qemu-system-i386 busybox gzip ldd fsck.fat mkfs.fat cmp timeout mkfifo
! ldd "$(command -v busybox)" >/dev/null 2>&1 || skip "busybox is not the static build (busybox-static)"
pids=()
on_exit 'kill "${pids[@]}"; wait'

if [ ! -f "$cache/ready" ]; then  # the kernel and the modules the guest loads
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n '/^ *Depends: linux-image-[^ ]*-amd64$/{s/^ *Depends: //p;q}') || true
  [ -n "$package" ] || skip "apt offers no linux-image-amd64 to take the floppy driver from"
  apt-get download "$package" >download.log 2>&1 || skip "could not fetch $package: $(tail -n 1 download.log)"
  rm -rf "$cache" && mkdir -p kernel "$cache/modules"
  dpkg-deb --fsys-tarfile "$package"_*.deb | tar -x -C kernel --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/*.ko'
  cp kernel/boot/vmlinuz-* "$cache/vmlinuz"
  for module in floppy fat msdos nls_cp437; do
    find kernel -name "$module.ko" -exec cp {} "$cache/modules/" \; -quit
    [ -f "$cache/modules/$module.ko" ] || fail "$package has no $module.ko"
  done
  echo "$package" >"$cache/ready"
fi

mkdir -p root/{bin,dev,proc,sys,mnt,run}
cp "$(command -v busybox)" root/bin/ && cp -r "$cache/modules" root/ && cp "$installer" root/installer
cp "$built/install.dat" root/run/ && install -m 755 "$here/floppy_driver_guest_init.sh" root/init
for library in $(ldd "$installer" | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'); do
  mkdir -p "root$(dirname "$library")" && cp -L "$library" "root$library"
done
(cd root && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >initrd

boot() {  # NAME QEMU-OPTIONS...: the guest's NAME cases, console in NAME.log; "@@ media DISK" puts DISK in A:
  local name=$1 answered=0 disk command expected qemu tries
  shift
  mkfifo $name.con.in $name.con.out $name.mon.in $name.mon.out
  exec 7<>$name.con.in 8<>$name.mon.in  # read-write, so they never block once QEMU ends
  cat $name.con.out >$name.console & pids+=($!)
  cat $name.mon.out >$name.monitor & pids+=($!)
  timeout 300 qemu-system-x86_64 -accel tcg -m 256M -no-reboot -display none -vga none -net none \
    -kernel "$cache/vmlinuz" -initrd initrd -chardev pipe,id=con,path=$name.con -serial chardev:con \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 fdtest=$name SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH" \
    -chardev pipe,id=mon,path=$name.mon -mon chardev=mon,mode=readline "$@" 2>$name.qemu &
  qemu=$! && pids+=("$qemu")
  while kill -0 $qemu 2>/dev/null; do
    disk=$(tr -d '\r' <$name.console | sed -n 's/^@@ media //p' | sed -n "$((answered + 1))p")
    if [ -n "$disk" ]; then
      answered=$((answered + 1))
      case $disk in
        blank | e2880) command="change floppy0 $disk.img raw read-write" expected="$disk.img (raw)" ;;
        protected) command="change floppy0 $disk.img raw read-only" expected="$disk.img (raw, read-only)" ;;
        none) command="eject -f floppy0" expected="not inserted" ;;
        *) fail "the guest asked for an unknown disk '$disk'" ;;
      esac
      printf '%s\ninfo block floppy0\n' "$command" >&8
      tries=0
      until grep -q "^floppy0.*$expected" <(tr -d '\r' <$name.monitor); do
        [ $((tries += 1)) -le 100 ] || fail "QEMU did not change the disk to '$disk': $(tail -n 5 $name.monitor)"
        sleep 0.1
      done
      echo go >&7
    fi
    sleep 0.2
  done
  wait $qemu || true
  exec 7>&- 8>&-
  tr -d '\r' <$name.console >$name.log
  grep -qx '@@ done' $name.log || fail "the $name guest did not finish its cases: $(tail -n 30 $name.log; cat $name.qemu)"
  ! grep '^@@ .* failed$' $name.log || fail "the $name guest could not set up a case"
}

check_case() {  # LOG NAME 0|fail [START]: NAME.case succeeded (0) or failed, printing a line from START
  local code
  sed -n "/^@@ begin $2\$/,/^@@ end $2 /p" "$1" >$2.case
  code=$(sed -n "s/^@@ end $2 exit=\([0-9]*\)\$/\1/p" $2.case)
  [ -n "$code" ] || fail "case $2 did not end: $(cat "$1")"
  if [ "$3" = 0 ]; then [ "$code" = 0 ] && grep -q '^Finished:' $2.case
  else [ "$code" != 0 ] && ! grep -q '^Finished:' $2.case; fi || fail "case $2 exited $code: $(cat $2.case)"
  [ -z "${4:-}" ] || grep -q -- "^$4" $2.case || fail "case $2 lacks '$4': $(cat $2.case)"
}

export_floppy "$built/install.dat" export.img  # the guest's init passes SOURCE_DATE_EPOCH on
for disk in blank protected e2880; do truncate -s $floppy_bytes $disk.img; done
truncate -s 1228800 h1200.img && mkfs.fat -C -n MOUNTED mounted.img 1440 >/dev/null && cp mounted.img mounted.orig

# A 1.44 MB drive: mounted (lock refused), blank (written), write-protected, empty.
boot disk -global isa-fdc.fdtypeA=144 -drive file=mounted.img,if=floppy,format=raw
has_line disk.log '@@ Floppy drive(s): fd0 is 1.44M'
check_case disk.log mounted fail "Error: The floppy drive is in use by another program and cannot be locked."
cmp -s mounted.img mounted.orig || fail "the mounted disk was written"
check_case disk.log write 0
check_written blank.img export.img && has_line write.case "Writing cylinder $used of $used"
unwritten="Error: The floppy disk could not be written. Check that a disk is inserted and not write-protected."
for name in protected empty; do check_case disk.log $name fail "$unwritten"; done
is_zeros protected.img $floppy_bytes || fail "the write-protected disk changed"

# A 2.88 MB drive, empty at start so QEMU keeps its type, then a 1.44 MB disk; a 1.2 MB drive.
boot types -global isa-fdc.fdtypeA=288 -global isa-fdc.fdtypeB=120 -drive if=floppy \
  -drive file=h1200.img,if=floppy,index=1,format=raw
grep -qx '@@ Floppy drive(s): fd0 is 2.88M.*, fd1 is 1.2M' types.log ||
  fail "the guest's drives are not 2.88 MB and 1.2 MB: $(grep '^@@ Floppy' types.log)"
check_case types.log e2880 0
check_written e2880.img export.img && has_line e2880.case "Writing cylinder $used of $used"
check_case types.log h1200 fail "installer: Create Floppy is disabled: "  # a 1.2 MB drive is not offered
is_zeros h1200.img 1228800 || fail "the 1.2 MB disk changed"
