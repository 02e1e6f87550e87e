// A streamed answer's bytes, decoded whole and in pieces of a size the input
// picks: both must give the same snapshots and the same failure, and each
// snapshot must extend the one before.
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "orvendel/model/language_model.h"
#include "orvendel/model/local/chat_stream_decoder.h"

namespace {

struct Outcome {
  std::vector<std::string> snapshots;
  std::optional<std::string> failure;
  bool operator==(const Outcome&) const = default;
};

void drain(orvendel::local::ChatStreamDecoder& decoder, Outcome& outcome) {
  try {
    while (auto snapshot = decoder.takeSnapshot()) {
      if (!outcome.snapshots.empty())
        fuzz::expect(snapshot->starts_with(outcome.snapshots.back()), "a snapshot extends the one before");
      outcome.snapshots.push_back(std::move(*snapshot));
    }
  } catch (const orvendel::ModelError& e) {
    fuzz::expect(!outcome.failure, "one failure");
    fuzz::expectOneLine(e.what());
    outcome.failure = e.what();
  }
}

Outcome decode(std::string_view bytes, size_t piece) {
  orvendel::local::ChatStreamDecoder decoder;
  Outcome outcome;
  for (size_t at = 0; at < bytes.size() && !decoder.done(); at += piece) {
    decoder.feed(bytes.substr(at, piece));
    drain(decoder, outcome);
  }
  decoder.finish();
  drain(decoder, outcome);
  fuzz::expect(decoder.done(), "finished after finish()");
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = fuzz::text(data, size);
  size_t piece = size == 0 ? 1 : 1 + data[size - 1] % 13;
  fuzz::expect(decode(bytes, bytes.size() + 1) == decode(bytes, piece), "pieces decode as the whole");
  return 0;
}
