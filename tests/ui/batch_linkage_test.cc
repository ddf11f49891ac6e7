// The batch program stays free of Qt; only the window module, which it
// loads on demand, brings Qt in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/path.h"
#include "ui/interactive_mode.h"

namespace korvik {
namespace {

// Returns what ldd reports for `file`: every shared library it loads,
// directly or not.
std::string SharedLibraries(const std::string& file) {
  std::unique_ptr<FILE, decltype(&::pclose)> ldd(
      ::popen(("ldd '" + file + "' 2>&1").c_str(), "r"), &::pclose);
  std::string report;
  char buffer[4096];
  while (ldd && std::fgets(buffer, sizeof buffer, ldd.get()) != nullptr) {
    report += buffer;
  }
  return report;
}

TEST(BatchProgramTest, LoadsNoQt) {
  const std::string module = SharedLibraries(
      PathSyntax::Posix().Join(KORVIK_PROGRAM_DIR, kWindowModuleFileName));
  ASSERT_NE(module.find("libQt6Widgets"), std::string::npos) << module;

  const std::string program = SharedLibraries(KORVIK_BATCH_PROGRAM);
  ASSERT_NE(program.find("libc.so"), std::string::npos) << program;
  EXPECT_EQ(program.find("libQt"), std::string::npos) << program;
}

TEST(WindowModuleTest, OffersTheEntryPointTheProgramCalls) {
  const std::string module =
      PathSyntax::Posix().Join(KORVIK_PROGRAM_DIR, kWindowModuleFileName);
  // Loaded as the program loads it, and likewise never unloaded: Qt does
  // not expect to be.
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << ::dlerror();
  EXPECT_NE(::dlsym(handle, kWindowEntryPoint), nullptr);
}

}  // namespace
}  // namespace korvik
