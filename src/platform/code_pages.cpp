#include "platform/code_pages.h"

#include <iconv.h>

#include <cerrno>

#include "format/utf8.h"

namespace kestra::platform {
namespace {

// One byte through the converter: its character, U+FFFD when the page leaves
// it undefined, or nothing when it opens a multi-byte sequence.
std::optional<char32_t> ConvertByte(iconv_t cd, unsigned char byte) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    char in[1] = {static_cast<char>(byte)};
    wchar_t out[2] = {};
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
        if (errno == EINVAL) return std::nullopt;
        return format::kReplacement;
    }
    return outLeft == sizeof out - sizeof(wchar_t) ? static_cast<char32_t>(out[0])
                                                   : format::kReplacement;
}

}  // namespace

std::optional<format::CodePage> LoadCodePage(int number, std::string& why) {
    if (number < 1 || number > 99999) {
        why = "code page " + std::to_string(number) + " does not exist";
        return std::nullopt;
    }
    const std::string name = "CP" + std::to_string(number);
    // wchar_t is a UTF-32 code point with the GNU C library.
    iconv_t cd = iconv_open("WCHAR_T", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        why = "code page " + std::to_string(number) + " is not known to the system";
        return std::nullopt;
    }
    format::CodePage::HighHalf high{};
    bool single = true;
    for (int b = 0x80; b <= 0xFF && single; ++b) {
        const std::optional<char32_t> c = ConvertByte(cd, static_cast<unsigned char>(b));
        single = c.has_value();
        if (c) high[b - 0x80] = *c;
    }
    iconv_close(cd);
    if (!single) {
        why = "code page " + std::to_string(number) +
              " uses several bytes per character; only single-byte code pages are supported";
        return std::nullopt;
    }
    return format::CodePage(number, high);
}

std::optional<format::CodePage> ParseCodePage(const std::string& text, std::string& why) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        why = "'" + text + "' is not a code page number (for example 850 or 437)";
        return std::nullopt;
    }
    return LoadCodePage(std::stoi(text), why);
}

format::CodePage DefaultCodePage() {
    std::string why;
    return LoadCodePage(kDefaultCodePage, why).value_or(format::CodePage());
}

}  // namespace kestra::platform
