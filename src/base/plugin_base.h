#pragma once

#include <string>

namespace tamrik {

// Root of every exchangeable search policy.
class PluginBase {
public:
    virtual ~PluginBase() = default;
    virtual std::string Name() const = 0;
};

}  // namespace tamrik
