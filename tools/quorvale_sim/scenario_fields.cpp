// The checked reads of scenario values: each one names the place of a value that is missing, of
// the wrong type or out of range, and every object refuses the field names it does not know.
#include "tools/quorvale_sim/scenario_fields.h"

#include <algorithm>
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
    if (!value.is_number_integer())
        wrong_type(value, place, "a whole number");
    // Unsigned values beyond the signed range count as too large.
    if (value.is_number_unsigned() &&
        value.get<unsigned long long>() > static_cast<unsigned long long>(high))
        throw ScenarioError(place, "must be at most " + std::to_string(high));
    long long number = value.get<long long>();
    if (number < low || number > high)
        throw ScenarioError(place, "must be from " + std::to_string(low) + " to " +
                                       std::to_string(high) + ", found " + std::to_string(number));
    return number;
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
