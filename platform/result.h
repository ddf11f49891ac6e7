// Outcome types shared by the platform layer and the checksum operations:
// a call either succeeds or carries an Error that a person can read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace korvik {

// What went wrong, in terms every system shares; callers decide by it.
enum class ErrorKind {
  kOther,
  kNotFound,         // no such file or directory
  kAccessDenied,     // the permissions or a lock refuse it
  kReadOnly,         // a read-only file or file system
  kCrossDevice,      // the two names lie on different volumes
  kNameTooLong,      // the name or path is longer than the system allows
  kAlreadyExists,    // a new file's name is taken
  kEndOfFile,        // the file ended before the bytes asked for
  kInvalidArgument,  // a call the program should not have made
};

// A failed call: its kind, the system's own code (errno or a Win32 error,
// 0 where there is none) and a description such as
// "open '/data/a.txt': Permission denied".
class Error {
 public:
  Error(ErrorKind kind, std::string description, int native_code = 0)
      : kind_(kind),
        native_code_(native_code),
        description_(std::move(description)) {}

  // Returns the error for the C library's errno value `code` raised by
  // `action` on `path`.
  static Error FromErrno(int code, std::string_view action,
                         std::string_view path);

  ErrorKind kind() const { return kind_; }
  int native_code() const { return native_code_; }
  const std::string& description() const { return description_; }

 private:
  ErrorKind kind_;
  int native_code_;
  std::string description_;
};

// Success, or the Error that prevented it.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit

  static Status Ok() { return Status(); }

  bool ok() const { return !error_.has_value(); }
  const Error& error() const { return *error_; }

 private:
  std::optional<Error> error_;
};

// A value of type T, or the Error that prevented it.
template <typename T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::move(value)) {}      // NOLINT: implicit
  Expected(Error error) : state_(std::move(error)) {}  // NOLINT: implicit
  Expected(Status status) : state_(status.error()) {}  // NOLINT: implicit

  bool ok() const { return std::holds_alternative<T>(state_); }
  T& value() { return std::get<T>(state_); }
  const T& value() const { return std::get<T>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<Error>(state_); }
  Status status() const { return ok() ? Status::Ok() : Status(error()); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace korvik
