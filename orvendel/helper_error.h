#pragma once
// orvendel's own error: a case that classifies the failure and the one message
// the entry prints. Errors of the file, JSON and model layers are not wrapped
// in it; they travel up as their own types.

#include <exception>
#include <string>
#include <utility>

namespace orvendel {

// The fixed messages; only the unknown-command one gets the argument appended.
inline constexpr const char* kUsageMessage = "Usage: orvendel <status|chat> [request.json]";
inline constexpr const char* kMissingRequestFileMessage = "Missing Apple Intelligence request file";
inline constexpr const char* kUnknownCommandPrefix = "Unknown Apple Intelligence command: ";
inline constexpr const char* kUnsupportedPlatformMessage = "Apple Intelligence requires macOS 26 or newer.";
inline constexpr const char* kUnavailableMessage =
    "Apple Intelligence is not enabled or the on-device model is not ready.";
inline constexpr const char* kEmptyPromptMessage = "Apple Intelligence prompt is empty";
inline constexpr const char* kEncodeFailedMessage = "Failed to encode Apple Intelligence response";

class HelperError : public std::exception {
 public:
  enum class Case { usage, unsupportedPlatform, unavailable, malformed };

  HelperError(Case kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  static HelperError usage(std::string m) { return {Case::usage, std::move(m)}; }
  static HelperError unsupportedPlatform(std::string m) { return {Case::unsupportedPlatform, std::move(m)}; }
  static HelperError unavailable(std::string m) { return {Case::unavailable, std::move(m)}; }
  static HelperError malformed(std::string m) { return {Case::malformed, std::move(m)}; }

  Case kind() const { return kind_; }
  // The description the entry prints: the message, for every case.
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Case kind_;
  std::string message_;
};

}  // namespace orvendel
