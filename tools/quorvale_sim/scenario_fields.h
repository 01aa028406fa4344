// Reading a scenario's JSON with every mistake named by its place: the fields of one object are
// checked against the names it allows, and each value against the type it must have, so a bad
// scenario stops with one message such as "timeline[3].plug: no port A7 ...".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvale_sim {

using Json = nlohmann::json;

// A scenario that cannot be run: where the mistake is and what it is.
struct ScenarioError : std::runtime_error {
    ScenarioError(const std::string& place, const std::string& message)
        : std::runtime_error(place.empty() ? message : place + ": " + message) {}
};

// The JSON type of a value as a scenario's author names it ("a string", "a whole number").
std::string json_type_name(const Json& value);

// One JSON object at a named place, whose field names must all be among the allowed ones.
class Fields {
  public:
    Fields(const Json& value, std::string place, std::initializer_list<const char*> allowed);

    const std::string& place() const {
        return place_;
    }
    // The place of a field ("machine.controllers[0].index").
    std::string at(const std::string& name) const;
    bool has(const std::string& name) const;
    // Present and null.
    bool is_null(const std::string& name) const;
    const Json* get(const std::string& name) const; // null when absent

    std::string text(const std::string& name, const std::string& fallback) const;
    std::optional<std::string> optional_text(const std::string& name) const; // null: absent
    long long number(const std::string& name, long long fallback, long long low,
                     long long high) const;
    bool flag(const std::string& name, bool fallback) const;
    // A 16-bit identifier given as a number or as a hexadecimal text ("0x0E1C").
    uint16_t identifier(const std::string& name, uint16_t fallback) const;
    // An array field (absent: empty) with each element's place.
    std::vector<std::pair<const Json*, std::string>> list(const std::string& name) const;

  private:
    const Json& value_;
    std::string place_;
};

// Texts that Windows keeps in structures of a fixed size, checked where a scenario gives them.
// An instance ID: not empty, no NUL character, at most 199 characters (MAX_DEVICE_ID_LEN).
std::string checked_instance_id(const std::string& text, const std::string& place);
// A driver key, a hub's name: no NUL character; each backslash-separated part of a driver key
// at most 255 characters, as a registry key's name.
std::string checked_key(const std::string& text, const std::string& place);
// A file's full path: not empty, no NUL character, beginning with a drive ("C:\\"), at most 259
// characters (MAX_PATH with its terminator).
std::string checked_path(const std::string& text, const std::string& place);
// A version resource's translation: eight hexadecimal digits ("040904E4").
std::string checked_translation(const std::string& text, const std::string& place);

// Checked reads of a single value at a place.
std::string read_text(const Json& value, const std::string& place);
long long read_number(const Json& value, const std::string& place, long long low, long long high);
bool read_flag(const Json& value, const std::string& place);

} // namespace quorvale_sim
