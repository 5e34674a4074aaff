#pragma once
// A full visit for the report tests and the benchmark: ten batteries of 16 cells, two cells out
// of the band, a firmware update with two failures, calibrations, parameters, metrics for every
// battery, a recording, faults and notes; and a previous visit of the same batteries.

#include "servicelog/records.hpp"

namespace zanst::test {

servicelog::VisitRecord sampleReportVisit();
servicelog::VisitRecord samplePreviousVisit();

} // namespace zanst::test
