// The client's local-address discovery is the toolkit's; one implementation serves both.
#include "PublicTools.h"

#include "Tools.h"

namespace TQPublicTool {

int GetLocalIP(std::string& strLocalIP, bool el6) { return Tools::GetLocalIP(strLocalIP, el6); }

}  // namespace TQPublicTool
