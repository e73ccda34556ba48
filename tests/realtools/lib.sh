# shellcheck shell=bash disable=SC2034
# Each real-tool check: INSTALLER EXPORTER MKINSTALLDAT SAMPLE_BUILD SAMPLE_SOURCE CACHE; KEEP_WORK=1 keeps $work.
set -euo pipefail
export SOURCE_DATE_EPOCH=1796589348 MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1
here=$(cd "$(dirname "$0")" && pwd)
installer=$(realpath "$1") exporter=$(realpath "$2") mkinstalldat=$(realpath "$3")
built=$(realpath "$4") source=$(realpath "$5") cache=$(realpath -m "$6")/floppy-guest
readonly floppy_bytes=1474560 cylinder_bytes=18432

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; exit 77; }
need() { local tool; for tool; do command -v "$tool" >/dev/null || skip "$tool is missing"; done; }

work=$(mktemp -d "${TMPDIR:-/tmp}/$(basename "$0" .sh).XXXXXX")
exit_steps=()
on_exit() { exit_steps+=("$1"); }  # COMMAND
finish() {
  local step
  for step in "${exit_steps[@]+"${exit_steps[@]}"}"; do eval "$step" 2>/dev/null || true; done
  [ -z "${KEEP_WORK:-}" ] || { echo "work folder kept: $work" >&2; return; }
  chmod -R u+w "$work" && rm -rf "$work"  # osirrox extracts read-only files
}
trap finish EXIT
cd "$work"

export_floppy() { "$exporter" make-floppy-image --quiet --data "$1" --out "$2" || fail "floppy export of $1"; }
export_iso() {  # DAT ISO; the exporter's messages go to ISO.err
  "$exporter" make-iso --quiet --data "$1" --out "$2" 2>"$2.err" || fail "export of $1: $(cat "$2.err")"
}
make_dat() {  # OUT, with the manifest on standard input
  cat >manifest
  "$mkinstalldat" --out "$1" --manifest manifest >mkinstalldat.log 2>&1 || fail "mkinstalldat $1: $(cat mkinstalldat.log)"
}
floppy_entries() {  # KERNEL [README]: the manifest lines of the floppy's files
  printf '10002 file %s\n10003 file %s\n' "$built/base.img" "$1"
  [ -z "${2:-}" ] || printf '5100 file %s\n' "$2"
}
readme_line=$(head -n 1 "$source/files/readme.txt" | tr -d '\r')

has_line() { grep -qxF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"; }  # FILE LINE
is_zeros() { cmp -s "$1" <(head -c "$2" /dev/zero); }                        # FILE BYTES
check_fsck() { fsck.fat -n "$1" >"$1.fsck" 2>&1 || fail "fsck.fat on $1: $(cat "$1.fsck")"; }

check_written() {  # IMG EXPORT: EXPORT up to its first all-0xF6 cylinder ($used), zeros after, fsck clean
  used=1
  while [ $used -lt 80 ] && ! cmp -s <(dd if="$2" bs=$cylinder_bytes skip=$used count=1 status=none) \
    <(head -c $cylinder_bytes /dev/zero | tr '\0' '\366'); do used=$((used + 1)); done
  cmp -n $((used * cylinder_bytes)) "$1" "$2" || fail "$1 differs from the export in its first $used cylinders"
  cmp <(tail -c +$((used * cylinder_bytes + 1)) "$1") <(head -c $((floppy_bytes - used * cylinder_bytes)) /dev/zero) ||
    fail "$1 was written past cylinder $used or changed its size"
  check_fsck "$1"
}

boot_prints() {  # NAME LINE QEMU-OPTIONS...: once COM1 ends a line, it holds LINE, CR LF alone
  local log=$1.com1 line=$2 pid _
  shift 2
  : >"$log"
  timeout 90 qemu-system-i386 -accel tcg -display none -monitor none -no-reboot -serial "file:$log" "$@" 2>"$log.err" &
  pid=$!
  for _ in $(seq 600); do
    [ "$(tail -c 2 "$log" | od -An -tx1 | tr -d ' \n')" != 0d0a ] && kill -0 $pid 2>/dev/null && sleep 0.1 || break
  done
  { sleep 0.3; kill $pid; wait $pid; } 2>/dev/null || true  # anything printed after the line shows up
  cmp -s "$log" <(printf '%s\r\n' "$line") || fail "$log is not '$line' alone: $(od -c "$log" | head) $(cat "$log.err")"
}
boot_floppy() { boot_prints "$1" "$2" -drive "file=$3,if=floppy,format=raw" -boot a; }  # NAME LINE IMG
