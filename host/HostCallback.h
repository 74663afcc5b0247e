#pragma once
// A host callback object that records setMode and reportResult calls as host events
// (SetMode, ReportResult) and counts the results, for tests and the host shell.

#include "host/CQLNinterface.h"

class HostCallback : public CQLNinterface {
  public:
    void setMode(int code, int on) override;
    void reportResult(const double* xyz, const double* ijk, double markerBefore,
                      const CQLNresultExtras& extras, double markerAfter) override;

    int results() const { return results_; }

  private:
    int results_ = 0;
};
