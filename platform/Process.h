// What the korvane tool asks of the process and its files, the same on every
// system: which signals end it, a broken output pipe, the descriptor limit,
// unbuffered standard output, who may read a file, the machine's addresses.
#pragma once

#include <string>
#include <vector>

namespace korvane::platform {

// Every signal that would otherwise end the tool with a camera moving: the
// tool stops every camera first, then ends. Ctrl-C, termination, Ctrl-\, a
// closed terminal, the user signals and an alarm where the system has them.
std::vector<int> StopSignals();
// Takes charge of the stop signals, first thing in main (before any thread
// starts), whatever the parent left (blocked, ignored). POSIX: they are
// blocked in every thread and taken by a thread of their own, so none is
// lost to a thread that never acts on it (a sanitizer runs a handler only
// when its thread next enters an instrumented call). Windows: Ctrl-C is
// turned back on for a process started without it.
void HoldStopSignals();
// While watched, a stop signal is kept for TakeStopSignal instead of having
// its effect; unwatched, it has the effect the process inherited (the
// default ends it). Watching again forgets one kept before.
void WatchStopSignals(bool watch);
// The stop signal kept while watched (0: none), cleared by taking it.
int TakeStopSignal();
// A reader of the output that went away is output lost, not the end of the
// process: a closed pipe (SIGPIPE, also when sent) never ends the tool.
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

// The machine's IPv4 addresses, each with its interface's name (loopback too),
// of the interfaces that are up; empty when the system will not say.
struct Ipv4Interface {
    std::string name;
    std::string address;
};
std::vector<Ipv4Interface> Ipv4Interfaces();

}  // namespace korvane::platform
