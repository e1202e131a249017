// A request's JSON, read with bounds as it is parsed (nlohmann-json's SAX
// interface): nothing of a hostile body is built beyond what the bounds let
// through, so a body costs about its own size, however it is nested.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace kiv::board {

// A string field the request must have (or may, when optional), and its
// largest size in bytes; or
// a boolean field it may have (read as "true" or "false"); or a whole number
// it may have, from 0 to `max_bytes` (read as its decimal digits).
struct FieldBound {
    const char* name;
    size_t max_bytes;
    bool boolean = false;
    bool number = false;
    bool optional = false;  // a string field the request may leave out
};

// What any JSON body may hold beside its fields: objects and arrays at most
// MAX_JSON_DEPTH deep, at most MAX_JSON_ELEMENTS keys and values in all, and
// strings of other fields of at most MAX_JSON_OTHER_STRING bytes.
constexpr int MAX_JSON_DEPTH = 4;
constexpr int MAX_JSON_ELEMENTS = 64;
constexpr size_t MAX_JSON_OTHER_STRING = 1024;

// Reads `body` as one JSON object that holds each of `fields` once, as a
// string within its bound (a boolean or number field at most once, as its kind),
// into `out` (by name). Other fields are allowed
// within the bounds above and ignored. False, with the reason in one
// sentence, for anything else.
bool read_fields(const std::string& body, const std::vector<FieldBound>& fields,
                 std::map<std::string, std::string>* out, std::string* error);

// Standard base64 (with its padding) into bytes; false for anything else,
// or for nothing at all.
bool from_base64(const std::string& text, std::string* bytes);
std::string to_base64(const std::string& bytes);

} // namespace kiv::board
