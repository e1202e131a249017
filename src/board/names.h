// Players' names as the board keeps them: how they must look, and what
// makes two names one.
#pragma once

#include <string>

namespace kiv::board {

constexpr int NAME_MAX_CHARS = 16;

// Checks a name as typed: strict UTF-8; after trimming spaces at both ends
// and writing each run of spaces as one (a page shows them so), 1 to 16
// characters, each a letter or digit (of any script), a combining mark on
// one (three at most on one), a space or one of
// !#$%&'()*+,-./:;=?@[]^_{|}~, with at least one letter or digit. Nothing
// invisible (Unicode's default-ignorable characters, the Hangul fillers
// among them). On success `name` is the name so trimmed and spaced and
// true is returned; otherwise `error` says why in one sentence.
bool check_name(std::string* name, std::string* error);

// The name with each run of spaces written as one.
std::string single_spaced(const std::string& name);

// A name whose letters come from scripts that look alike (Latin with
// Cyrillic or Greek, say: "Rоbin" with a Cyrillic о), or whose digits come
// from different number systems: false, with the reason in one sentence.
// Latin with one other script (Latin and Han, Latin and Devanagari) is a
// name; so is any one script with the digits, spaces and signs of all.
bool check_scripts(const std::string& name, std::string* error);

// The key under which a name is held, the same for every name that looks
// the same: NFKC with case folding ("ROBIN", "Robin" and "ＲＯＢＩＮ" are
// "robin"), then Unicode's confusable skeleton ("Rоbin" with a Cyrillic о,
// "Ѕсоре" in Cyrillic and "Bam", whose m reads as rn, are "robin", "scope"
// and "barn"). UTF-8 that does not decode is its own key.
std::string name_key(const std::string& name);

} // namespace kiv::board
