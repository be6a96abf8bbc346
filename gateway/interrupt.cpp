#include "interrupt.h"

#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace lumasift LUMASIFT_HIDDEN {

namespace {

using InterruptQuery = bool (*)();

struct HostInterrupt {
    const volatile std::sig_atomic_t* octave_state;  // > 0 while an interrupt waits
    InterruptQuery matlab_query;
};

void* symbol_named(const char* name)
{
#if defined(_WIN32)
    const HMODULE libut = GetModuleHandleA("libut.dll");
    return libut != nullptr ? reinterpret_cast<void*>(GetProcAddress(libut, name)) : nullptr;
#else
    if (void* found = dlsym(RTLD_DEFAULT, name)) {
        return found;
    }
    // MATLAB may load libut without making its names global.
#if defined(__APPLE__)
    void* libut = dlopen("libut.dylib", RTLD_LAZY | RTLD_NOLOAD);
#else
    void* libut = dlopen("libut.so", RTLD_LAZY | RTLD_NOLOAD);
#endif
    return libut != nullptr ? dlsym(libut, name) : nullptr;
#endif
}

HostInterrupt find_host_interrupt()
{
    HostInterrupt found{nullptr, nullptr};
#if !defined(_WIN32)
    found.octave_state = static_cast<const volatile std::sig_atomic_t*>(dlsym(RTLD_DEFAULT, "octave_interrupt_state"));
#endif
    if (found.octave_state == nullptr) {
        found.matlab_query = reinterpret_cast<InterruptQuery>(symbol_named("utIsInterruptPending"));
    }
    return found;
}

}  // namespace

bool host_interrupt_pending()
{
    static const HostInterrupt host = find_host_interrupt();
    if (host.octave_state != nullptr) {
        return *host.octave_state > 0;
    }
    return host.matlab_query != nullptr && host.matlab_query();
}

}  // namespace lumasift
