#pragma once

#include <string>

// Stands in for the shell "open" verb on a web address: starts the user's
// browser (xdg-open) detached, without waiting, with no descriptors of ours
// inherited. False when the helper cannot be started.
namespace vexor::platform {

bool openUrl(const std::string& url);

}  // namespace vexor::platform
