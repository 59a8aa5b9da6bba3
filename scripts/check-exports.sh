#!/usr/bin/env bash
# Compares the dynamic symbols an effect library defines with the expected list.
# usage: check-exports.sh LIBRARY EXPECTED_LIST
set -euo pipefail
lib=$1
expected=$2
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' | sort)
if ! diff -u <(grep -v '^#' "$expected" | sed '/^$/d' | sort) <(echo "$actual"); then
  echo "exported symbols of $lib differ from $expected" >&2
  exit 1
fi
echo "exports of $(basename "$lib") match $(basename "$expected")"
