#!/usr/bin/env bash
# End to end under Wine: the Windows mrvdbtool.exe writes the four sample databases and converts
# them into a SQLite External Database through the SQLite ODBC driver (Wine's odbc32 reaches the
# host's unixODBC), then the host's sqlite3 counts the rows and checks accented addresses.
#   wine_convert.sh <wine-runner> <mrvdbtool.exe> <work-dir>
# Exits 77 (skipped) when the SQLite ODBC driver is not registered on the host.
set -euo pipefail
runner=$1 tool=$2 work=$3
rows=300

if ! odbcinst -q -d 2>/dev/null | grep -q '^\[SQLite3\]'; then
  echo "SQLite3 ODBC driver not registered; skipping"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work"

"$runner" "$tool" sample src --rows "$rows"
# The host driver opens Database= as a host path; a path relative to the current folder works
# from both sides.
set +e
"$runner" "$tool" convert --aswl src/aswl.abs --greylist src/greylist.abs --dha src/dha.abs \
  --honeypot src/honeypot.abs --target "Driver={SQLite3};Database=external.db" \
  --create-schema --no-service --existing delete </dev/null >convert.log 2>&1
rc=$?
set -e
cat convert.log
[ $rc -eq 0 ] || { echo "convert exited with $rc"; exit 1; }

fail=0
for t in ASWL GREY DhaHistory DhaBlacklist HoneypotBlacklist; do
  n=$(sqlite3 external.db "SELECT COUNT(*) FROM $t;")
  echo "$t $n"
  [ "$n" = "$rows" ] || { echo "table $t holds $n rows, expected $rows"; fail=1; }
done
# Non-ASCII sample addresses must arrive as UTF-8 text, not as mangled bytes.
accented=$(sqlite3 external.db "SELECT COUNT(*) FROM GREY WHERE GREY_SENDER GLOB '*[^ -~]*';")
bad=$(sqlite3 external.db "SELECT COUNT(*) FROM GREY WHERE GREY_SENDER LIKE '%?%';")
echo "accented senders: $accented, with replacement marks: $bad"
[ "$accented" -gt 0 ] || { echo "no non-ASCII sender arrived"; fail=1; }
[ "$bad" -eq 0 ] || fail=1
exit $fail
