// The keyboard is built without exceptions. The few places where the standard
// library would throw (out of memory, a length beyond a container's limit, an
// empty function called) are faults the keyboard cannot recover from, so they
// end the program at once. Defining them here keeps the library's exception
// machinery, its unwinder and its demangling terminate handler out of the exe.
#include <cstdlib>
#include <new>

namespace {
[[noreturn]] void Fail() { __builtin_trap(); }
}  // namespace

namespace std {
[[noreturn]] void __throw_bad_alloc() { Fail(); }
[[noreturn]] void __throw_bad_array_new_length() { Fail(); }
[[noreturn]] void __throw_length_error(const char*) { Fail(); }
[[noreturn]] void __throw_logic_error(const char*) { Fail(); }
[[noreturn]] void __throw_out_of_range(const char*) { Fail(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { Fail(); }
[[noreturn]] void __throw_invalid_argument(const char*) { Fail(); }
[[noreturn]] void __throw_bad_function_call() { Fail(); }
[[noreturn]] void __throw_bad_weak_ptr() { Fail(); }
}  // namespace std

extern "C" [[noreturn]] void __cxa_pure_virtual() { Fail(); }

void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    Fail();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
