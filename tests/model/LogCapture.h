// Points the process logger at a fresh temporary directory for the whole test binary
// and lets a test read the lines written since it last looked.
#pragma once

#include <string>

namespace model_test {

class LogCapture {
public:
    // Text appended to the log file since the previous call (or since start-up).
    static std::string NewText();
    // Number of lines of `text` that contain `needle`.
    static int CountLines(const std::string& text, const std::string& needle);
};

}  // namespace model_test
