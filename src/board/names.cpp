// Names: decoded with the C library's strict UTF-8 decoder (C.UTF-8), then
// every character checked.
#include "board/names.h"

#include <clocale>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <vector>

namespace kiv::board {

namespace {

// The C.UTF-8 locale, for this thread's decoding and classification only.
locale_t utf8_locale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

bool bidi_control(wchar_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool allowed_punctuation(wchar_t c)
{
    return c < 0x80 && c != 0 && std::strchr("!#$%&'()*+,-./:;=?@[]^_{|}~", static_cast<char>(c)) != nullptr;
}

// Swaps the calling thread into a locale and back.
class UseLocale {
public:
    explicit UseLocale(locale_t loc) : old_(uselocale(loc)) {}
    ~UseLocale() { uselocale(old_); }
    UseLocale(const UseLocale&) = delete;
    UseLocale& operator=(const UseLocale&) = delete;

private:
    locale_t old_;
};

} // namespace

bool check_name(std::string* name, std::string* error)
{
    // Far more bytes than 16 characters can take: refused before decoding.
    if (name->size() > 256) {
        *error = "The name is too long: at most 16 characters.";
        return false;
    }
    locale_t loc = utf8_locale();
    if (loc == static_cast<locale_t>(0)) {
        *error = "The server cannot check names (no C.UTF-8 locale).";
        return false;
    }
    UseLocale use(loc);
    // Decode every character, keeping where each begins.
    std::vector<wchar_t> chars;
    std::vector<size_t> starts;
    std::mbstate_t state{};
    const char* p = name->data();
    size_t left = name->size();
    while (left > 0) {
        wchar_t c = 0;
        size_t n = std::mbrtowc(&c, p, left, &state);
        // glibc decodes surrogates; they are no characters.
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0 || (c >= 0xD800 && c <= 0xDFFF) ||
            c > 0x10FFFF) {
            *error = n == 0 ? "The name contains a control character." : "The name is not valid UTF-8.";
            return false;
        }
        starts.push_back(static_cast<size_t>(p - name->data()));
        chars.push_back(c);
        p += n;
        left -= n;
    }
    size_t first = 0, last = chars.size();
    while (first < last && chars[first] == L' ')
        first++;
    while (last > first && chars[last - 1] == L' ')
        last--;
    for (size_t i = first; i < last; i++) {
        wchar_t c = chars[i];
        if (bidi_control(c)) {
            *error = "The name contains a bidirectional override or mark.";
            return false;
        }
        if (iswcntrl_l(static_cast<wint_t>(c), loc) || c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            *error = "The name contains a control character.";
            return false;
        }
        if (!(c == L' ' || allowed_punctuation(c) || iswalnum_l(static_cast<wint_t>(c), loc))) {
            *error = "The name may hold only letters, digits, spaces and !#$%&'()*+,-./:;=?@[]^_{|}~.";
            return false;
        }
    }
    if (last == first) {
        *error = "The name is empty.";
        return false;
    }
    if (last - first > static_cast<size_t>(NAME_MAX_CHARS)) {
        *error = "The name is too long: at most 16 characters.";
        return false;
    }
    size_t begin = starts[first];
    size_t end = last < chars.size() ? starts[last] : name->size();
    *name = name->substr(begin, end - begin);
    return true;
}

} // namespace kiv::board
