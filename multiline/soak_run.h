// The multi-line run: N lines, each with its own simulated stations, driver
// instance, station file, gates and faults, driven at once from N host
// threads, with port commands on one line and a port that vanishes under
// another. Every transfer is judged against its line's simulator.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "harness/work_directory.h"
#include "host/client/driver_library.h"
#include "multiline/run_control.h"
#include "multiline/soak_line.h"
#include "multiline/thread_messages.h"

namespace jynmulti {

class MultiLineRun {
public:
    explicit MultiLineRun(RunOptions options);
    ~MultiLineRun();
    MultiLineRun(const MultiLineRun&) = delete;
    MultiLineRun& operator=(const MultiLineRun&) = delete;

    bool Setup(std::string& error);
    void Run();
    // EndJyn once, as a host does at shutdown, then the report; true when
    // the run passed.
    bool Finish();

private:
    bool EnterFolder(std::string& error);
    Role RoleOf(int index) const;
    void PrintLines() const;
    void PrintFaults() const;
    bool PrintChecks(int32_t ended) const;

    RunOptions options_;
    std::unique_ptr<jynharness::WorkDirectory> folder_;
    MessageSorter sorter_;
    jynhost::DriverLibrary library_;
    std::vector<std::unique_ptr<SoakLine>> lines_;
    std::unique_ptr<RunControl> control_;
    double seconds_ = 0;
};

}  // namespace jynmulti
