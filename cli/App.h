// The `kestrel` program: runs one command over the kernel's exports.
#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

// `args` are the UTF-8 arguments without the program name. Returns the exit
// status: 0 done, 1 some items failed, 2 bad usage or an unusable volume.
int Run(const std::vector<std::string>& args);

}  // namespace kestrel::cli
