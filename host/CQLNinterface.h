#pragma once
// The host's callback object for one motion or measurement request. The host creates it,
// hands it to a driver entry point and keeps it alive until the driver reports the result
// (or the request is replaced or stopped). Called on the host's UI thread only.

// Part alignment of the request: the host's point preparation moves machine points into
// this frame before the automatic-hit test.
struct CQLNframe {
    double origin[3] = {0.0, 0.0, 0.0};
};

// The eleven values between the two markers of reportResult; the driver always passes zeros.
struct CQLNresultExtras {
    int values[11] = {};
};

class CQLNinterface {
  public:
    virtual ~CQLNinterface() = default;

    // Switches a request mode on or off (codes 1, 2 and 16 are used by drivers).
    virtual void setMode(int code, int on) = 0;
    // Completes the pending request. xyz and ijk point to three doubles each or are null.
    // The markers are -9876.54 from drivers that follow the host's convention.
    virtual void reportResult(const double* xyz, const double* ijk, double markerBefore,
                              const CQLNresultExtras& extras, double markerAfter) = 0;

    CQLNframe frame;
};
