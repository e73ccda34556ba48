# shellcheck shell=bash
# shellcheck disable=SC2154  # $exporter, $mkinstalldat and $built come from the checks
# Shared steps of the real-tool checks, sourced by each: a work folder removed at exit (kept
# with KEEP_WORK=1), exit 77 when a tool is missing, data files built with mkinstalldat,
# exports, written floppies compared with the export, and QEMU boots read back on COM1.
set -u
export SOURCE_DATE_EPOCH=1796589348 MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1
readonly floppy_bytes=1474560 cylinder_bytes=18432

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
need() { local tool; for tool; do command -v "$tool" >/dev/null || skip "$tool is missing"; done; }

work=$(mktemp -d "${TMPDIR:-/tmp}/$(basename "$0" .sh).XXXXXX") || fail "mktemp"
exit_steps=()
on_exit() { exit_steps+=("$1"); }  # COMMAND, run at exit before the folder goes
finish() {
  local step
  for step in "${exit_steps[@]+"${exit_steps[@]}"}"; do eval "$step" 2>/dev/null; done
  if [ -n "${KEEP_WORK:-}" ]; then echo "work folder kept: $work" >&2; return; fi
  chmod -R u+w "$work" 2>/dev/null  # osirrox extracts with the CD's read-only modes
  rm -rf "$work"
}
trap finish EXIT

export_floppy() {  # DAT IMG
  "$exporter" make-floppy-image --quiet --data "$1" --out "$2" || fail "floppy export of $1"
}
export_iso() {  # DAT ISO; the exporter's messages go to ISO.err
  "$exporter" make-iso --quiet --data "$1" --out "$2" 2>"$2.err" || fail "export of $1: $(cat "$2.err")"
}
make_dat() {  # OUT, with the manifest on standard input
  cat >"$work/manifest"
  "$mkinstalldat" --out "$1" --manifest "$work/manifest" >"$work/mkinstalldat.log" 2>&1 ||
    fail "mkinstalldat $1: $(cat "$work/mkinstalldat.log")"
}
floppy_entries() {  # KERNEL [README]: the manifest lines of the floppy's files
  printf '10002 file %s\n10003 file %s\n' "$built/base.img" "$1"
  [ -z "${2:-}" ] || printf '5100 file %s\n' "$2"
}

has_line() { grep -qxF -- "$2" "$1" || fail "$(basename "$1") lacks '$2': $(cat "$1")"; }  # FILE LINE
is_zeros() { cmp -s "$1" <(head -c "$2" /dev/zero); }  # FILE BYTES
check_fsck() { fsck.fat -n "$1" >"$1.fsck" 2>&1 || fail "fsck.fat on $1: $(cat "$1.fsck")"; }  # IMG

# A floppy the floppy job wrote: EXPORT over the cylinders the job writes (cylinder 0, then
# each one up to the first that holds only the 0xF6 format filler), zeros after, a clean
# FAT. Sets $used, the number of cylinders written.
check_written() {  # IMG EXPORT
  head -c "$cylinder_bytes" /dev/zero | tr '\0' '\366' >"$work/filler"
  used=1
  while [ "$used" -lt 80 ] && ! dd if="$2" bs="$cylinder_bytes" skip="$used" count=1 \
    status=none | cmp -s - "$work/filler"; do
    used=$((used + 1))
  done
  local written=$((used * cylinder_bytes))
  cmp -n "$written" "$1" "$2" || fail "$1 differs from the export in its first $used cylinders"
  cmp <(tail -c +"$((written + 1))" "$1") <(head -c "$((floppy_bytes - written))" /dev/zero) ||
    fail "$1 was written past cylinder $used or changed its size"
  check_fsck "$1"
}

# Boots QEMU and waits until COM1 ends a line (or QEMU ends, or 60 s pass); COM1 must then
# have printed LINE and CR LF and nothing else.
boot_prints() {  # NAME LINE QEMU-OPTIONS...
  local name=$1 log="$work/$1.com1" line=$2 _
  shift 2
  : >"$log"
  timeout 90 qemu-system-i386 -accel tcg -display none -monitor none -no-reboot \
    -serial "file:$log" "$@" 2>"$log.err" &
  local pid=$!
  for _ in $(seq 1 600); do
    [ "$(tail -c 2 "$log" | od -An -tx1 | tr -d ' \n')" = 0d0a ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.3  # anything printed after the line would show up
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  cmp -s "$log" <(printf '%s\r\n' "$line") ||
    fail "booting $name did not print '$line' alone: $(od -c "$log" | head -n 20) $(cat "$log.err")"
  echo "  $name boots: $(stat -c %s "$log") bytes on COM1"
}
boot_floppy() { boot_prints "$1" "$2" -drive "file=$3,if=floppy,format=raw" -boot a; }  # NAME LINE IMG
