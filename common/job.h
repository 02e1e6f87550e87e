#pragma once
// The process model both helpers share: the main thread starts one job on a
// worker thread and parks for good; the job itself ends the process. This keeps
// the main thread free the way the platform's dispatch loop would, and makes
// the job the one place that decides the exit status.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel {

// Standard output could not be written: the host closed its end of the pipe,
// or the disk behind a redirection is full. what() is one line.
class OutputWriteError : public std::runtime_error {
 public:
  // "Failed to write to standard output: <strerror(errorNumber)>"; without a
  // reason when `errorNumber` is 0.
  explicit OutputWriteError(int errorNumber);
};

// The command line as text, element 0 the program path. Arguments become text
// the way the target platform's strings do: ill-formed UTF-8 is replaced by
// U+FFFD, so everything downstream sees valid UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Runs `dispatch` on a worker thread and never returns. SIGPIPE is ignored
// for the whole process first, so a host that went away makes a write fail
// instead of killing the process without a word, and what libraries print on
// stdio's stderr is dropped, so stderr carries the error line alone. After `dispatch` returns,
// stdout is flushed and the process exits with status 0; if the flush fails,
// that is reported like any error. After an error, stdout is flushed, the
// error's line (describeError) and one line feed go to stderr, and the status
// is 1.
[[noreturn]] void runJobAndPark(std::function<void()> dispatch);

}  // namespace vantrel
