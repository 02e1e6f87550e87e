#pragma once
// Reading what the runtime answers outside a stream: the completion, and the
// error bodies that llama-server and Ollama send. Every failure becomes a
// ModelError of one line that carries the server's own message where it sent
// one.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "orvendel/model/language_model.h"

namespace orvendel::local {

// The server's message in an error payload: {"error": {"message": ...}},
// {"error": "..."}, or an error object itself ({"message": ...}). Empty when
// there is none. Made one line.
std::string serverMessageOf(const nlohmann::json& payload);

// `text` as one line of valid UTF-8 of bounded length.
std::string oneLineMessage(std::string_view text);

// What an answer the runtime stopped at its length limit fails with.
inline constexpr const char* kCutOffMessage =
    "Local model's answer was cut off: the runtime stopped it at its length limit (context or token limit)";

// Whether a choice of a completion or of a stream chunk ends the answer at
// the runtime's length limit (finish_reason "length": the context is full or
// the token limit was reached). Such an answer is incomplete, not done.
bool choiceWasCutOff(const nlohmann::json& choice);

// The answer text of a non-streamed completion body:
// choices[0].message.content. Throws ModelError when the body is an error or
// not of that shape, or when the runtime cut the answer off.
std::string answerFromCompletion(std::string_view body);

// The error for an HTTP status other than 200, with the message of its body.
ModelError httpStatusError(long status, std::string_view body);

}  // namespace orvendel::local
