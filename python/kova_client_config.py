"""Writes the Ice configuration file of a client that talks to one agent directly.

Installed beside the module, for scripts that build their KOVATest from a file."""

import os


def write_client_config(path, agent_proxy, log_dir, item="KOVAClient"):
    """Writes the configuration of the client named `item` (its adapter id) whose
    default agent is `agent_proxy`, logging into `log_dir`; pushed messages come back
    over the client's own connection. Returns the path."""
    lines = [
        "%s.LogDir=%s" % (item, log_dir),
        "%s.LogLevel=INFO" % item,
        "%sServer.Proxy=%s" % (item, agent_proxy),
        # The configuration check wants a locator or a router beside the default
        # agent; a direct proxy never uses it.
        "%sServer.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9" % item,
        # A call that hangs fails after 15 s instead of blocking its caller for good.
        "Ice.Default.InvocationTimeout=15000",
    ]
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")
    return os.fspath(path)
