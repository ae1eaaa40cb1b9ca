#pragma once

#include <cstdint>

namespace tamrik {

// A vertex of the instance's graph, as every layer from the plug-ins to the route moves sees it.
using Vertex = std::int64_t;

}  // namespace tamrik
