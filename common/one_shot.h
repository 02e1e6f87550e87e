#pragma once
// The bridge over which a platform completion handler, called once on a thread
// of the platform's choosing, hands its result to the waiting job.
//
// Misuse is reported, never a silent hang: if every copy of the handler is
// destroyed without being called, wait() throws OneShotMisuse; a second call of
// the handler throws OneShotMisuse on the calling thread. The label names the
// wait in those messages.

#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace vantrel {

class OneShotMisuse : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

template <typename T>
class OneShot {
 public:
  explicit OneShot(std::string label) : label_(std::move(label)) {
    auto promise = std::make_shared<std::promise<T>>();
    future_ = promise->get_future();
    resume_ = [promise, label = label_](T value) {
      try {
        promise->set_value(std::move(value));
      } catch (const std::future_error&) {
        throw OneShotMisuse(label + ": completion handler called more than once");
      }
    };
  }

  // The completion handler to hand to the platform. May be taken once; the
  // bridge keeps no copy, so a platform that drops it is noticed.
  std::function<void(T)> handler() { return std::exchange(resume_, nullptr); }

  // Blocks until the handler has been called and returns what it delivered.
  T wait() {
    resume_ = nullptr;
    try {
      return future_.get();
    } catch (const std::future_error&) {
      throw OneShotMisuse(label_ + ": completion handler was dropped without being called");
    }
  }

 private:
  std::string label_;
  std::future<T> future_;
  std::function<void(T)> resume_;
};

}  // namespace vantrel
