#pragma once
// Where the windows' painting goes: with QEV_TRACE_PAINTS set, every 10 s one line on
// standard error per widget class that painted, with its paint events and their area.
void InstallPaintTrace();
