#pragma once
// The process model both helpers share: the main thread starts one job on a
// worker thread and parks for good; the job itself ends the process. This keeps
// the main thread free the way the platform's dispatch loop would, and makes
// the job the one place that decides the exit status.

#include <exception>
#include <functional>
#include <string>

namespace vantrel {

// Turns an error into the one line the entry prints (without the line feed).
using ErrorDescriber = std::function<std::string(std::exception_ptr)>;

// Runs `dispatch` on a worker thread and never returns. After `dispatch`
// returns, stdout is flushed and the process exits with status 0; if the flush
// fails, that is reported like any error. After an error, stdout is flushed,
// the description and one line feed go to stderr, and the status is 1.
[[noreturn]] void runJobAndPark(std::function<void()> dispatch, ErrorDescriber describe);

// Replaces line breaks by spaces and gives an empty text a fallback, so that a
// library's multi-line or empty message still makes one readable line.
std::string oneLine(std::string text);

// The description of an error that is not a program's own HelperError:
// its what(), made one line.
std::string describeForeignError(std::exception_ptr error);

}  // namespace vantrel
