// What the korvane tool asks of the process and its files, the same on every
// system: which signals end it, a broken output pipe, the descriptor limit,
// unbuffered standard output, who may read a file.
#pragma once

#include <string>
#include <vector>

namespace korvane::platform {

// The signals after which the tool stops every camera and ends: Ctrl-C,
// termination, and a closed terminal (SIGHUP) where there is one.
std::vector<int> StopSignals();
// A reader of the output that went away is output lost, not the end of the
// process (no SIGPIPE).
void IgnoreBrokenPipe();
// Raises the soft limit on open descriptors to the hard one, so that a busy
// server meets the limit as late as the system allows.
void RaiseDescriptorLimit();
// Writes all of text to standard output, past the C library's buffer (its
// lock is never held by a write that blocks). False when the output is gone.
bool WriteStandardOutput(const std::string& text);
// Whether users other than the owner may read the file.
bool ReadableByOthers(const std::string& path);
// Only the owner may read and write the file.
void RestrictToOwner(const std::string& path);

}  // namespace korvane::platform
