// The worlds the promises of FileSystem are held in, one for each back end:
// each gives the suite a file system and a scratch folder, and sets the
// stage by means of its own where the interface has no call for it. Each
// has a static Name().
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/faulty_file_system.h"

namespace korvik {

class ContractWorld {
 public:
  virtual ~ContractWorld() = default;

  // The file system under test.
  virtual FileSystem& files() = 0;
  // The fault-injecting wrapper the file system goes through, if any.
  virtual FaultyFileSystem* faulty() { return nullptr; }

  // Returns the path of `name` (names separated by "/") in the scratch
  // folder.
  virtual std::string In(const std::string& name) = 0;
  virtual void MakeFile(const std::string& path,
                        const std::string& content) = 0;
  virtual void MakeFolder(const std::string& path) = 0;
  virtual void MakeHardLink(const std::string& path,
                            const std::string& existing) = 0;
  virtual std::string Contents(const std::string& path) = 0;
  // Renames as another process would; false where the system refuses.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // Returns the names of the regular files in the scratch folder, sorted.
  virtual std::vector<std::string> Names() = 0;
  // Each returns false where the world cannot set that stage.
  virtual bool MakeLink(const std::string& path, const std::string& target) = 0;
  // A link owned by another user than the process's.
  virtual bool MakeForeignLink(const std::string& path,
                               const std::string& target) = 0;
  // Makes the file read-only, so that this user may not write it.
  virtual bool MakeReadOnly(const std::string& path) = 0;
  // Lets every user write in the folder.
  virtual bool OpenToOthers(const std::string& folder) = 0;
  // Returns a folder on another volume than the scratch folder.
  virtual std::optional<std::string> OtherVolume() = 0;
  // Gives the file attributes (permissions) that a new file has not, and
  // reads them back.
  virtual void SetDistinctAttributes(const std::string& path) = 0;
  virtual std::uint32_t AttributesOf(const std::string& path) = 0;
  // Determines whether the system under the back end keeps held folders
  // from being renamed where the back end says it does.
  virtual bool PinsHeldFolders() { return true; }
};

// A world whose calls all go through the fault-injecting wrapper, as
// SQLite's test VFS wraps the real one.
template <typename World>
class Faulty : public World {
 public:
  static std::string Name() { return "Faulty" + World::Name(); }
  FileSystem& files() override { return faulty_; }
  FaultyFileSystem* faulty() override { return &faulty_; }

 private:
  FaultyFileSystem faulty_{World::files()};
};

// A world on the system's own file system, in a fresh folder under the
// temporary folder, removed afterwards.
class RealWorld : public ContractWorld {
 public:
  RealWorld();
  ~RealWorld() override;

  std::string In(const std::string& name) override;
  void MakeFile(const std::string& path, const std::string& content) override;
  void MakeFolder(const std::string& path) override;
  void MakeHardLink(const std::string& path,
                    const std::string& existing) override;
  std::string Contents(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  std::vector<std::string> Names() override;

 protected:
  std::filesystem::path scratch_;
};

}  // namespace korvik
