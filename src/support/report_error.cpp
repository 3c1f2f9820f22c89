#include "support/report_error.h"

namespace {

// Both start at zero, as every static does; ClearReportedErrors puts them back.
int32_t lastCode;
uint32_t reportCount;

}  // namespace

int32_t ReportError(int32_t code, int32_t detail) {
    (void)detail;
    lastCode = code;
    ++reportCount;
    return 4001;
}

int32_t LastReportedError() {
    return lastCode;
}

uint32_t ReportedErrorCount() {
    return reportCount;
}

void ClearReportedErrors() {
    lastCode = 0;
    reportCount = 0;
}
