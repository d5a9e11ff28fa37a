"""What the module's flat functions accept and answer, as SWIG generates them."""

import pytest

from test_harness_calls import NO_RESULT, code_text, messages_text


def overload_text(function, *prototypes):
    return ("Wrong number or type of arguments for overloaded function '%s'.\n"
            "  Possible C/C++ prototypes are:\n" % function) + "".join("    %s\n" % p for p in prototypes)


STRING_VECTOR = "std::vector< std::string,std::allocator< std::string > >"


@pytest.fixture(scope="module")
def flat(kova):
    import _KOVATestLib
    return _KOVATestLib


def test_defaults_of_the_flat_functions(kova, flat, harness, agent, rid):
    # A Python list stands in for a StringVector (the typemap in KOVATestLib.i).
    assert flat.KOVATest_product_msg(harness, rid, ["x"]) == code_text(0)
    assert flat.KOVATest_pull_msg(harness, rid, 10) == messages_text((0, "x"))
    [call] = agent.records("calls consume")[-1:]
    assert call["timeout"] == "1"


@pytest.mark.parametrize("call, function, prototypes", [
    (lambda k, f, t: f.new_KOVATest("only-one"), "new_KOVATest",
     ["KOVATest::KOVATest()", "KOVATest::KOVATest(std::string const,std::string const)"]),
    # A bare str would otherwise go as one message per character.
    (lambda k, f, t: f.KOVATest_product_msg(t, "r", "hello"), "KOVATest_product_msg",
     ["KOVATest::product_msg(std::string,%s,int)" % STRING_VECTOR,
      "KOVATest::product_msg(std::string,%s)" % STRING_VECTOR]),
])
def test_overload_errors(kova, flat, harness, call, function, prototypes):
    with pytest.raises(TypeError) as error:
        call(kova, flat, harness)
    assert str(error.value) == overload_text(function, *prototypes)


@pytest.mark.parametrize("call, error_type, text", [
    (lambda k, t: t.pull_msg_async("r", 2 ** 31), OverflowError,
     "in method 'KOVATest_pull_msg_async', argument 3 of type 'int'"),
    (lambda k, t: t.push_msg(5), TypeError, "in method 'KOVATest_push_msg', argument 2 of type 'std::string'"),
    (lambda k, t: k.ProductCb(1, 5), TypeError, "in method 'ProductCb', argument 2 of type 'void *'"),
    (lambda k, t: k.ConsumerCb(None, "r", "s", None), ValueError,
     "invalid null reference in method 'ConsumerCb', argument 4 of type 'KOVA::IMessage &&'"),
])
def test_argument_errors(kova, harness, call, error_type, text):
    with pytest.raises(error_type) as error:
        call(kova, harness)
    assert str(error.value) == text


def test_results_and_the_mailbox(kova, harness):
    assert kova.SHARED_PTR_DISOWN == 0
    assert (harness.genMsg(), harness.genMsg(-5)) == (NO_RESULT, code_text(-5))
    assert harness.async_clean() is None
    harness.async_set(7)
    assert harness.async_get() == harness.async_get() == code_text(7)
    # A pointer that is neither a live harness nor its cookie is ignored; the harness itself is not.
    kova.ProductCb(8, kova.StringVector())
    assert harness.async_get() == code_text(7)
    kova.ProductCb(9, harness)
    assert harness.async_get() == code_text(9)
