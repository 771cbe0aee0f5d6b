#pragma once

#include <span>
#include <string_view>

// The files built into the program from server/console/templates/ and
// server/console/static/ (see embed.cmake): name without folder, and text.
namespace vexor::server::console {

struct EmbeddedFile {
    std::string_view name;
    std::string_view text;
};

std::span<const EmbeddedFile> templateFiles();
std::span<const EmbeddedFile> staticFiles();

} // namespace vexor::server::console
