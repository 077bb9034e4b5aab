// The benchmark's table: each figure beside its raw baseline, their ratio,
// and the target it is held to.
#pragma once

#include <string>
#include <vector>

namespace korvane::bench {

struct Figure {
    std::string name;
    double value = 0;
    double baseline = 0;  // 0: none
    std::string unit;
    std::string target;   // e.g. "<= 2x", "< 1 %"
    bool met = true;
    std::string note;
};

class CReport {
public:
    void Add(Figure figure);
    void Section(const std::string& title);
    void Print() const;

private:
    struct Row {
        bool section;
        Figure figure;
    };
    std::vector<Row> m_rows;
};

}  // namespace korvane::bench
