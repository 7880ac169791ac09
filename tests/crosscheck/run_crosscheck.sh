#!/bin/sh
# Writes database files with the independent Python writer and checks mrvdbtool's reading
# of them.  Usage: run_crosscheck.sh MRVDBTOOL WORKDIR
set -e
here=$(dirname "$0")
rm -rf "$2"
mkdir -p "$2"
python3 "$here/make_abs.py" "$2"
python3 "$here/check_abs.py" "$1" "$2"
