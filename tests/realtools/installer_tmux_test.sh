#!/usr/bin/env bash
# Drives the installer's terminal dialog in a tmux pane as a user would: f asks to write
# the floppy, Enter confirms, the success message comes, Enter closes it, x leaves. The
# floppy image mapped as A: must then hold what installer-export writes, and the terminal
# must be back in its line mode.
#
# usage: installer_tmux_test.sh INSTALLER EXPORTER SAMPLE_BUILD_DIR
set -u
installer=$(realpath "$1") exporter=$(realpath "$2") built=$(realpath "$3")

fail() { echo "FAIL: $*" >&2; [ -f "$work/screen" ] && cat "$work/screen" >&2; exit 1; }
for tool in tmux cmp timeout truncate; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/installer_tmux_test.XXXXXX") || fail "mktemp"
# A server of this test's own, on its own socket, so no user session is touched.
socket="installer_tmux_test_$$"
tmux_() { tmux -L "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1796589348
cd "$work" || fail "cd $work"
cp "$built/install.dat" . || fail "copy of the sample data file"
truncate -s 1474560 floppy.img || fail "truncate"

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

# Waits up to 20 s until the pane shows TEXT; the pane's last picture is in screen.
wait_for() {  # TEXT
  local i
  for i in $(seq 1 200); do
    tmux_ capture-pane -p >screen 2>/dev/null
    grep -qF -- "$1" screen && return 0
    sleep 0.1
  done
  fail "the pane never showed '$1'"
}
# Waits up to 20 s until the pane no longer shows TEXT.
wait_gone() {  # TEXT
  local i
  for i in $(seq 1 200); do
    tmux_ capture-pane -p >screen 2>/dev/null
    grep -qF -- "$1" screen || return 0
    sleep 0.1
  done
  fail "the pane still shows '$1'"
}

wait_for "[f] Create Floppy"
grep -qF "[picture " screen || fail "no picture placeholder"
tmux_ send-keys f
wait_for "[Enter] OK   [Esc] Cancel"
grep -qF "Write the boot floppy now?" screen || fail "the confirmation is not the floppy's"
# Escape says no: the question goes and nothing is written.
tmux_ send-keys Escape
wait_gone "[Esc] Cancel"
cmp -s floppy.img <(head -c 1474560 /dev/zero) || fail "the floppy was written after Escape"
tmux_ send-keys f
wait_for "[Enter] OK   [Esc] Cancel"
tmux_ send-keys Enter
wait_for "has been written to the floppy disk in drive A:"
grep -qF "(f) Create Floppy - disabled" screen || fail "Create Floppy is not disabled while its message shows"
tmux_ send-keys Enter
wait_for "[f] Create Floppy"
wait_gone "[Enter] OK"
tmux_ send-keys x
for i in $(seq 1 100); do [ -s mode.after ] && break; sleep 0.1; done
[ "$(cat exit.code 2>/dev/null)" = 0 ] || fail "the installer exited '$(cat exit.code 2>/dev/null)'"
[ "$(cat mode.after)" = "$(cat mode.before)" ] ||
  fail "the terminal was left in '$(cat mode.after)' mode, not '$(cat mode.before)'"

"$exporter" make-floppy-image --quiet --data install.dat --out export.img || fail "export"
cmp -n 18432 floppy.img export.img || fail "the first cylinder differs from the export"
echo "PASS"
