// libFuzzer target: command-line decoding and whole batch runs.
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string problem = korvik::fuzz::CheckCommand(std::span(data, size));
  if (!problem.empty()) {
    std::fprintf(stderr, "command: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
