#!/usr/bin/python3
"""Main job: drives the client through KOVATest against one agent and checks every
outcome. Produces with each encoding, pulls back (which commits), then registers for
push and receives the message the agent holds for PUSH_RID.

Usage: main_job.py AGENT_PROXY WORK_DIR
Needs the module directory (lib_KOVATestLib.so, _KOVATestLib.so, KOVATestLib.py,
kova_client_config.py) on PYTHONPATH. Exits 0 only when every step gave the expected
result."""

import base64
import json
import os
import sys

import KOVATestLib
from kova_client_config import write_client_config

PUSH_RID = "mainjob-push"
PUSH_BODY = "hello-push"
BODIES = ["hello", "wörld"]
ENCODINGS = [(0, "raw"), (1, "gzip"), (2, "lz4"), (3, "zstd")]


def pairs(etype, bodies):
    return [[etype, base64.b64encode(body.encode()).decode()] for body in bodies]


def check(step, result, expected):
    print("== %s" % step)
    print(result)
    good = json.loads(result) == expected
    print("-> %s" % ("ok" if good else "UNEXPECTED, wanted %s" % json.dumps(expected)))
    return good


def main(agent_proxy, work_dir):
    config = write_client_config(os.path.join(work_dir, "ice.client"), agent_proxy, os.path.join(work_dir, "logs"))
    harness = KOVATestLib.KOVATest(config, "KOVAClient")
    results = []
    for etype, name in ENCODINGS:
        rid = "mainjob-" + name
        messages = KOVATestLib.StringVector()
        for body in BODIES:
            messages.append(body)
        results.append(check("produce %s to %s" % (name, rid), harness.product_msg(rid, messages, etype), [[-1, 0]]))
        results.append(check("pull and commit %s" % rid, harness.pull_msg(rid, 10), pairs(etype, BODIES)))
    results.append(check("register for push on %s and receive" % PUSH_RID, harness.push_msg(PUSH_RID),
                         pairs(0, [PUSH_BODY])))
    print("main job: %d of %d steps as expected" % (sum(results), len(results)))
    return 0 if all(results) else 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
