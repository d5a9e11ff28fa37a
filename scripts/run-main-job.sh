#!/usr/bin/env bash
# The main job, on a fresh Debian 12 machine as root: installs the packages, builds
# the stand-in agent and the Python module, starts the agent on 127.0.0.1, runs
# python/examples/main_job.py through KOVATest under /usr/bin/python3 (produce with
# each encoding, pull and commit, register for push and receive, each JSON result
# printed), checks at the agent that every pulled batch was committed, and stops
# the agent. Exits 0 only when every step gave the expected result; otherwise it keeps
# the client's logs and says where they are.
# KOVA_BUILD_DIR chooses the build directory (default: build).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

bash scripts/install-deps.sh

build=${KOVA_BUILD_DIR:-$repo/build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target kova_agent KOVATestLib

work=$(mktemp -d)
# Consume timeouts in seconds, as the harness's waits are.
coproc AGENT { exec "$build/tests/support/kova_agent" --timeout-unit s; }
agent_pid=$AGENT_PID
agent_in=${AGENT[1]}
agent_out=${AGENT[0]}
finish() {
  local rc=$?
  if kill -0 "$agent_pid" 2>/dev/null; then
    echo quit >&"$agent_in" || true
    wait "$agent_pid" || true
  fi
  # A failed step leaves the client's logs (and its configuration) for a look.
  if [[ $rc != 0 && -d $work/logs ]]; then
    echo "main job: the client's logs are kept in $work/logs (configuration: $work/ice.client)" >&2
  else
    rm -rf "$work"
  fi
}
trap finish EXIT

# One control command; prints its one-line answer.
agent_command() {
  local answer
  echo "$1" >&"$agent_in"
  read -r -t 10 answer <&"$agent_out"
  echo "$answer"
}

read -r -t 30 ready <&"$agent_out" || { echo "main job: the agent did not start" >&2; exit 1; }
IFS=$'\t' read -ra fields <<<"$ready"
proxy=""
for field in "${fields[@]}"; do
  [[ $field == agent=* ]] && proxy=${field#agent=}
done
[[ ${fields[0]} == READY && -n $proxy ]] || { echo "main job: unexpected agent line: $ready" >&2; exit 1; }
echo "main job: agent at $proxy"

# Held by the agent until the job registers its push consumer.
[[ $(agent_command "push mainjob-push 1 hello-push") == OK ]]

status=0
PYTHONPATH="$build/python" /usr/bin/python3 python/examples/main_job.py "$proxy" "$work" || status=1

# main_job.py produces two bodies to each resource and pulls them back in one batch:
# the commit must cover both (the agent answers the highest commit offset it took).
for rid in mainjob-raw mainjob-gzip mainjob-lz4 mainjob-zstd; do
  committed=$(agent_command "committed $rid")
  echo "== agent: committed $rid: ${committed#OK }"
  [[ $committed == "OK 2" ]] || status=1
done

if [[ $status == 0 ]]; then echo "main job: all steps as expected"; else echo "main job: FAILED" >&2; fi
exit "$status"
