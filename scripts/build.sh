#!/bin/sh
# Configures and builds everything (library, reference host, tests, fixtures) in ./build.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
