#!/usr/bin/env bash
# Plants the faults of scripts/planted_faults.txt one at a time in a copy of the source
# tree and runs the Linux suite against each: the unit tests first (stopping at the first
# failure), then, if they pass, the checks by real tools. A fault that no test notices is
# a hole in the suite.
#
#   bash scripts/planted_faults.sh [--check] [BUILD_DIR] [FAULT_ID...]
#
# BUILD_DIR (default build/planted) holds the copy (src/), its build (build/) and the
# results (results.txt). The copy is refreshed from the working tree, changed files only,
# so later runs build incrementally. Faults are found by their code, not by file name:
# each snippet must occur exactly once in the product files, or the fault is reported
# stale. PLANTED_TIMEOUT (seconds; by default three times the clean suite's time and a
# minute) bounds each test run; a run that overruns it counts as caught, since the suite
# did not pass. PLANTED_REV=COMMIT plants into that commit's files instead of the working
# tree's; PLANTED_JOBS sets the build's parallel jobs (2).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD
check_only=0
if [ "${1:-}" = --check ]; then
  check_only=1
  shift
fi
work=${1:-build/planted}
shift || true
wanted=("$@")
case $work in /*) ;; *) work=$root/$work ;; esac
src=$work/src
bld=$work/build
saved=$work/saved
faults=$root/scripts/planted_faults.txt
jobs=${PLANTED_JOBS:-2}
mkdir -p "$work"

# Product files: everything but tests, samples, scripts, benchmarks, toolchains, CI and
# the top-level files. The check looks at the working tree's; a run at the copy's.
(cd "$root" && git ls-files -co --exclude-standard) |
  grep -v -E '^(tests|sample|scripts|bench|cmake|\.ci)/' | grep / | sort >"$work/product-files.txt"

# --- Planting ------------------------------------------------------------------------
# The fault file: blocks that start with "[id] description", then edits. Each edit is
# one or more "- " lines (the code to find; lines match with any indentation) followed
# by "+ " lines (what replaces it; a bare "+" deletes the code, leaving an empty line).
# Lines starting with # are comments.
# `plant list` prints "id<TAB>description" lines; `plant apply ID` edits the copy and
# keeps the originals in $saved; it exits 3 when a snippet is not found exactly once.
# `plant check ID` only looks for the snippets.
plant() {
  perl -e '
use strict; use warnings;
my ($mode, $file, $srcdir, $listfile, $saveddir, $want) = @ARGV;
open(my $fh, "<", $file) or die "cannot read $file\n";
my (@faults, $cur, $edit);
while (my $line = <$fh>) {
  chomp $line;
  next if $line =~ /^\s*#/ || $line =~ /^\s*$/;
  if ($line =~ /^\[([\w.-]+)\]\s*(.*)$/) {
    $cur = { id => $1, what => $2, edits => [] }; push @faults, $cur; $edit = undef; next;
  }
  die "$file: line outside a fault: $line\n" unless $cur;
  if ($line =~ /^- ?(.*)$/) {
    if (!$edit || @{$edit->{new}}) { $edit = { old => [], new => [] }; push @{$cur->{edits}}, $edit; }
    push @{$edit->{old}}, $1;
  } elsif ($line =~ /^\+ ?(.*)$/) {
    die "$file: replacement before code in $cur->{id}\n" unless $edit;
    push @{$edit->{new}}, $1;
  } else { die "$file: cannot read line: $line\n"; }
}
if ($mode eq "list") { print "$_->{id}\t$_->{what}\n" for @faults; exit 0; }
my ($fault) = grep { $_->{id} eq $want } @faults or die "no fault $want\n";
open(my $lf, "<", $listfile) or die; chomp(my @files = <$lf>);
my %text;
for my $f (@files) { local $/; open(my $in, "<", "$srcdir/$f") or next; $text{$f} = <$in>; }
my %orig = %text; my $stale = 0;
for my $e (@{$fault->{edits}}) {
  my $re = join("\\n[ \\t]*", map { my $s = $_; $s =~ s/^\s+|\s+$//g; quotemeta($s) } @{$e->{old}});
  my @hits;
  for my $f (@files) { next unless defined $text{$f}; my $n = () = $text{$f} =~ /$re/g; push @hits, ($f) x $n; }
  if (@hits != 1) {
    print STDERR "$want: \"$e->{old}[0]\" found ", scalar(@hits), " times\n"; $stale = 1; next;
  }
  my $f = $hits[0];
  $text{$f} =~ s{([ \t]*)($re)}{ my $indent = $1; join("\n", map { $indent . $_ } @{$e->{new}}) }e;
}
exit 3 if $stale;
exit 0 if $mode eq "check";
for my $f (sort keys %text) {
  next if $text{$f} eq $orig{$f};
  my $keep = "$saveddir/$f"; (my $dir = $keep) =~ s{/[^/]*$}{}; system("mkdir", "-p", $dir);
  open(my $o, ">", $keep) or die; print $o $orig{$f}; close $o;
  open(my $w, ">", "$srcdir/$f") or die; print $w $text{$f}; close $w;
  print "$f\n";
}
' "$@"
}

# --check: only looks for every fault's code in the working tree, and plants nothing.
if [ "$check_only" = 1 ]; then
  bad=0
  while IFS=$'\t' read -r id _; do
    plant check "$faults" "$root" "$work/product-files.txt" "$saved" "$id" || bad=1
  done < <(plant list "$faults")
  exit "$bad"
fi

# --- The copy ------------------------------------------------------------------------
# The working tree, or with PLANTED_REV set that commit's files (the faults and this
# script stay the working tree's, so two revisions meet the same faults). Only files
# whose bytes differ are copied, so their times change and nothing else's; files that
# are gone from the source are removed from the copy.
mkdir -p "$src" "$bld"
rm -rf "$saved"
from=$root
if [ -n "${PLANTED_REV:-}" ]; then
  from=$work/rev
  rm -rf "$from"
  mkdir -p "$from"
  git archive "$PLANTED_REV" | tar -x -C "$from"
  (cd "$from" && find . -type f -printf '%P\n' | sort) >"$work/all-files.txt"
else
  git ls-files -co --exclude-standard | sort -u >"$work/all-files.txt"
fi
while IFS= read -r f; do
  [ -f "$from/$f" ] || continue
  if ! cmp -s "$from/$f" "$src/$f"; then
    mkdir -p "$src/$(dirname "$f")"
    cp "$from/$f" "$src/$f"
  fi
done <"$work/all-files.txt"
(cd "$src" && find . -type f -printf '%P\n' | sort) | comm -23 - "$work/all-files.txt" |
  while IFS= read -r f; do rm -f "$src/$f"; done
grep -v -E '^(tests|sample|scripts|bench|cmake|\.ci)/' "$work/all-files.txt" | grep / \
  >"$work/product-files.txt"

# Puts back every file that a fault changed. The files get a new time, so the next build
# recompiles them from their true contents.
restore() {
  if [ -d "$saved" ]; then
    (cd "$saved" && find . -type f) | while IFS= read -r f; do cp "$saved/$f" "$src/$f"; done
    rm -rf "$saved"
  fi
}

# Builds TARGET (default: everything).
build() {
  cmake -S "$src" -B "$bld" -G Ninja >/dev/null &&
    cmake --build "$bld" -j "$jobs" ${1:+--target "$1"} >"$work/build.log" 2>&1
}

# Runs the suite; prints "unit: TEST" or "ctest: NAMES" for the first failures found,
# "nocompile: ERROR" when the programs that the real-tool checks run do not build, or
# nothing when everything passed. The unit tests are built and run first: most faults
# end there, without linking the other programs.
run_suite() {
  local out
  out=$(cd "$bld/tests" && timeout "$unit_timeout" ./installer_tests --gtest_fail_fast \
    --gtest_brief=1 2>&1) || {
    local failed
    failed=$(printf '%s\n' "$out" | sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' | head -1)
    echo "unit: ${failed:-crash or timeout}"
    return
  }
  build || {
    echo "nocompile: $(grep -m1 'error:' "$work/build.log" | cut -c1-100)"
    return
  }
  out=$(ctest --test-dir "$bld" -E '^unit$' --timeout "$tool_timeout" 2>&1) || {
    echo "ctest: $(printf '%s\n' "$out" | sed -n 's/^ *[0-9]* - \([^ ]*\) (.*/\1/p' | tr '\n' ' ')"
  }
}

