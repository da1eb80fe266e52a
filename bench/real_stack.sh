#!/usr/bin/env bash
# Runs zrn-bench-real-stack through a private pcscd with the vpcd driver and
# zrn-virtual-card serving the largest extended card, then stops exactly what it
# started. pcscd always puts its socket in /run/pcscd, so it runs in a mount
# namespace of its own in which a private directory is bound over
# /run/pcscd; the clients find that socket through PCSCLITE_CSOCK_NAME.
#
#   bench/real_stack.sh BUILD_DIR [zrn-bench-real-stack options]
# Exit 0 after a comparison, 1 when it fails, 77 when the stack is missing.
set -euo pipefail

build=${1:?usage: real_stack.sh BUILD_DIR [options]}
shift
program="$build/bench/zrn-bench-real-stack"
virtual_card="$build/tools/virtual_card/zrn-virtual-card"
driver=/usr/lib/pcsc/drivers/serial/libifdvpcd.so

missing=()
command -v pcscd >/dev/null || missing+=(pcscd)
command -v unshare >/dev/null || missing+=(unshare)
[[ -e $driver ]] || missing+=("$driver")
[[ -x $program ]] || missing+=("$program")
[[ -x $virtual_card ]] || missing+=("$virtual_card")
# A mount namespace as root, or inside a user namespace of our own otherwise.
namespace=(unshare --mount --propagation private)
if ! "${namespace[@]}" true 2>/dev/null; then
  namespace=(unshare --user --map-root-user --mount --propagation private)
  "${namespace[@]}" true 2>/dev/null || missing+=("a mount namespace (unshare --mount)")
fi
if ((${#missing[@]})); then
  echo "real stack skipped: missing ${missing[*]}"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zrn-real-stack.XXXXXX")
pcscd_pid=
virtual_card_pid=
stop() {
  # Our own processes only, by the ids we started them with.
  [[ -n $virtual_card_pid ]] && kill "$virtual_card_pid" 2>/dev/null && wait "$virtual_card_pid" 2>/dev/null || true
  [[ -n $pcscd_pid ]] && kill "$pcscd_pid" 2>/dev/null && wait "$pcscd_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT

# A port nobody listens on, for the driver and the card to meet.
port=
for _ in $(seq 1 50); do
  candidate=$((20000 + RANDOM % 20000))
  if ! ss -Htln "sport = :$candidate" 2>/dev/null | grep -q . &&
     ! ss -Htln "sport = :$((candidate + 1))" 2>/dev/null | grep -q .; then
    port=$candidate
    break
  fi
done
[[ -n $port ]] || { echo "real stack: no free port"; exit 1; }

mkdir -p "$work/conf" "$work/run"
cat >"$work/conf/vpcd" <<CONF
FRIENDLYNAME "Virtual PCD"
DEVICENAME   /dev/null:$port
LIBPATH      $driver
CHANNELID    $port
CONF

"$program" --write-image "$work/card.json"

"${namespace[@]}" \
  sh -c 'mkdir -p /run/pcscd 2>/dev/null; mount --bind "$1" /run/pcscd &&
         exec pcscd --foreground --config "$2"' \
  pcscd-private "$work/run" "$work/conf" >"$work/pcscd.log" 2>&1 &
pcscd_pid=$!

export PCSCLITE_CSOCK_NAME="$work/run/pcscd.comm"
for _ in $(seq 1 100); do
  [[ -S $PCSCLITE_CSOCK_NAME ]] && break
  kill -0 "$pcscd_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -S $PCSCLITE_CSOCK_NAME ]]; then
  echo "real stack: pcscd did not start"; cat "$work/pcscd.log"
  exit 1
fi

"$virtual_card" --port "$port" --wait 10 "$work/card.json" 2>"$work/virtual_card.log" &
virtual_card_pid=$!

if ! "$program" "$@"; then
  echo "real stack: the comparison failed"; cat "$work/virtual_card.log" "$work/pcscd.log"
  exit 1
fi
