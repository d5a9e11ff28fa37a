"""Harness behaviour that only shows in a process of its own: a client that could not
be built, a harness deleted (then the interpreter ended) while its push consumer
stays registered, and a late outcome of a deleted harness."""

import os
import subprocess
import sys
import textwrap
import time

from test_harness_calls import NO_RESULT, messages_text


def python_child(script, *args, cwd=None, **environment):
    env = dict(os.environ, PYTHONPATH=os.environ["KOVA_PYTHON_MODULE_DIR"], **environment)
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(script), *args], cwd=cwd, env=env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)


def test_without_a_client_every_call_answers_at_once(tmp_path):
    # No ./ice.client in the working directory: the client cannot be built.
    child = python_child("""
        import KOVATestLib as k
        t = k.KOVATest()
        v = k.StringVector(); v.append("x")
        print(sorted({t.push_msg("r"), t.pull_msg("r", 1), t.pull_msg_async("r", 1), t.product_msg("r", v),
                      t.product_msg_async("r", v)}) == [k.KOVATest().genMsg()], flush=True)
        t.pull_msg_direct("r", 1)
        """, cwd=tmp_path, HOME=str(tmp_path))
    out, _ = child.communicate(timeout=120)
    assert (child.returncode, out) == (0, "True\nconsume err:100\n")


def test_deleted_harness_ignores_pushes_and_the_interpreter_exits(agent, client_config, rid):
    agent.ok("push %s 1 first" % rid)
    child = python_child("""
        import sys, KOVATestLib as k
        t = k.KOVATest(sys.argv[1], "KOVAClient")
        print(repr(t.push_msg(sys.argv[2])), flush=True)
        del t
        print("deleted", flush=True)
        sys.stdin.readline()
        """, client_config, rid)
    try:
        assert child.stdout.readline() == repr(messages_text((0, "first"))) + "\n"
        assert child.stdout.readline() == "deleted\n"
        agent.ok("push %s 1 second" % rid)
        deadline = time.monotonic() + 30
        while len(replies := [p["reply"] for p in agent.records("pushes") if p["rid"] == rid]) < 2:
            assert time.monotonic() < deadline, "the second push was never answered"
            time.sleep(0.1)
        assert replies == ["0", "0"]
        # The interpreter ends with the push consumer still registered.
        child.stdin.write("\n")
        child.stdin.flush()
        assert child.wait(timeout=60) == 0
    finally:
        child.kill()
        child.wait()


def test_late_outcome_of_a_deleted_harness_misses_the_next_one_at_its_address(agent, client_config, rid):
    agent.ok("hold produce")
    child = python_child("""
        import sys, KOVATestLib as k
        t = k.KOVATest(sys.argv[1], "KOVAClient")
        v = k.StringVector(); v.append("late")
        print(t.product_msg_async(sys.argv[2], v) == t.genMsg(), flush=True)
        address = int(t.this)
        del t
        t = k.KOVATest(sys.argv[1], "KOVAClient")
        print(int(t.this) == address, flush=True)
        sys.stdin.readline()
        print(repr(t.async_get()), flush=True)
        """, client_config, rid,
        # Under the address sanitizer too, freed memory is handed out again at once.
        ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0")
    try:
        # The produce is still held, and the new harness reuses the deleted one's memory.
        assert [child.stdout.readline(), child.stdout.readline()] == ["True\n", "True\n"]
        agent.ok("release")
        child.stdin.write("\n")
        child.stdin.flush()
        assert child.stdout.readline() == repr(NO_RESULT) + "\n"
        assert [c["outcome"] for c in agent.records("calls produce") if c["rid"] == rid] == ["answered"]
    finally:
        child.kill()
        child.wait()
