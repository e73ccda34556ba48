#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on a corpus
# seeded from the sample data files and malformed variants of them. Any crash, leak or
# sanitizer report fails the run; the fuzzer's numbers are printed per target.
#
# usage: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
bash scripts/build.sh fuzz -DCMAKE_CXX_COMPILER=clang++ -DINSTALLER_FUZZ=ON \
  -DINSTALLER_SANITIZE=address,undefined,fuzzer-no-link >/dev/null

seeds=build/fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"
cp build/fuzz/sample/install.dat build/fuzz/sample/install-de.dat "$seeds/"
mk=build/fuzz/mkinstalldat
manifest=(--manifest sample/texts/en.txt --manifest sample/content.manifest
          --set BASE_IMAGE="$PWD/build/fuzz/sample/base.img" --set PICTURE="$PWD/build/fuzz/sample/picture.bmp")
"$mk" --out "$seeds/badmagic.dat" --magic FEAFBEBB "${manifest[@]}"
"$mk" --out "$seeds/version2.dat" --format-version 2 "${manifest[@]}"
"$mk" --out "$seeds/truncated.dat" --truncate 700 "${manifest[@]}"
"$mk" --out "$seeds/farentry.dat" --entry-offset 5100=4000000000 "${manifest[@]}"
"$mk" --out "$seeds/hugesize.dat" --entry-size 10003=4294967295 "${manifest[@]}"
"$mk" --out "$seeds/count.dat" --entry-count 65535 "${manifest[@]}"
printf 'readme.txt' > "$seeds/name1"
printf '.profile' > "$seeds/name2"
printf 'archive.tar.gz' > "$seeds/name3"

status=0
for target in FuzzDataFile FuzzFloppyImage FuzzIsoImage FuzzIsoName; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  log=build/fuzz/$target.log
  if ! (cd build/fuzz && "./tests/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=20 -max_len=65536 -print_final_stats=1 "corpus/$target" seeds) >"$log" 2>&1; then
    echo "$target: FAILED (see $log)"
    grep -E "ERROR|SUMMARY" "$log" | head -5
    status=1
    continue
  fi
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "$target: ${runs:-?} executions, corpus of $(ls "$corpus" | wc -l) inputs, no crash"
done
exit $status
