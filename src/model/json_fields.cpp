#include "model/json_fields.h"

#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/unread_input.h"

namespace tamrik {
namespace {

using nlohmann::json;

// Long values (a whole matrix given where a number is meant) are shown by their start.
constexpr size_t kShownLength = 60;

std::string Shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > kShownLength) text = text.substr(0, kShownLength) + "...";
    return text;
}

bool IsWhole(double number) { return std::floor(number) == number; }

}  // namespace

void RejectValue(const std::string& path, const json& value, const std::string& wanted) {
    throw InputError(path + " must be " + wanted + ", not " + Shown(value));
}

uint64_t ReadId(const json& value, const std::string& path) {
    constexpr const char* kWanted = "a whole number from 0 to 2^64 - 1";
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (!value.is_number_float()) RejectValue(path, value, kWanted);
    const double number = value.get<double>();
    if (!(number >= 0.0 && number < 18446744073709551616.0) || !IsWhole(number)) {
        RejectValue(path, value, kWanted);
    }
    return static_cast<uint64_t>(number);
}

double ReadReal(const json& value, const std::string& path) {
    if (!value.is_number() || !std::isfinite(value.get<double>())) {
        RejectValue(path, value, "a finite number");
    }
    return value.get<double>();
}

double ReadWhole(const json& value, const std::string& path) {
    constexpr double kLow = -2147483648.0;
    constexpr double kHigh = 2147483647.0;
    if (value.is_boolean()) return value.get<bool>() ? 1.0 : 0.0;
    const bool fits = value.is_number() && value.get<double>() >= kLow &&
                      value.get<double>() <= kHigh && IsWhole(value.get<double>());
    if (!fits) RejectValue(path, value, "a whole number within the signed 32-bit range");
    return value.get<double>();
}

bool ReadFlag(const json& value, const std::string& path) {
    if (!value.is_boolean()) RejectValue(path, value, "true or false");
    return value.get<bool>();
}

std::string ReadText(const json& value, const std::string& path) {
    if (!value.is_string()) RejectValue(path, value, "a string");
    return value.get<std::string>();
}

Fields::Fields(const json& object, std::string place) : object_(object), place_(std::move(place)) {
    if (!object_.is_object()) RejectValue(place_, object_, "an object");
}

bool Fields::Has(const char* key) const { return object_.contains(key); }

std::string Fields::PathOf(const char* key) const {
    return place_.empty() ? std::string(key) : place_ + "." + key;
}

const json& Fields::Required(const char* key) const {
    const auto found = object_.find(key);
    if (found != object_.end()) return *found;
    std::vector<std::string> present;
    for (const auto& member : object_.items()) present.push_back(member.key());
    const std::vector<std::string_view> keys(present.begin(), present.end());
    const std::string_view near = closest_key(key, keys);
    throw InputError(PathOf(key) + " is missing" +
                     (near.empty() ? "" : " ('" + std::string(near) + "' is there instead)"));
}

double Fields::Real(const char* key, double absent) const {
    return Has(key) ? Real(key) : absent;
}

double Fields::Whole(const char* key, double absent) const {
    return Has(key) ? ReadWhole(Required(key), PathOf(key)) : absent;
}

bool Fields::Flag(const char* key, bool absent) const {
    return Has(key) ? ReadFlag(Required(key), PathOf(key)) : absent;
}

std::string Fields::Text(const char* key, const std::string& absent) const {
    return Has(key) ? Text(key) : absent;
}

}  // namespace tamrik
