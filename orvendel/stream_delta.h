#pragma once
// What a streamed snapshot adds to the text the host has already been sent.

#include <string_view>

namespace orvendel {

// The part of `text` (the whole answer so far) that follows `previous` (the
// last snapshot), counted in user-perceived characters:
// - `text` extends `previous` on a character boundary: the text after it;
// - `text` begins with characters canonically equal to `previous`: the rest;
// - `previous` ended inside what is now one character (a combining mark was
//   added): the added bytes, so that the deltas still add up to the answer;
// - otherwise (changed or shorter): the whole text.
// The result views into `text`. The common case costs no character counting.
std::string_view streamDelta(std::string_view previous, std::string_view text);

}  // namespace orvendel
