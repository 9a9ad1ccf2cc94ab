#pragma once
// The start-up benchmark's marks (bench/startup): with QEV_TRACE_FIRST_PAINT set, each mark
// is written once per process to standard error as "NAME <ms since 1970>".

// True when the marks are written (QEV_TRACE_FIRST_PAINT is set).
bool StartupTraceOn();

// Writes the mark the first time it is reached in this process; later calls do nothing.
void TraceStartupMark(const char* name);
