// Calls on a camera, each with the frames it must send, checked in order
// against whatever the peer received next.
#pragma once

#include <korvane/Korvane.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvane::test {

struct Step {
    std::function<void(CKorvane&)> call;
    std::vector<std::vector<std::uint8_t>> sent;  // none: nothing at all
};

// next() is the peer's next frame, or no bytes when none came in time. A
// step that must send nothing is caught by the next step's frames.
template <typename Next>
void ExpectSteps(CKorvane& camera, const std::vector<Step>& steps, Next next, const std::string& name)
{
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(name + ", step " + std::to_string(i));
        steps[i].call(camera);
        for (const auto& expected : steps[i].sent) EXPECT_EQ(next(), expected);
    }
}

}  // namespace korvane::test
