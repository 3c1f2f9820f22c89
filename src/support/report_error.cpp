#include "support/report_error.h"

namespace {

int32_t lastCode = 0;
uint32_t reportCount = 0;

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
