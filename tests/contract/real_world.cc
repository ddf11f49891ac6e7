#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "tests/contract/file_system_contract.h"

namespace korvik {

RealWorld::RealWorld()
    : scratch_(std::filesystem::temp_directory_path() /
               ("korvik-contract-" + std::to_string(std::random_device()()))) {
  std::filesystem::create_directories(scratch_);
}

RealWorld::~RealWorld() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_, ignored);
}

std::string RealWorld::In(const std::string& name) {
  return (scratch_ / name).make_preferred().string();
}

void RealWorld::MakeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void RealWorld::MakeFolder(const std::string& path) {
  std::filesystem::create_directories(path);
}

void RealWorld::MakeHardLink(const std::string& path,
                             const std::string& existing) {
  std::filesystem::create_hard_link(existing, path);
}

std::string RealWorld::Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool RealWorld::Rename(const std::string& from, const std::string& to) {
  std::error_code failed;
  std::filesystem::rename(from, to, failed);
  return !failed;
}

std::vector<std::string> RealWorld::Names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_)) {
    if (entry.is_regular_file())
      names.push_back(entry.path().filename().string());
  }
  std::ranges::sort(names);
  return names;
}

}  // namespace korvik
