#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace tamrik {

// A value of an instance document that cannot be read as what its field means: a wrong kind
// of value, a fraction where a whole number is meant, a missing required key. The message
// names the field's path ("nodes[3].service") and the value.
class InputError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The readings of one value at `path`; each throws InputError when the value does not fit.
// Ids are unsigned 64-bit and whole counts signed 32-bit: a float is read only when it is
// whole (1.0 reads as 1), so 1.7 is refused rather than cut to 1.
uint64_t ReadId(const nlohmann::json& value, const std::string& path);
double ReadReal(const nlohmann::json& value, const std::string& path);
double ReadWhole(const nlohmann::json& value, const std::string& path);
bool ReadFlag(const nlohmann::json& value, const std::string& path);
std::string ReadText(const nlohmann::json& value, const std::string& path);
[[noreturn]] void RejectValue(const std::string& path, const nlohmann::json& value,
                              const std::string& wanted);

// The keys of one object of the document, read at their paths.
class Fields {
public:
    // Throws InputError unless `object` is an object.
    Fields(const nlohmann::json& object, std::string place);

    bool Has(const char* key) const;
    std::string PathOf(const char* key) const;
    // The value under `key`; when it is missing the error names a near key that is there.
    const nlohmann::json& Required(const char* key) const;

    uint64_t Id(const char* key) const { return ReadId(Required(key), PathOf(key)); }
    double Real(const char* key) const { return ReadReal(Required(key), PathOf(key)); }
    std::string Text(const char* key) const { return ReadText(Required(key), PathOf(key)); }
    double Real(const char* key, double absent) const;
    double Whole(const char* key, double absent) const;
    bool Flag(const char* key, bool absent) const;
    std::string Text(const char* key, const std::string& absent) const;

private:
    const nlohmann::json& object_;
    std::string place_;
};

}  // namespace tamrik
