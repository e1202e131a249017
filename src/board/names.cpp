// Names: decoded with the C library's strict UTF-8 decoder (C.UTF-8), then
// every character checked; scripts and keys by ICU.
#include "board/names.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>

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

constexpr int MAX_MARKS = 3;

bool bidi_control(wchar_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Characters that show as nothing, however the C library classifies them:
// Unicode's Default_Ignorable_Code_Point (the Hangul fillers among them),
// and the format characters of no width that are not in it (interlinear
// annotation, Egyptian hieroglyph format controls).
bool invisible(wchar_t c)
{
    static const wchar_t ranges[][2] = {
        {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C},   {0x115F, 0x1160},
        {0x17B4, 0x17B5},   {0x180B, 0x180F},   {0x200B, 0x200F},   {0x202A, 0x202E},
        {0x2060, 0x206F},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
        {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFFB},   {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
        {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
    };
    for (const auto& r : ranges)
        if (c >= r[0] && c <= r[1])
            return true;
    return false;
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
    bool visible = false;  // a letter or digit that shows
    int marks = -1;        // marks on the character before, or -1 when it takes none
    size_t runs = 0;       // spaces that follow a space: the name is held with one
    for (size_t i = first; i < last; i++) {
        wchar_t c = chars[i];
        if (c == L' ' && chars[i - 1] == L' ') {
            runs++;
            continue;
        }
        if (bidi_control(c)) {
            *error = "The name contains a bidirectional override or mark.";
            return false;
        }
        if (invisible(c)) {
            *error = "The name contains an invisible character.";
            return false;
        }
        if (iswcntrl_l(static_cast<wint_t>(c), loc) || c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            *error = "The name contains a control character.";
            return false;
        }
        // What shows but has no width of its own is a combining mark (an
        // accent, a vowel sign, a tone mark): it sits on the letter before
        // it, a few at most.
        if (wcwidth(c) == 0) {
            if (marks < 0) {
                *error = "The name has a combining mark with no letter under it.";
                return false;
            }
            if (++marks > MAX_MARKS) {
                *error = "The name stacks more than three marks on one letter.";
                return false;
            }
            continue;
        }
        const bool letter = iswalnum_l(static_cast<wint_t>(c), loc);
        if (!(c == L' ' || allowed_punctuation(c) || letter)) {
            *error = "The name may hold only letters, digits, spaces and !#$%&'()*+,-./:;=?@[]^_{|}~.";
            return false;
        }
        marks = letter ? 0 : -1;
        visible = visible || letter;
    }
    if (last == first) {
        *error = "The name is empty.";
        return false;
    }
    if (!visible) {
        *error = "The name has no visible letter or digit.";
        return false;
    }
    if (last - first - runs > static_cast<size_t>(NAME_MAX_CHARS)) {
        *error = "The name is too long: at most 16 characters.";
        return false;
    }
    size_t begin = starts[first];
    size_t end = last < chars.size() ? starts[last] : name->size();
    *name = single_spaced(name->substr(begin, end - begin));
    return true;
}

std::string single_spaced(const std::string& name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); i++)
        if (name[i] != ' ' || i == 0 || name[i - 1] != ' ')
            out += name[i];
    return out;
}

namespace {

// ICU's spoof checker, made once and then only read (which ICU allows from
// any number of threads). MODERATELY_RESTRICTIVE: a name in one script, or
// Latin with one other script except Cyrillic and Greek, whose letters are
// the ones that pass for Latin. (HIGHLY_RESTRICTIVE would also refuse
// "Ravi रवि" and "Ali علي", names people write, for no lookalike.)
const USpoofChecker* spoof_checker()
{
    static const USpoofChecker* checker = [] {
        UErrorCode e = U_ZERO_ERROR;
        USpoofChecker* c = uspoof_open(&e);
        uspoof_setRestrictionLevel(c, USPOOF_MODERATELY_RESTRICTIVE);
        uspoof_setChecks(c, USPOOF_RESTRICTION_LEVEL | USPOOF_MIXED_NUMBERS, &e);
        return U_SUCCESS(e) ? c : nullptr;
    }();
    return checker;
}

} // namespace

bool check_scripts(const std::string& name, std::string* error)
{
    const USpoofChecker* checker = spoof_checker();
    if (!checker) {
        *error = "The server cannot check names (ICU's spoof checker is missing).";
        return false;
    }
    UErrorCode e = U_ZERO_ERROR;
    USpoofCheckResult* result = uspoof_openCheckResult(&e);
    const int32_t found = uspoof_check2UTF8(checker, name.data(), static_cast<int32_t>(name.size()), result, &e);
    uspoof_closeCheckResult(result);
    if (U_FAILURE(e)) {
        *error = "The name is not valid UTF-8.";
        return false;
    }
    if (found & USPOOF_RESTRICTION_LEVEL) {
        *error = "The name mixes letters of scripts that look alike (such as Latin and Cyrillic): "
                 "write it in one script.";
        return false;
    }
    if (found & USPOOF_MIXED_NUMBERS) {
        *error = "The name mixes digits of different number systems.";
        return false;
    }
    return true;
}

std::string name_key(const std::string& name)
{
    UErrorCode e = U_ZERO_ERROR;
    const icu::Normalizer2* fold = icu::Normalizer2::getNFKCCasefoldInstance(e);
    const USpoofChecker* checker = spoof_checker();
    if (U_FAILURE(e) || !checker)
        return name;
    const icu::UnicodeString folded = fold->normalize(icu::UnicodeString::fromUTF8(name), e);
    icu::UnicodeString skeleton;
    uspoof_getSkeletonUnicodeString(checker, 0, folded, skeleton, &e);
    if (U_FAILURE(e))
        return name;
    std::string key;
    skeleton.toUTF8String(key);
    return key;
}

} // namespace kiv::board
