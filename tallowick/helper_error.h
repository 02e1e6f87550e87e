#pragma once
// tallowick's own error: a case that classifies the failure and the one message
// the entry prints. Errors of the file, JSON and store layers are not wrapped
// in it; they travel up as their own types.

#include <exception>
#include <string>
#include <utility>

namespace tallowick {

class HelperError : public std::exception {
 public:
  enum class Case { usage, accessDenied, invalidInput, notFound, runtime };

  HelperError(Case kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  static HelperError usage(std::string m) { return {Case::usage, std::move(m)}; }
  static HelperError accessDenied(std::string m) { return {Case::accessDenied, std::move(m)}; }
  static HelperError invalidInput(std::string m) { return {Case::invalidInput, std::move(m)}; }
  static HelperError notFound(std::string m) { return {Case::notFound, std::move(m)}; }
  static HelperError runtime(std::string m) { return {Case::runtime, std::move(m)}; }

  Case kind() const { return kind_; }
  // The description the entry prints: the message, for every case.
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Case kind_;
  std::string message_;
};

}  // namespace tallowick
