#!/usr/bin/env bash
# Drives the installer's terminal dialog in a tmux pane as a user would: f asks to write
# the floppy, Escape says no, f and Enter write it, Enter closes the success message, x
# leaves. The floppy image mapped as A: must then hold what installer-export writes, and
# the terminal must be back in its line mode.
#
# usage: installer_tmux_test.sh INSTALLER EXPORTER SAMPLE_BUILD_DIR
installer=$(realpath "$1") exporter=$(realpath "$2") built=$(realpath "$3")
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"
need tmux cmp timeout truncate
# A server of this test's own, on its own socket, so no user session is touched.
socket="installer_tmux_test_$$"
tmux_() { tmux -L "$socket" "$@"; }
on_exit "tmux -L '$socket' kill-server"
cd "$work" || fail "cd $work"
cp "$built/install.dat" . && truncate -s "$floppy_bytes" floppy.img || fail "setup"

# The pane runs the installer, then records its exit code and the terminal's mode.
cat >pane.sh <<EOF
cd '$work'
stty -a | grep -o -- '-\?icanon' >mode.before
'$installer' --drive A=floppy.img
echo \$? >exit.code
stty -a | grep -o -- '-\?icanon' >mode.after
sleep 60
EOF
tmux_ -f /dev/null new-session -d -x 100 -y 40 "bash '$work/pane.sh'" || fail "tmux new-session"

# Waits up to 20 s until the pane shows TEXT (or with "gone", no longer shows it).
wait_for() {  # [gone] TEXT
  local gone=0 _
  [ "$1" = gone ] && gone=1 && shift
  for _ in $(seq 1 200); do
    tmux_ capture-pane -p >screen 2>/dev/null
    grep -qF -- "$1" screen
    [ $? = $gone ] && return 0  # grep's 0 is "shown"
    sleep 0.1
  done
  fail "after 20 s the pane $([ $gone = 1 ] && echo still shows || echo does not show) '$1': $(cat screen)"
}

wait_for "[f] Create Floppy"
grep -qF "[picture " screen || fail "no picture placeholder: $(cat screen)"
tmux_ send-keys f
wait_for "[Enter] OK   [Esc] Cancel"
grep -qF "Write the boot floppy now?" screen || fail "the confirmation is not the floppy's: $(cat screen)"
tmux_ send-keys Escape
wait_for gone "[Esc] Cancel"
is_zeros floppy.img "$floppy_bytes" || fail "the floppy was written after Escape"
tmux_ send-keys f
wait_for "[Enter] OK   [Esc] Cancel"
tmux_ send-keys Enter
wait_for "has been written to the floppy disk in drive A:"
grep -qF "(f) Create Floppy - disabled" screen || fail "Create Floppy is not disabled while its message shows"
tmux_ send-keys Enter
wait_for "[f] Create Floppy"
wait_for gone "[Enter] OK"
tmux_ send-keys x
for _ in $(seq 1 100); do [ -s mode.after ] && break; sleep 0.1; done
[ "$(cat exit.code 2>/dev/null)" = 0 ] || fail "the installer exited '$(cat exit.code 2>/dev/null)'"
[ "$(cat mode.after)" = "$(cat mode.before)" ] ||
  fail "the terminal was left in '$(cat mode.after)' mode, not '$(cat mode.before)'"
export_floppy install.dat export.img
cmp -n "$cylinder_bytes" floppy.img export.img || fail "the first cylinder differs from the export"
echo "PASS"
