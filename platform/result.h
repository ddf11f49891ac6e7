// Outcome types shared by the platform layer and the checksum operations:
// a call either succeeds or carries an Error that a person can read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace korvik {

// A failed call: the OS error number (0 where there is none) and a
// description such as "open '/data/a.txt': Permission denied".
class Error {
 public:
  Error(int code, std::string description)
      : code_(code), description_(std::move(description)) {}

  // Returns the error for errno value `code` raised by `action` on `path`.
  static Error FromErrno(int code, std::string_view action,
                         std::string_view path);

  int code() const { return code_; }
  const std::string& description() const { return description_; }

 private:
  int code_;
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
