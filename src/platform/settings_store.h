#pragma once

// The program's settings store.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestra::platform {

// The per-application settings store: named values under a section. A value
// that cannot be read counts as absent.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> Read(const std::string& section, const std::string& key) = 0;
    virtual void Save(const std::string& section, const std::string& key,
                      const std::string& value) = 0;
    virtual void Delete(const std::string& section, const std::string& key) = 0;
    // Every key of a section with its value, in the store's order.
    virtual std::vector<std::pair<std::string, std::string>> ReadSection(
        const std::string& section) = 0;
};

}  // namespace kestra::platform
