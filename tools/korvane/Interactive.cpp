#include "Interactive.h"

#include "Commands.h"
#include "Stopper.h"
#include "Terminal.h"

#include <algorithm>

namespace korvane::tool {

const char* const kInteractiveKeys =
    "keys: arrows move, space stops, + - zoom, f n focus far/near, o c iris open/close,\n"
    "      1-9 go to preset, s then 1-9 set preset, t track on/off, a auto-zoom on/off,\n"
    "      [ ] slower/faster, h this help, q (or Ctrl-C) quits";

namespace {

class CSession {
public:
    CSession(CCameraLink& link, COutput& output) : m_link(link), m_output(output) {}

    // False when the key ends the session.
    bool OnKey(const KeyPress& press);
    void ShowStatus()
    {
        m_output.SetStatus("[" + m_link.Options().Describe() + "] speed " + std::to_string(m_nSpeed) + " | " +
                           m_strLast + " | reports " + std::to_string(m_link.Reports()) + " | h help, q quit");
    }

private:
    // Sends the command of the words, or says why the link carries none.
    void Do(const std::vector<std::string>& words)
    {
        const Action action = FindAction(words);
        if (const auto why = Unsendable(action, m_link.Options())) {
            m_strLast = action.label + ": not sent, " + *why;
            return;
        }
        action.run(m_link.Camera());
        m_strLast = action.label;
    }
    void ChangeSpeed(int delta)
    {
        m_nSpeed = std::clamp(m_nSpeed + delta, 1, 63);
        m_link.Camera().SetHorizonSpeed(m_nSpeed);
        m_link.Camera().SetVertcalSpeed(m_nSpeed);
        m_strLast = "speed " + std::to_string(m_nSpeed);
    }

    CCameraLink& m_link;
    COutput& m_output;
    int m_nSpeed = m_link.Options().panSpeed;
    std::string m_strLast = "ready";
    bool m_bSetting = false;  // 's' pressed: the next digit stores a preset
    bool m_bTracking = false;
    bool m_bAutoZoom = false;
};

bool CSession::OnKey(const KeyPress& press)
{
    switch (press.key) {
    case Key::Up: Do({"up"}); return true;
    case Key::Down: Do({"down"}); return true;
    case Key::Left: Do({"left"}); return true;
    case Key::Right: Do({"right"}); return true;
    case Key::None: return false;  // end of input
    case Key::Other: break;
    }
    const char ch = press.ch;
    if (ch >= '1' && ch <= '9') {
        Do({"preset", m_bSetting ? "set" : "go", std::string(1, ch)});
        m_bSetting = false;
        return true;
    }
    m_bSetting = false;
    switch (ch) {
    case 'q':
    case 'Q':
    case 3: return false;
    case ' ': Do({"stop"}); break;
    case '+':
    case '=': Do({"zoom", "in"}); break;
    case '-': Do({"zoom", "out"}); break;
    case 'f': Do({"focus", "far"}); break;
    case 'n': Do({"focus", "near"}); break;
    case 'o': Do({"iris", "open"}); break;
    case 'c': Do({"iris", "close"}); break;
    case 's':
        m_bSetting = true;
        m_strLast = "set which preset? (1-9)";
        break;
    case 't':
        m_bTracking = !m_bTracking;
        Do({"track", m_bTracking ? "on" : "off"});
        break;
    case 'a':
        m_bAutoZoom = !m_bAutoZoom;
        Do({"autozoom", m_bAutoZoom ? "on" : "off"});
        break;
    case '[': ChangeSpeed(-4); break;
    case ']': ChangeSpeed(4); break;
    case 'h':
    case '?': m_output.Line(kInteractiveKeys); break;
    default: m_strLast = "unknown key (h for help)";
    }
    return true;
}

}  // namespace

int RunInteractive(CCameraLink& link, COutput& output)
{
    if (!CRawTerminal::IsTerminal()) throw RunError("interactive mode needs a terminal on standard input and output");
    CRawTerminal terminal;
    CSession session(link, output);
    // A stop signal (a closed terminal, SIGTERM, Ctrl-\ from outside, ...) ends the session as q does: with a stop.
    CStopper stopper;
    output.Line(kInteractiveKeys);
    session.ShowStatus();
    while (!stopper.Poll()) {
        const auto press = terminal.ReadKey(std::chrono::milliseconds(200));
        if (press && !session.OnKey(*press)) break;
        session.ShowStatus();  // also refreshes the report count
    }
    link.Camera().CameraStop();
    output.EndStatus();
    return 0;
}

}  // namespace korvane::tool
