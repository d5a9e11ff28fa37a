"""Fixtures of the binding's tests: the module from the build tree, one stand-in
agent per session and the process's one harness client pointing at it."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.environ["KOVA_PYTHON_MODULE_DIR"])

from kova_client_config import write_client_config  # noqa: E402
from standin_agent import StandinAgent  # noqa: E402


@pytest.fixture(scope="session")
def kova():
    import KOVATestLib
    return KOVATestLib


@pytest.fixture(scope="session")
def agent():
    # Consume timeouts in seconds, as pull_msg's maxWaitSeconds says.
    started = StandinAgent(os.environ["KOVA_AGENT"], "--timeout-unit", "s")
    yield started
    started.stop()


@pytest.fixture(scope="session")
def client_config(agent, tmp_path_factory):
    directory = tmp_path_factory.mktemp("client")
    return write_client_config(directory / "ice.client", agent.proxy, directory / "logs")


@pytest.fixture(scope="session")
def harness(kova, client_config):
    # The client is process-wide: every harness of this process shares it.
    return kova.KOVATest(client_config, "KOVAClient")


@pytest.fixture
def rid(request):
    """A resource of the test's own, so queues and registrations never mix."""
    return "rid-" + request.node.name.replace("[", "-").rstrip("]")
