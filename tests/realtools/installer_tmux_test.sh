#!/usr/bin/env bash
# The terminal dialog in tmux: f Esc writes nothing, f Enter writes the export, x restores line mode.
. "$(dirname "$0")/lib.sh"
need tmux cmp timeout truncate
tmux_() { tmux -L "installer_tmux_test_$$" "$@"; }  # a server of our own, away from any user's
on_exit "tmux_ kill-server"
cp "$built/install.dat" . && truncate -s $floppy_bytes floppy.img

mode="stty -a | grep -o -- '-\\?icanon'"
tmux_ -f /dev/null new-session -d -x 100 -y 40 \
  "cd '$work'; $mode >mode.before; '$installer' --drive A=floppy.img; echo \$? >exit.code; $mode >mode.after; sleep 60"

wait_for() {  # [gone] TEXT: up to 20 s until the pane shows TEXT (with "gone", no longer does)
  local shown=1 _
  [ "$1" != gone ] || { shown=0; shift; }
  for _ in $(seq 200); do
    tmux_ capture-pane -p >screen 2>/dev/null || true
    [ $(($(grep -cF -- "$1" screen) > 0)) = $shown ] && return || sleep 0.1
  done
  fail "after 20 s the pane $([ $shown = 0 ] && echo still shows || echo does not show) '$1': $(cat screen)"
}
press() { tmux_ send-keys "$1" && shift && wait_for "$@"; }  # KEY [gone] TEXT

wait_for "[f] Create Floppy"
grep -qF "[picture " screen || fail "no picture placeholder: $(cat screen)"
press f "[Enter] OK   [Esc] Cancel"
grep -qF "Write the boot floppy now?" screen || fail "the confirmation is not the floppy's: $(cat screen)"
press Escape gone "[Esc] Cancel"
is_zeros floppy.img $floppy_bytes || fail "the floppy was written after Escape"
press f "[Enter] OK   [Esc] Cancel"
press Enter "has been written to the floppy disk in drive A:"
grep -qF "(f) Create Floppy - disabled" screen || fail "Create Floppy is not disabled while its message shows"
press Enter "[f] Create Floppy"
wait_for gone "[Enter] OK"
tmux_ send-keys x
for _ in $(seq 100); do [ -s mode.after ] && break; sleep 0.1; done
[ "$(cat exit.code 2>/dev/null)" = 0 ] || fail "the installer exited '$(cat exit.code 2>/dev/null)'"
[ "$(cat mode.after)" = "$(cat mode.before)" ] || fail "the terminal was left in '$(cat mode.after)' mode"
export_floppy install.dat export.img
cmp -n $cylinder_bytes floppy.img export.img || fail "the first cylinder differs from the export"
