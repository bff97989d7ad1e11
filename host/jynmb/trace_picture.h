// A trace as a picture to take in at a glance: the stations' answer times
// against the time of day, one row per station, with the failed and the
// retried transactions marked above their row.
#pragma once

#include <string>
#include <vector>

#include "host/jynmb/trace_file.h"

namespace jynmb::trace {

// An SVG document. Each answer is a circle of class "rt", each failed
// transaction a cross of class "fail", each transaction that succeeded only
// after a retry a triangle of class "retry"; every one of them carries its
// row's station and PC number (data-st, data-pc), and how many of the row's
// answers or transactions it stands for (data-n): those that fall on the
// same spot are drawn once.
std::string Picture(const std::vector<const Transaction*>& transactions);

}  // namespace jynmb::trace
