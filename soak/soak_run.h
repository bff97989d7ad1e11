// The soak: one line, or N lines at once, each with its own simulated
// stations, driver instance, station file, gates and faults, driven from
// a host thread each, with port commands on line 0 and a port that
// vanishes under the last. Every transfer is judged against its line's
// simulator.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "harness/thread_messages.h"
#include "harness/work_directory.h"
#include "host/client/driver_library.h"
#include "soak/soak_line.h"

namespace jynsoak {

class SoakRun {
public:
    explicit SoakRun(SoakOptions options);
    ~SoakRun();
    SoakRun(const SoakRun&) = delete;
    SoakRun& operator=(const SoakRun&) = delete;

    bool Setup(std::string& error);
    void Run();
    // EndJyn once, as a host does at shutdown, then the report; true when
    // the run passed.
    bool Finish();

private:
    Role RoleOf(int index) const;
    void PrintLines() const;
    void PrintFaults() const;
    bool PrintChecks(int32_t ended) const;

    SoakOptions options_;
    std::unique_ptr<jynharness::WorkDirectory> folder_;
    jynharness::MessageSorter sorter_;
    jynhost::DriverLibrary library_;
    std::vector<std::unique_ptr<SoakLine>> lines_;
    std::unique_ptr<RunControl> control_;
    double seconds_ = 0;
};

}  // namespace jynsoak
