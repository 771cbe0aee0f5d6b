#include "platform/diagnostic.h"

#include <string>

#include <unistd.h>

namespace vexor::platform {

void writeDiagnostic(std::string_view text) noexcept
{
    try {
        std::string line = "vexor: ";
        line += text;
        line += '\n';
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    } catch (...) {
        // Out of memory for the line: nothing can be told.
    }
}

}  // namespace vexor::platform
