// The return-code log: log/log.txt beside the library (or the executable),
// only when that folder exists. The library never creates it.
//
// The file may block (a FIFO nobody reads, a hung network disk), so no report
// and no close ever waits on it: lines go through a bounded queue to a writer
// thread of their own. A full queue drops lines and counts them; the log says
// how many once it takes lines again (the debug output says so at once).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace korvane {

// The log file for one batch of lines: opened (when its folder exists) by the
// constructor, closed by the destructor. Either may block.
class CLogFile {
public:
    // The log beside the file at modulePath (the library or the executable).
    explicit CLogFile(const std::string& modulePath);
    void Append(const std::string& line);
    bool IsOn() const { return m_bOpen; }

    // "[YYYY-mm-dd HH:MM:SS] <label><hex bytes, each followed by a space>\r\n"
    static std::string FormatLine(const std::string& timeText, const char* label,
                                  const std::uint8_t* data, int length);

private:
    bool GetLogPath(const std::string& modulePath);

    bool m_bOpen = false;
    std::string m_strPath;
    std::ofstream m_file;
};

// The writer thread runs while lines come; the last user of the library's I/O
// thread ends it with Finish() on a host thread. While it runs the library
// holds a load of itself: a writer stuck in the file leaves the library loaded
// rather than unloaded under it.
class CLogWriter {
public:
    static std::shared_ptr<CLogWriter> Instance();
    static constexpr std::size_t kQueueLimit = 256;

    CLogWriter();
    ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    // Queues a whole line; never waits for the file.
    void Post(std::string line);
    // Lets the writer end once the queued lines are written: waits (bounded,
    // briefly) for that, then joins it and gives back the library's hold. A
    // writer still stuck in the file is left to end by itself.
    void Finish();
    // No writer thread is left to join.
    bool Idle() const;

private:
    void Run();

    // Kept here, not in a static of its own: the writer may still run while
    // exit() destroys the library's statics, but this object is then left
    // alone (ProcessWide).
    const std::string m_strModulePath;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_ended;
    std::deque<std::string> m_queue;
    std::uint64_t m_nDropped = 0;  // since the log last took lines
    bool m_bFinish = false;
    bool m_bEnded = true;
    bool m_bHoldsModule = false;
    std::thread m_thread;
};

// One line for one report, queued for the log.
void WriteLogLine(const char* label, const std::uint8_t* data, int length);

}  // namespace korvane
