// The in-memory file system of the operations' tests, as a contract world.
#pragma once

#include <string>
#include <vector>

#include "tests/contract/file_system_contract.h"
#include "tests/fake_file_system.h"

namespace korvik {

class FakeWorld : public ContractWorld {
 public:
  static std::string Name() { return "Fake"; }
  FakeWorld() { fake_.AddDirectory("/scratch"); }

  FileSystem& files() override { return fake_; }
  std::string In(const std::string& name) override {
    return "/scratch/" + name;
  }
  void MakeFile(const std::string& path, const std::string& content) override {
    fake_.AddFile(path, content);
  }
  void MakeFolder(const std::string& path) override {
    fake_.AddDirectory(path);
  }
  void MakeHardLink(const std::string& path,
                    const std::string& existing) override {
    fake_.AddHardLink(path, existing);
  }
  std::string Contents(const std::string& path) override {
    return fake_.Contents(path);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return fake_.Rename(from, to).ok();
  }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const std::string& file : fake_.Files()) {
      const std::string name = file.substr(file.rfind('/') + 1);
      if (file == In(name)) names.push_back(name);
    }
    return names;
  }
  bool MakeLink(const std::string& path, const std::string& target) override {
    fake_.AddSymlink(path, target);
    return true;
  }
  bool MakeForeignLink(const std::string& path,
                       const std::string& target) override {
    fake_.AddSymlink(path, target);
    fake_.SetForeignOwner(path);
    return true;
  }
  bool MakeReadOnly(const std::string& path) override {
    fake_.SetMode(path, 0444);
    return true;
  }
  bool OpenToOthers(const std::string& folder) override {
    fake_.SetMode(folder, 0777);
    return true;
  }
  std::optional<std::string> OtherVolume() override {
    fake_.AddDirectory("/other", 2);
    return "/other";
  }
  void SetDistinctAttributes(const std::string& path) override {
    fake_.SetMode(path, 0640);
  }
  std::uint32_t AttributesOf(const std::string& path) override {
    return fake_.Mode(path);
  }

 private:
  FakeFileSystem fake_;
};

}  // namespace korvik
