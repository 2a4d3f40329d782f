// OCL: the start-up object of the COM-style layer.
//
// On this platform the layer needs no system start-up: the class registry
// and the servers are plain process-wide data. An OCL object still marks the
// span in which a host has started the layer (TessaroInitializer keeps one),
// and starts nest: the layer is up while any OCL object lives.
#pragma once

namespace tq {

class OCL {
public:
    OCL();
    ~OCL();
    OCL(const OCL&) = delete;
    OCL& operator=(const OCL&) = delete;

    // True while at least one OCL object lives.
    static bool Started();
    static int StartCount();
};

}  // namespace tq
