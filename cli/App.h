// The `kestrel` program: runs one command over the kernel's exports.
#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

// `args` are the arguments without the program name, as bytes. Returns the
// exit status (kExit* in CommandLine.h).
int Run(const std::vector<std::string>& args);

}  // namespace kestrel::cli
