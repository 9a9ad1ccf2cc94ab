#pragma once

// Routes the core's message seam to real message boxes.
void InstallMessageBoxHandler();