trap restore EXIT
echo "== building the unchanged copy in $bld"
build || { echo "the unchanged tree does not build; see $work/build.log" >&2; exit 1; }
echo "== running the suite on the unchanged copy"
unit_timeout=3600 tool_timeout=3600
start=$SECONDS
baseline=$(run_suite)
if [ -n "$baseline" ]; then
  echo "the suite fails without a planted fault ($baseline); nothing to measure" >&2
  exit 1
fi
# Each run may take three times as long as the clean one, and a minute more, before it
# counts as hung.
unit_timeout=${PLANTED_TIMEOUT:-$((3 * (SECONDS - start) + 60))}
tool_timeout=$unit_timeout
echo "== clean suite: $((SECONDS - start)) s; each run is stopped after $unit_timeout s"

results=$work/results.txt
: >"$results"
caught=0 missed=0 stale=0 broken=0 total=0
while IFS=$'\t' read -r id what; do
  if [ ${#wanted[@]} -gt 0 ] && ! printf '%s\n' "${wanted[@]}" | grep -qx "$id"; then continue; fi
  total=$((total + 1))
  start=$SECONDS
  status=0
  plant apply "$faults" "$src" "$work/product-files.txt" "$saved" "$id" >/dev/null || status=$?
  if [ "$status" -eq 3 ]; then
    outcome=stale detail="snippet not found exactly once"
    stale=$((stale + 1))
  elif [ "$status" -ne 0 ]; then
    outcome=stale detail="could not be planted"
    stale=$((stale + 1))
  elif ! build installer_tests; then
    outcome=nocompile detail="$(grep -m1 'error:' "$work/build.log" | cut -c1-100)"
    broken=$((broken + 1))
  else
    detail=$(run_suite)
    if [ "${detail%%:*}" = nocompile ]; then
      outcome=nocompile
      broken=$((broken + 1))
    elif [ -n "$detail" ]; then
      outcome=caught
      caught=$((caught + 1))
    else
      outcome=MISSED detail=""
      missed=$((missed + 1))
    fi
  fi
  restore
  printf '%-24s %-9s %4ss  %s\n' "$id" "$outcome" $((SECONDS - start)) "$detail" | tee -a "$results"
done < <(plant list "$faults")

# Leaves the copy's build matching its sources again.
build || true
printf '\nplanted %d: caught %d, missed %d, stale %d, does not compile %d\n' \
  "$total" "$caught" "$missed" "$stale" "$broken" | tee -a "$results"
