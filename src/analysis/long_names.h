#pragma once

// Long names put together from the entries in front of an 8.3 entry.

#include <cstdint>
#include <string>

namespace kestra::analysis {

// Gathers the long-name entries in front of an 8.3 entry and gives the long name
// when the set is whole and its checksum fits the 8.3 name.
class LongNameCollector {
  public:
    void Add(const uint8_t* slot);
    // The long name (UTF-8) for this 8.3 entry, or empty; starts a new set.
    std::string Take(const uint8_t* shortEntry);
    void Reset() { expected_ = 0; }

  private:
    char16_t chars_[20 * 13] = {};
    int expected_ = 0;  // slots still to come; -1 when the set is broken
    int total_ = 0;
    uint8_t checksum_ = 0;
};

uint8_t ShortNameChecksum(const uint8_t* shortEntry);

// What one 32-byte folder slot holds, with the collector kept in step: a
// long-name slot joins the set, an erased slot or a volume label breaks it.
// Only Entry (a file or folder) is left for the caller, who takes its long
// name from the collector.
enum class Slot { End, Erased, LongName, Label, Entry };
Slot FeedSlot(LongNameCollector& longNames, const uint8_t* slot);

}  // namespace kestra::analysis
