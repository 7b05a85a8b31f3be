#!/bin/sh
# The release: builds the DLL and the reference host in build-package (Release, the code the
# tests run, with debug information for the files beside the stripped binaries) and packs
# them with CPack (cmake/package.cmake). Prints the zip's path on its last line:
#   package: <path>/OutlookPluginInstaller-<version>-win64.zip
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
build=build-package
# -g changes no instruction GCC generates, only adds the debug sections.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_C_FLAGS=-g -DCMAKE_CXX_FLAGS=-g \
  >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
zip=$(cd "$build" && cpack | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[ -n "$zip" ] || { echo "cpack made no package"; exit 1; }
echo "package: $zip"
