// The error hook of the file and memory wrappers. It shows and logs nothing; it
// keeps the last code so that tests and diagnostics can see what was raised.
#pragma once

#include <cstdint>

enum ReportedError : int32_t {
    kErrorSeek = 2,            // a seek failed
    kErrorWrite = 3,           // a write failed or was short
    kErrorCopy = 4,            // a copy between files stopped before the end
    kErrorBadArgument = 6,     // a null file, a null buffer or a count of 0
    kErrorRead = 7,            // a read failed or was short
    kErrorCutBytes = 10,       // no memory for the smaller block of a cut
    kErrorHandleRecord = 12,   // no memory for a handle registry record
    kErrorRemoveUnknown = 13,  // a handle to be unregistered is not registered
    kErrorLookupUnknown = 14,  // a handle looked up is not registered
};

// Always returns 4001.
int32_t ReportError(int32_t code, int32_t detail);

// The code of the most recent report, and how many reports were made; 0 after
// ClearReportedErrors.
int32_t LastReportedError();
uint32_t ReportedErrorCount();
void ClearReportedErrors();
