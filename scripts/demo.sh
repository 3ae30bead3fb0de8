#!/usr/bin/env bash
# Builds the tool and merges the sample reports of examples/ in a scratch copy (the first input
# is replaced by the result, so the originals stay as they are), then shows the delivered table
# and the run log.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target Zuvrex5 installed_tables dbfdump > /dev/null

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp build/bin/Zuvrex5 build/bin/template.dbf build/bin/sorted.DBF "$demo"/
cp examples/REPORT.DBF examples/REP_DB01.DBF examples/Zuvrex5.INI "$demo"/

echo "== The sample reports"
build/bin/dbfdump "$demo/REPORT.DBF"
build/bin/dbfdump "$demo/REP_DB01.DBF"
echo
echo "== Running: Zuvrex5 REPORT.DBF REP_DB01.DBF 4   (in $demo)"
status=0
(cd "$demo" && ./Zuvrex5 REPORT.DBF REP_DB01.DBF 4) || status=$?
echo "exit status: $status"
echo
echo "== The merged report, delivered over REPORT.DBF"
build/bin/dbfdump "$demo/REPORT.DBF"
echo
echo "== The run log, $demo/Zuvrex5.LOG (Windows-1251, shown as UTF-8)"
iconv -f CP1251 -t UTF-8 "$demo/Zuvrex5.LOG" | tr -d '\r'
exit "$status"
