"""The harness's calls against the stand-in agent in another process."""

import base64

import pytest

NO_RESULT = '[\n\t[\n\t\t-1,\n\t\t""\n\t]\n]'


def code_text(code):
    return "[\n\t[\n\t\t-1,\n\t\t%d\n\t]\n]" % code


def messages_text(*pairs):
    if not pairs:
        return "[]"
    return "[\n" + ",\n".join('\t[\n\t\t%d,\n\t\t"%s"\n\t]' % (etype, base64.b64encode(body.encode()).decode())
                               for etype, body in pairs) + "\n]"


def string_vector(kova, bodies):
    vector = kova.StringVector()
    for body in bodies:
        vector.append(body)
    return vector


@pytest.mark.parametrize("etype, received_etype", [(0, 0), (1, 1), (2, 2), (3, 3), (7, 0)])
def test_produce_with_each_encoding_reaches_the_agent_and_pulls_back(kova, harness, agent, rid, etype,
                                                                     received_etype):
    bodies = ["alpha", "béta"]
    assert harness.product_msg(rid, string_vector(kova, bodies), etype) == code_text(0)
    # The agent stores the records as sent; the pull decodes them by their encoding.
    assert harness.pull_msg(rid, 10) == messages_text(*[(received_etype, b) for b in bodies])
    assert agent.ok("committed " + rid) == "2"


def test_produce_of_an_empty_list_sends_an_empty_batch(kova, harness, agent, rid):
    assert harness.product_msg(rid, kova.StringVector()) == code_text(0)
    assert [c["msgs"] for c in agent.records("calls produce") if c["rid"] == rid] == ["0"]


def test_pull_without_messages_gives_the_agents_status_and_commits_nothing(harness, agent, rid):
    assert harness.pull_msg(rid, 10) == code_text(16)
    [call] = agent.records("calls consume")[-1:]
    assert (call["rid"], call["timeout"]) == (rid, "1")
    assert agent.ok("committed " + rid) == "none"


def test_pull_direct_prints_each_message_and_commits(harness, agent, rid, capfd):
    agent.ok("preload %s 2 plain" % rid)
    assert harness.pull_msg_direct(rid, 10) is None
    assert capfd.readouterr().out == "0->plain\n0->plain\n"
    assert agent.ok("committed " + rid) == "2"


def test_push_receives_and_a_second_call_registers_nothing(kova, agent, client_config, rid, capfd):
    pusher = kova.KOVATest(client_config, "KOVAClient")
    agent.ok("push %s 1 first" % rid)  # held by the agent until the listener registers
    assert pusher.push_msg(rid) == messages_text((0, "first"))
    agent.send_later(1, "push %s 1 second" % rid)
    assert pusher.push_msg(rid) == messages_text((0, "second"))
    assert "push consume has started\n" in capfd.readouterr().out
    assert [r["rid"] for r in agent.records("registrations")].count(rid) == 1
    assert [p["reply"] for p in agent.records("pushes") if p["rid"] == rid] == ["0", "0"]


def test_async_produce_and_pull_report_through_the_mailbox(kova, harness, agent, rid):
    assert harness.product_msg_async(rid, string_vector(kova, ["later"]), 2) == code_text(0)
    assert harness.pull_msg_async(rid, 10) == messages_text((2, "later"))
    assert agent.ok("committed " + rid) == "1"
