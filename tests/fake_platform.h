// Stand-ins for the running system's services, and a bundle that wires them
// with an in-memory file system into the services of the operations.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "app/batch_run.h"
#include "checksum/digest_library.h"
#include "checksum/services.h"
#include "platform/system.h"
#include "tests/fake_file_system.h"
#include "tests/faulty_file_system.h"
#include "tests/md5_hex.h"

namespace korvik {

class FakeProcess : public Process {
 public:
  explicit FakeProcess(FakeFileSystem& files) : files_(files) {}
  std::string CommandText() override { return command_text; }
  std::string ProgramDirectory() override { return program_directory; }
  Expected<std::string> CurrentDirectory() override {
    return files_.current_directory();
  }
  Status SetCurrentDirectory(const std::string& path) override;
  std::string TempDirectory() override { return "/tmp"; }
  void WriteError(const std::string& line) override { errors += line + "\n"; }

  std::string command_text;
  std::string program_directory = "/opt/korvik";
  std::string errors;  // what WriteError wrote

 private:
  FakeFileSystem& files_;
};

// Starts at 06/12/2026 14:05:09 and ticks one second every second reading,
// so that a date and a time read together fall in the same second.
class FakeClock : public Clock {
 public:
  std::tm Now() override;
  int readings = 0;
};

// The C locale: "/" between date fields, 24-hour time, ASCII upper case.
class FakeLocale : public Locale {
 public:
  std::string DateSeparator() override { return separator; }
  std::string FormatTime(const std::tm& time) override;
  std::string ToUpper(const std::string& text) override;
  std::string separator = "/";
};

// Drives under /mnt/<letter> are mapped network shares when listed here.
class FakeDriveInfo : public DriveInfo {
 public:
  std::string DriveName(const std::string& path) override;
  Expected<Drive> FindDrive(const std::string& drive_name) override;
  std::string network_drive;  // e.g. "/mnt/z"
  std::string share_name;     // e.g. "//srv/pub"
  bool fail_lookup = false;
};

// MD5 of a file in the in-memory file system, as the digest library file
// computes it on disk.
class FakeDigestLibrary : public DigestLibrary {
 public:
  explicit FakeDigestLibrary(FakeFileSystem& files) : files_(files) {}
  Status MDFile(const std::string& file_name, std::string& digest) override;
  bool OffersHeadDigest() override { return offers_head; }
  Status MDFileHead(const std::string& file_name, std::uint64_t length,
                    std::string& digest) override;
  bool OffersStreamDigest() override { return offers_stream; }
  Expected<std::unique_ptr<DigestStream>> StartStream() override;
  int calls = 0;                        // of either file function
  int streams = 0;                      // digests started piece by piece
  bool fail = false;                    // every call fails
  bool fail_stream_updates = false;     // a stream takes no bytes
  bool offers_head = true;              // false: a library of MDFile alone
  bool offers_stream = true;            // false: no digest piece by piece
  std::function<void()> before_digest;  // runs at the start of each call

 private:
  FakeFileSystem& files_;
};

class FakeInteractiveMode : public InteractiveMode {
 public:
  void Offer() override { ++offers; }
  int offers = 0;
};

// A machine in memory: a program directory holding the digest library, a
// current directory /work, and every service faked. Operations reach the
// files through `faulty`, which passes calls on until told to fail one.
struct FakeWorld {
  FakeWorld();

  // Adds the digest library file to the program directory.
  void InstallDigestLibrary();

  FakeFileSystem files;
  FaultyFileSystem faulty{files};
  FakeProcess process{files};
  FakeDriveInfo drives;
  FakeLocale locale;
  FakeClock clock;
  FakeDigestLibrary digest{files};
  FakeInteractiveMode interactive;
  Services services{faulty, process, drives,
                    locale, digest,  PathSyntax::Posix()};
  BatchServices batch{services, clock, interactive};
};

}  // namespace korvik
