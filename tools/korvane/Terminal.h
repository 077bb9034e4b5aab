// The terminal of the interactive mode: keys as they are pressed, without
// echo, restored on the way out.
#pragma once

#include <chrono>
#include <optional>

namespace korvane::tool {

enum class Key { None, Up, Down, Left, Right, Other };

struct KeyPress {
    Key key = Key::None;
    char ch = 0;  // for Key::Other
};

class CRawTerminal {
public:
    // True when standard input and output are a terminal.
    static bool IsTerminal();

    CRawTerminal();   // raw mode on
    ~CRawTerminal();  // as it was
    CRawTerminal(const CRawTerminal&) = delete;
    CRawTerminal& operator=(const CRawTerminal&) = delete;

    // The next key, or nothing when none comes within the time; Key::None
    // with ch 0 when input has ended.
    std::optional<KeyPress> ReadKey(std::chrono::milliseconds timeout);

private:
    bool m_bRaw = false;
    struct Saved;
    Saved* m_pSaved = nullptr;
};

}  // namespace korvane::tool
