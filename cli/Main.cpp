// Entry point: the arguments as bytes (UTF-8 on Windows), whatever the
// platform hands over.
#include <string>
#include <vector>

#include "cli/App.h"
#include "cli/Text.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(kestrel::cli::KernelToHost(reinterpret_cast<const char16_t*>(argv[i])));
  return kestrel::cli::Run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kestrel::cli::Run(args);
}
#endif
