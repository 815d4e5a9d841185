#!/bin/sh
# Verifies a regression replay in a fresh process: the verifier's line must
# be the one recorded beside it. A rule that changes the outcome fails here;
# bump REPLAY_RULES_VERSION (replay/replay_file.h) and re-record the replays
# with scripts/record-replays.sh.
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
