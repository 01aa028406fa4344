// The checked reads of scenario values: each one names the place of a value that is missing, of
// the wrong type or out of range, and every object refuses the field names it does not know.
#include "tools/quorvale_sim/scenario_fields.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace quorvale_sim {

std::string json_type_name(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::boolean:
        return "true or false";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
        return "a whole number";
    case Json::value_t::number_float:
        return "a number with a fraction";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::object:
        return "an object";
    default:
        return "an unusable value";
    }
}

namespace {

[[noreturn]] void wrong_type(const Json& value, const std::string& place, const char* expected) {
    throw ScenarioError(place,
                        std::string("expected ") + expected + ", found " + json_type_name(value));
}

} // namespace

std::string read_text(const Json& value, const std::string& place) {
    if (!value.is_string())
        wrong_type(value, place, "a string");
    return value.get<std::string>();
}

long long read_number(const Json& value, const std::string& place, long long low, long long high) {
    std::string range = "must be from " + std::to_string(low) + " to " + std::to_string(high);
    // A whole number too large for 64 bits (2^64, 1e30) reaches here as a double.
    if (value.is_number_float() && std::isfinite(value.get<double>()) &&
        std::floor(value.get<double>()) == value.get<double>())
        throw ScenarioError(place, range + ", found " + value.dump());
    if (!value.is_number_integer())
        wrong_type(value, place, "a whole number");
    // Unsigned values beyond the signed range count as too large.
    if (value.is_number_unsigned() &&
        value.get<unsigned long long>() > static_cast<unsigned long long>(high))
        throw ScenarioError(place, range + ", found " + value.dump());
    long long number = value.get<long long>();
    if (number < low || number > high)
        throw ScenarioError(place, range + ", found " + std::to_string(number));
    return number;
}

namespace {

const size_t kLongestInstanceId = 199; // MAX_DEVICE_ID_LEN 200 with the terminator
const size_t kLongestKeyName = 255;    // a registry key's name
const size_t kLongestPath = 259;       // MAX_PATH 260 with the terminator

void refuse_nul(const std::string& text, const std::string& place, const char* what) {
    if (text.find('\0') != std::string::npos)
        throw ScenarioError(place, std::string(what) + " holds a NUL character, which ends a "
                                                       "Windows text");
}

} // namespace

std::string checked_instance_id(const std::string& text, const std::string& place) {
    if (text.empty())
        throw ScenarioError(place, "an instance ID cannot be empty");
    refuse_nul(text, place, "the instance ID");
    if (text.size() > kLongestInstanceId)
        throw ScenarioError(place, "an instance ID has at most " +
                                       std::to_string(kLongestInstanceId) + " characters, found " +
                                       std::to_string(text.size()));
    return text;
}

std::string checked_key(const std::string& text, const std::string& place) {
    refuse_nul(text, place, "the text");
    size_t start = 0;
    while (true) {
        size_t end = text.find('\\', start);
        size_t part = (end == std::string::npos ? text.size() : end) - start;
        if (part > kLongestKeyName)
            throw ScenarioError(place, "a registry key's name has at most " +
                                           std::to_string(kLongestKeyName) + " characters, found " +
                                           std::to_string(part));
        if (end == std::string::npos)
            return text;
        start = end + 1;
    }
}

std::string checked_path(const std::string& text, const std::string& place) {
    if (text.empty())
        throw ScenarioError(place, "a file's path cannot be empty");
    refuse_nul(text, place, "the path");
    bool drive = text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) &&
                 text[1] == ':' && (text[2] == '\\' || text[2] == '/');
    if (!drive)
        throw ScenarioError(place, "a file's path begins with its drive letter, a colon and a "
                                   "backslash, found \"" +
                                       text + "\"");
    if (text.size() > kLongestPath)
        throw ScenarioError(place, "a path has at most " + std::to_string(kLongestPath) +
                                       " characters, found " + std::to_string(text.size()));
    return text;
}

std::string checked_translation(const std::string& text, const std::string& place) {
    bool hex = text.size() == 8 && std::all_of(text.begin(), text.end(), [](char ch) {
                   return std::isxdigit(static_cast<unsigned char>(ch)) != 0;
               });
    if (!hex)
        throw ScenarioError(place, "a translation is eight hexadecimal digits, such as "
                                   "\"040904E4\", found \"" +
                                       text + "\"");
    return text;
}

bool read_flag(const Json& value, const std::string& place) {
    if (!value.is_boolean())
        wrong_type(value, place, "true or false");
    return value.get<bool>();
}

Fields::Fields(const Json& value, std::string place, std::initializer_list<const char*> allowed)
    : value_(value), place_(std::move(place)) {
    if (!value.is_object())
        wrong_type(value, place_, "an object");
    for (auto it = value.begin(); it != value.end(); ++it) {
        bool known = std::any_of(allowed.begin(), allowed.end(),
                                 [&](const char* name) { return it.key() == name; });
        if (known)
            continue;
        std::string names;
        for (const char* name : allowed)
            names += (names.empty() ? "" : ", ") + std::string(name);
        throw ScenarioError(at(it.key()), "unknown field; the fields here are: " + names);
    }
}

std::string Fields::at(const std::string& name) const {
    return place_.empty() ? name : place_ + "." + name;
}

bool Fields::has(const std::string& name) const {
    return value_.contains(name);
}

bool Fields::is_null(const std::string& name) const {
    return has(name) && value_.at(name).is_null();
}

const Json* Fields::get(const std::string& name) const {
    return has(name) ? &value_.at(name) : nullptr;
}

std::string Fields::text(const std::string& name, const std::string& fallback) const {
    return has(name) ? read_text(value_.at(name), at(name)) : fallback;
}

std::optional<std::string> Fields::optional_text(const std::string& name) const {
    if (!has(name) || is_null(name))
        return std::nullopt;
    return read_text(value_.at(name), at(name));
}

long long Fields::number(const std::string& name, long long fallback, long long low,
                         long long high) const {
    return has(name) ? read_number(value_.at(name), at(name), low, high) : fallback;
}

bool Fields::flag(const std::string& name, bool fallback) const {
    return has(name) ? read_flag(value_.at(name), at(name)) : fallback;
}

uint16_t Fields::identifier(const std::string& name, uint16_t fallback) const {
    if (!has(name))
        return fallback;
    const Json& value = value_.at(name);
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        char* end = nullptr;
        unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
        bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        if (!hex || *end != '\0' || parsed > 0xFFFF)
            throw ScenarioError(at(name), "expected a hexadecimal identifier such as \"0x0E1C\", "
                                          "found \"" +
                                              text + "\"");
        return static_cast<uint16_t>(parsed);
    }
    if (!value.is_number_integer())
        wrong_type(value, at(name), "a number or a hexadecimal text such as \"0x0E1C\"");
    return static_cast<uint16_t>(read_number(value, at(name), 0, 0xFFFF));
}

std::vector<std::pair<const Json*, std::string>> Fields::list(const std::string& name) const {
    std::vector<std::pair<const Json*, std::string>> items;
    if (!has(name))
        return items;
    const Json& value = value_.at(name);
    if (!value.is_array())
        wrong_type(value, at(name), "an array");
    for (size_t i = 0; i < value.size(); ++i)
        items.push_back({&value[i], at(name) + "[" + std::to_string(i) + "]"});
    return items;
}

} // namespace quorvale_sim
