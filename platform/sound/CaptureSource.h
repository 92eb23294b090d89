// The sound server's source this program records from: chosen on the mixer's recording destination and
// kept for the life of the process, without touching the desktop's default source.
//
// Threads: any; the choice is guarded by its own mutex.
#pragma once

#include <string>

// The server's name of the chosen source; empty: the server's default source.
std::string SelectedCaptureSource();
void SelectCaptureSource(const std::string& sourceName);
