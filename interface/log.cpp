#include "interface/log.h"

#include <atomic>

namespace jyn {

namespace {
std::atomic<ErrFunction> g_sink{nullptr};
}

void SetLogSink(ErrFunction sink) { g_sink.store(sink); }

ErrFunction LogSink() {
    ErrFunction sink = g_sink.load();
    return sink != nullptr ? sink : HostErr();
}

}  // namespace jyn
