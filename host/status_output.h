// The diagnosis as support staff read it, and as fleet scripts read it (the field names of
// the JSON document are documented in the README and do not change).
#pragma once

#include "status.h"

#include <nlohmann/json_fwd.hpp>

#include <string>

namespace status {

std::wstring ReportText(const Report& report);
nlohmann::ordered_json ReportJson(const Report& report);

}  // namespace status
