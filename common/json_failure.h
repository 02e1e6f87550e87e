#pragma once
// What a request file's decoding failure says about the JSON itself, in the
// words both helpers use. nlohmann's what() is not fit for a person: it starts
// with a tag such as "[json.exception.parse_error.101]" and can quote a whole
// token of the file.

#include <nlohmann/json.hpp>
#include <string>

namespace vantrel {

// "not valid JSON at byte N: <what the parser found>", or for a number too
// large for a double "not valid JSON: a number is out of range". Never quotes
// the file's bytes.
std::string describeJsonFailure(const nlohmann::json::exception& error);

}  // namespace vantrel
