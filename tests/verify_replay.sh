#!/bin/sh
# Verifies a regression replay in a fresh process: the verifier's line must
# be the one recorded beside it. A rule that changes the outcome fails here;
# bump REPLAY_RULES_VERSION (replay/replay_file.h) and re-record the replays
# with scripts/record-replays.sh. Copies whose header claims another level
# or another state hash, all else kept, are refused for their outcome.
bin=$1
replay=$2
expected=$(sed -n 2p "${replay%.zrp}.expected")
got=$("$bin" --verify "$replay")
status=$?
if [ $status -ne 0 ] || [ "$got" != "$expected" ]; then
  echo "$replay: expected '$expected'"
  echo "$replay: verifier said '$got' (status $status)"
  echo "If a rule that changes the outcome changed on purpose, bump REPLAY_RULES_VERSION"
  echo "in replay/replay_file.h and run scripts/record-replays.sh."
  exit 1
fi
echo "$replay: $got"

forged=$(mktemp)
trap 'rm -f "$forged"' EXIT
# forge OFFSET NEW-VALUE-EXPRESSION (of v, the byte there): a copy with that byte changed.
forge() {
  v=$(od -An -tu1 -j"$1" -N1 "$replay" | tr -d ' ')
  cp "$replay" "$forged"
  printf "$(printf '\\%03o' $(($2)))" | dd of="$forged" bs=1 seek="$1" conv=notrunc 2>/dev/null
  got=$("$bin" --verify "$forged")
  status=$?
  case "$status $got" in "2 invalid: the game ends otherwise than the header says"*) return ;; esac
  echo "$replay with byte $1 forged: verifier said '$got' (status $status)"
  exit 1
}
forge 13 '49 + (v - 48) % 6'   # the level's number, another from 1 to 6
forge 20 'v ^ 1'               # the state hash's lowest byte
