#!/bin/busybox sh
# shellcheck shell=dash
# /init of the QEMU guest that floppy_driver_test.sh boots: loads the kernel's floppy
# driver and runs the Linux installer's floppy job against /dev/fd0 and /dev/fd1 in the
# cases that the kernel command line's "fdtest=" names. Everything the host checks comes
# out on the console as lines starting with "@@"; the installer's own lines come between
# "@@ begin NAME" and "@@ end NAME exit=CODE".
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
while read -r module; do
  insmod "/modules/$module.ko" || echo "@@ insmod $module failed"
done </modules/order
# The drives as the driver found them in the CMOS, e.g. "fd0 is 1.44M".
echo "@@ $(dmesg -c | sed -n 's/^\[[ 0-9.]*\] //; s/^\(Floppy drive(s): .*\)/\1/p')"

# Runs the floppy job as a user would, with no drive mapped unless the case asks for one,
# then reports its exit code and what the floppy driver logged meanwhile.
job() {  # NAME [INSTALLER OPTIONS...]
  name=$1
  shift
  echo "@@ begin $name"
  (cd /run && /installer "$@" --batch create-floppy </dev/null 2>&1)
  code=$?
  echo "@@ driver $name: $(dmesg -c | sed 's/^\[[ 0-9.]*\] //' | grep -E 'flop|fd[0-9]|I/O' |
    sort -u | head -n 4 | tr '\n' ';')"
  echo "@@ end $name exit=$code"
}

# Asks the host to change the disk in drive A: and waits until it has.
media() {  # WHAT
  echo "@@ media $1"
  read -r _
}

case "$(sed -n 's/.* fdtest=\([a-z0-9]*\).*/\1/p' /proc/cmdline)" in
  disk)
    # A FAT disk mounted read-only must keep the job away from the drive.
    mount -t msdos -o ro /dev/fd0 /mnt || echo "@@ mount failed"
    job mounted
    umount /mnt
    media blank
    job write
    media protected
    job protected
    media none
    job empty
    ;;
  types)
    # A: is a 2.88 MB drive, given a 1.44 MB disk; B: is a 5.25-inch 1.2 MB drive, which
    # drive A: is mapped to in the second case, so that no 1.44 MB drive is left.
    media e2880
    job e2880
    job h1200 --drive A=/dev/fd1
    ;;
esac
echo "@@ done"
poweroff -f
