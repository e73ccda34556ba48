#!/bin/busybox sh
# shellcheck shell=dash
# /init of floppy_driver_test.sh's guest: the "fdtest=" cases, host lines "@@", job output in "@@ begin/end".
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev; mount -t proc proc /proc; mount -t sysfs sys /sys
for module in floppy fat msdos nls_cp437; do insmod "/modules/$module.ko" || echo "@@ insmod $module failed"; done
echo "@@ $(dmesg -c | sed -n 's/^\[[ 0-9.]*\] //; s/^\(Floppy drive(s): .*\)/\1/p')"

job() {  # NAME [INSTALLER OPTIONS...]: the floppy job, then what the driver logged
  name=$1 && shift
  echo "@@ begin $name"
  (cd /run && /installer "$@" --batch create-floppy </dev/null 2>&1)
  code=$?
  echo "@@ driver $name: $(dmesg -c | sed 's/^\[[ 0-9.]*\] //' | grep -E 'flop|fd[0-9]|I/O' | sort -u | head -n4 | tr '\n' ';')"
  echo "@@ end $name exit=$code"
}
media() { echo "@@ media $1" && read -r _; }  # WHAT: the host puts that disk into A: and answers

case "$(sed -n 's/.* fdtest=\([a-z0-9]*\).*/\1/p' /proc/cmdline)" in
  disk)  # a FAT disk mounted read-only keeps the job away from the drive
    mount -t msdos -o ro /dev/fd0 /mnt || echo "@@ mount failed"
    job mounted
    umount /mnt
    media blank && job write
    media protected && job protected
    media none && job empty
    ;;
  types)  # A: 2.88 MB with a 1.44 MB disk; B: 5.25-inch 1.2 MB, then mapped as A:
    media e2880 && job e2880
    job h1200 --drive A=/dev/fd1
    ;;
esac
echo "@@ done"
poweroff -f
