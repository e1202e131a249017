// Players' names as the board keeps them.
#pragma once

#include <string>

namespace kiv::board {

constexpr int NAME_MAX_CHARS = 16;

// Checks a name as typed: strict UTF-8; after trimming spaces at both ends,
// 1 to 16 characters, each a letter or digit (of any script), a combining
// mark on one (three at most on one), a space or one of
// !#$%&'()*+,-./:;=?@[]^_{|}~, with at least one letter or digit. Nothing
// invisible (Unicode's default-ignorable characters, the Hangul fillers
// among them). On success `name` is trimmed and true is returned;
// otherwise `error` says why in one sentence.
bool check_name(std::string* name, std::string* error);

} // namespace kiv::board
