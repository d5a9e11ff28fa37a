#include "CmdName.h"

const char* CCmdName::GetCmdName(int cmd) const {
    if (cmd < 0 || cmd >= kSlots || cmdName[cmd] == nullptr) return "VX_UNKNOWN";
    return cmdName[cmd];
}
