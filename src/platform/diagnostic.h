#pragma once

#include <string_view>

// The client's trace on stderr, for a run started from a script, a session
// manager or a terminal: every line is "vexor: " and the text.
namespace vexor::platform {

// Writes one line with a single write(), so that lines of several threads
// never interleave. Never throws; a failed write is lost.
void writeDiagnostic(std::string_view text) noexcept;

}  // namespace vexor::platform
