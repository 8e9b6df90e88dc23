#pragma once

// Short names and labels decoded through a code page.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestra::format {

// A single-byte OEM code page: what each byte of a short name or label shows.
// Bytes 00h-7Fh are ASCII; control bytes, and bytes the page leaves
// undefined, show as U+FFFD. Built by the host from its conversion library.
class CodePage {
  public:
    using HighHalf = std::array<char32_t, 128>;  // bytes 80h..FFh

    // ASCII alone: every byte from 80h on shows as U+FFFD.
    CodePage();
    CodePage(int number, const HighHalf& high);

    int Number() const { return number_; }
    char32_t Char(uint8_t byte) const;
    // The bytes as UTF-8, one character each.
    std::string Decode(const uint8_t* bytes, size_t count) const;

  private:
    int number_ = 0;
    HighHalf high_{};
};

// The 8.3 name of a 32-byte directory entry as UTF-8: "README", "README.TXT".
// A first byte 05h stands for E5h, which would otherwise mark the entry erased.
std::string ShortNameText(const uint8_t* entry, const CodePage& page);

// An 11-byte volume label as UTF-8, trailing blanks and NULs dropped.
std::string LabelText(const uint8_t* label, const CodePage& page);

}  // namespace kestra::format
