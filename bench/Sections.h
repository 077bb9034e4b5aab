// The benchmark's sections, each adding its figures to the report.
#pragma once

#include "Report.h"

namespace korvane::bench {

void CommandCost(CReport& report);
void ReportLatency(CReport& report);
void ReportThroughput(CReport& report);
void Scale(CReport& report);
void IdleCpu(CReport& report);
void OnvifRoundTrip(CReport& report);
void OnvifSetUp(CReport& report);
void ViscaIpRoundTrip(CReport& report);
void StopUnderPressure(CReport& report);
void OnvifStopUnderPressure(CReport& report);
void NpmClientOpen(CReport& report);

}  // namespace korvane::bench
