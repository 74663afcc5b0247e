#include "host/HostCallback.h"

#include "host/HostRecorder.h"

void HostCallback::setMode(int code, int on) {
    HostEvent event{HostEventKind::SetMode};
    event.id = code;
    event.result = on;
    QlnRecorder().record(std::move(event));
}

void HostCallback::reportResult(const double* xyz, const double* ijk, double markerBefore,
                                const CQLNresultExtras&, double markerAfter) {
    ++results_;
    HostEvent event{HostEventKind::ReportResult};
    if (xyz)
        event.values.insert(event.values.end(), xyz, xyz + 3);
    if (ijk)
        event.values.insert(event.values.end(), ijk, ijk + 3);
    event.ints = {xyz ? 1 : 0, ijk ? 1 : 0};
    event.values.push_back(markerBefore);
    event.values.push_back(markerAfter);
    QlnRecorder().record(std::move(event));
}
