#include "Terminal.h"

#include <windows.h>

namespace korvane::tool {

struct CRawTerminal::Saved {
    DWORD inputMode;
    DWORD outputMode;
};

bool CRawTerminal::IsTerminal()
{
    DWORD mode;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) &&
           ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

CRawTerminal::CRawTerminal()
{
    static Saved saved;  // one console per process
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!::GetConsoleMode(input, &saved.inputMode) || !::GetConsoleMode(output, &saved.outputMode)) return;
    // Keys one at a time, no echo, Ctrl+C as a key; the output understands
    // the same escape sequences as a POSIX terminal.
    m_bRaw = ::SetConsoleMode(input, saved.inputMode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT));
    ::SetConsoleMode(output, saved.outputMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    m_pSaved = &saved;
}

CRawTerminal::~CRawTerminal()
{
    if (!m_bRaw || !m_pSaved) return;
    ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), m_pSaved->inputMode);
    ::SetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), m_pSaved->outputMode);
}

std::optional<KeyPress> CRawTerminal::ReadKey(std::chrono::milliseconds timeout)
{
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (::WaitForSingleObject(input, static_cast<DWORD>(left.count() > 0 ? left.count() : 0)) != WAIT_OBJECT_0)
            return std::nullopt;
        INPUT_RECORD record;
        DWORD n = 0;
        if (!::ReadConsoleInputW(input, &record, 1, &n) || n == 0) return KeyPress{Key::None, 0};
        // Only key presses count; releases, mouse and focus events do not.
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        switch (record.Event.KeyEvent.wVirtualKeyCode) {
        case VK_UP: return KeyPress{Key::Up, 0};
        case VK_DOWN: return KeyPress{Key::Down, 0};
        case VK_RIGHT: return KeyPress{Key::Right, 0};
        case VK_LEFT: return KeyPress{Key::Left, 0};
        default: break;
        }
        const char ch = record.Event.KeyEvent.uChar.AsciiChar;
        if (ch != 0) return KeyPress{Key::Other, ch};
    }
}

}  // namespace korvane::tool
