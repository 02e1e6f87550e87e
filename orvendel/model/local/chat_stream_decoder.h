#pragma once
// Turns the raw bytes of a streamed chat completion (Server-Sent Events) into
// answer snapshots. Bytes may arrive in any pieces: an event split across
// reads, several events in one read, a UTF-8 character cut in two. Lines are
// only interpreted once complete, so a character is never seen half.
//
// Work per piece is proportional to the piece and the events it completes;
// the answer so far is never re-scanned.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace orvendel::local {

// The most bytes one event may hold, its lines and their line ends counted.
// Real events hold a few words; this bound only keeps a broken or hostile
// runtime (a line that never ends) from taking the memory of the machine.
inline constexpr size_t kMaxEventBytes = size_t{16} << 20;

class ChatStreamDecoder {
 public:
  // Takes the next piece of the body. An error event, an event that is not
  // a chat completion chunk, one larger than kMaxEventBytes, or a chunk
  // that ends the answer at the runtime's length limit, ends the stream as a
  // failure.
  void feed(std::string_view bytes);

  // The body ended. Unless "data: [DONE]" was seen, that is a failure: the
  // answer was cut off.
  void finish();

  // Whether the stream is over, by "data: [DONE]" or a failure; later bytes
  // are ignored.
  bool done() const { return done_; }

  // The next snapshot not yet taken: all answer text up to an event that
  // added some, one per such event, in order. Once those that came before a
  // failure are taken, throws its ModelError (once).
  std::optional<std::string> takeSnapshot();

 private:
  void processLine(std::string_view line);
  void dispatchEvent();
  void handleData(std::string_view data);
  void fail(std::string message);

  std::string pending_;  // bytes not yet consumed: at most one partial line
  size_t scanned_ = 0;   // how far pending_ has been searched for a line end
  std::string data_;     // data lines of the current event
  bool hasData_ = false;
  std::optional<std::string> errorField_;  // llama-server's "error:" field
  bool sawField_ = false;                   // any data or error line at all
  std::string raw_;                         // the body while no event was seen, for a JSON error body
  std::string text_;                        // the answer so far
  std::deque<size_t> snapshotEnds_;         // lengths of text_ not yet handed out
  bool done_ = false;
  std::optional<std::string> failure_;
};

}  // namespace orvendel::local
