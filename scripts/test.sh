#!/bin/sh
# Builds and runs every test under Wine (each test program in a fresh prefix of its own).
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh
cd build
ctest -j"$(nproc)" --output-on-failure
