#!/bin/sh
# Checks the release zip as a customer receives it: makes it (scripts/package.sh), unpacks
# it, checks its SHA256SUMS, the DLL's imports and the host's version, then runs the C host
# test and the scenario table's acceptance rows against the DLL out of the zip. The test
# programs load the DLL from their own folder, so they are copied beside it.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null
made=$(sh scripts/package.sh)
zip=${made##*package: }
name=$(basename "$zip" .zip)
version=${name#OutlookPluginInstaller-}
version=${version%-win64}
scratch=$PWD/build-package/verify
tests=$PWD/build/bin
acceptance='*Scenario.*/e2e_x64:*Scenario.*/e2e_x86:*Scenario.*/e2e_no_outlook'

rm -rf "$scratch"
mkdir -p "$scratch"
unzip -q "$zip" -d "$scratch"
bin=$scratch/$name/bin
(cd "$scratch/$name" && sha256sum --quiet -c SHA256SUMS)
sh tests/check_imports.sh x86_64-w64-mingw32-objdump "$bin/OutlookPluginInstaller.dll" >/dev/null

cp -r "$tests/suite.exe" "$tests/c_host_test.exe" "$tests/fixtures" "$bin/"
tests/wine-run.sh "$scratch/wine" "$bin/installer-host.exe" --version | tr -d '\r' >"$scratch/version.txt"
grep -q "^installer-host $version, commit " "$scratch/version.txt" ||
  { echo "installer-host --version: $(cat "$scratch/version.txt"), not $version"; exit 1; }
tests/wine-run.sh "$scratch/wine" "$bin/c_host_test.exe"
tests/wine-run.sh "$scratch/wine" "$bin/suite.exe" --gtest_filter="$acceptance"
echo "verified: $zip"
