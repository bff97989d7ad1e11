// What the ports of both platforms say alike about the driver's baud rates.
#include "host/jynmb/platform/port_check.h"

#include <algorithm>

namespace jynmb {

std::string DriverBaudRates() {
    std::string list;
    for (const unsigned rate : DriverBaudList())
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    return list;
}

bool DriverSetsRate(unsigned rate) {
    const std::vector<unsigned> rates = DriverBaudList();
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

}  // namespace jynmb
