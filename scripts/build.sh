#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh NAME [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1
shift
cmake -S . -B "build/$name" -G Ninja "$@" >/dev/null
cmake --build "build/$name" -j 2
