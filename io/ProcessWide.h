// One object per process, kept alive by whoever holds it, and shut down (its
// thread ended) when the library goes away even if a host leaked a camera
// that still holds it.
#pragma once

#include <memory>

namespace korvane {

template <typename T>
std::shared_ptr<T> ProcessWide()
{
    struct Holder {
        std::shared_ptr<T> object = std::make_shared<T>();
        ~Holder() { object->Shutdown(); }
    };
    static Holder holder;
    return holder.object;
}

}  // namespace korvane
