#!/usr/bin/env bash
# scripts/check-layers on small trees: a climbing include fails naming the
# file and line, an include downwards and the byte-buffer header pass, a
# folder missing from the table fails; and the repository itself passes.
set -uo pipefail
script="$1/scripts/check-layers"
repo="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

expect() {  # expect NAME WANTED_STATUS WANTED_TEXT TREE
  local name="$1" wanted="$2" text="$3" tree="$4" output status
  output=$("$script" "$tree" 2>&1)
  status=$?
  if [[ "$wanted" == fail && $status -eq 0 ]] || [[ "$wanted" == pass && $status -ne 0 ]]; then
    echo "FAIL $name: exit $status, wanted $wanted"$'\n'"$output"
    failures=$((failures + 1))
  elif [[ -n "$text" && "$output" != *"$text"* ]]; then
    echo "FAIL $name: output lacks \"$text\""$'\n'"$output"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

tree() {  # tree NAME FILE=CONTENT...
  local dir="$tmp/$1"
  shift
  mkdir -p "$dir"
  for spec in "$@"; do
    mkdir -p "$dir/$(dirname "${spec%%=*}")"
    printf '%s\n' "${spec#*=}" >"$dir/${spec%%=*}"
  done
  echo "$dir"
}

expect "downwards include passes" pass "" \
  "$(tree down 'core/card.cpp=#include "channel/card_channel.h"' 'channel/card_channel.h=#pragma once')"
expect "climbing include fails with file and line" fail "channel/apdu.cpp:2: channel/ may not include core/card.h" \
  "$(tree climb 'channel/apdu.cpp=#include <array>
#include "core/card.h"')"
expect "the tool reaching into the card layer fails" fail "cli/session.cpp:1: cli/ may not include channel/file_map.h" \
  "$(tree tool 'cli/session.cpp=#include "channel/file_map.h"')"
expect "the byte buffers are shared" pass "" \
  "$(tree bytes 'cli/model.h=#include "channel/bytes.h"')"
expect "a folder missing from the table fails" fail "folder gadgets/ is not in the layer table" \
  "$(tree unknown 'gadgets/a.cpp=#include "channel/apdu.h"')"
expect "the repository" pass "" "$repo"

exit $((failures != 0))
