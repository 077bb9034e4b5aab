// The return-code log: log/log.txt beside the library (or the executable),
// only when that folder exists. The library never creates it.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace korvane {

class CLogFile {
public:
    CLogFile();
    // "[YYYY-mm-dd HH:MM:SS] <label><hex bytes, each followed by a space>\r\n"
    void Write(const char* label, const std::uint8_t* data, int length);
    bool IsOn() const { return m_bOpen; }
    const std::string& Path() const { return m_strPath; }

    // The line as written, for a given local time text; kept apart for tests.
    static std::string FormatLine(const std::string& timeText, const char* label,
                                  const std::uint8_t* data, int length);

private:
    bool GetLogPath();

    bool m_bOpen = false;
    std::string m_strPath;
    std::ofstream m_file;
};

// One line for one report: open, append, close.
void WriteLogLine(const char* label, const std::uint8_t* data, int length);

}  // namespace korvane
