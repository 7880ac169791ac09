#!/bin/sh
# Writes database files with the independent Python writer and checks mrvdbtool's reading
# of them.  Usage: run_crosscheck.sh MRVDBTOOL WORKDIR [PYTHON]
set -e
here=$(dirname "$0")
py=${3:-python3}
rm -rf "$2"
mkdir -p "$2"
"$py" "$here/make_abs.py" "$2"
"$py" "$here/check_abs.py" "$1" "$2"
