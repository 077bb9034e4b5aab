// One object per process, kept alive by whoever holds it.
//
// The library's statics go away at two moments. On unload (FreeLibrary,
// dlclose) no camera is open: the object's thread has been joined by the last
// Close, and the object is destroyed with nothing to wait for. At process exit
// cameras may be open and, on Windows, the object's thread may have been
// killed in the middle of its work: then the object is never destroyed but
// left to the system, since any teardown could wait forever. An object whose
// thread still runs at destruction can only be at exit, as that thread keeps
// the library loaded (CIoThread).
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace korvane {

template <typename T>
std::shared_ptr<T> ProcessWide()
{
    class CHolder {
    public:
        CHolder() : m_object(std::make_shared<T>()) {}
        // A union member is destroyed only when asked to.
        ~CHolder()
        {
            if (!platform::ProcessExiting() && m_object->Idle()) m_object.~shared_ptr();
        }
        const std::shared_ptr<T>& Object() const { return m_object; }

    private:
        union {
            std::shared_ptr<T> m_object;
        };
    };
    static CHolder holder;
    return holder.Object();
}

}  // namespace korvane
