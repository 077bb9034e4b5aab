#include "Report.h"

#include <cstdio>

namespace korvane::bench {

void CReport::Add(Figure figure)
{
    std::fprintf(stderr, "  %-46s %10.2f %s\n", figure.name.c_str(), figure.value, figure.unit.c_str());
    m_rows.push_back(Row{false, std::move(figure)});
}

void CReport::Section(const std::string& title)
{
    std::fprintf(stderr, "%s\n", title.c_str());
    m_rows.push_back(Row{true, Figure{title}});
}

void CReport::Print() const
{
    std::printf("\n%-46s %12s %12s %8s  %-10s %-14s %s\n", "figure", "korvane", "raw", "ratio", "unit", "target",
                "");
    for (const Row& row : m_rows) {
        if (row.section) {
            std::printf("-- %s\n", row.figure.name.c_str());
            continue;
        }
        const Figure& f = row.figure;
        char baseline[32] = "-";
        char ratio[32] = "-";
        if (f.baseline > 0) {
            std::snprintf(baseline, sizeof baseline, "%.2f", f.baseline);
            std::snprintf(ratio, sizeof ratio, "%.2f", f.value / f.baseline);
        }
        std::printf("%-46s %12.2f %12s %8s  %-10s %-14s %s%s%s\n", f.name.c_str(), f.value, baseline, ratio,
                    f.unit.c_str(), f.target.c_str(), f.target.empty() ? "" : (f.met ? "met" : "MISSED"),
                    f.note.empty() ? "" : "  ", f.note.c_str());
    }
}

}  // namespace korvane::bench
