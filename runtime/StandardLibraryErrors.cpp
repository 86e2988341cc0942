// The C++ runtime's reports of a misused container or string (a size past the most it can
// hold, a position past the end, a string made from a null pointer), for the two DLLs.
// The runtime's own versions throw std::length_error and its kin, whose construction
// brings in the old copy-on-write string, its error texts and std::random_device, each
// with all its functions: 86 KB of the 32-bit folder DLL, statically linked. Here such a
// report is one exception of our own that, like those, derives from std::exception and
// not from std::bad_alloc: every handler of this system (a catch of std::bad_alloc, else
// of everything) treats it exactly as before. Each function the runtime defines beside
// them is defined here too, so that the linker never takes the runtime's copy (it would
// report the names as defined twice).
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class StandardLibraryError : public std::exception {
public:
    explicit StandardLibraryError(const char* message) : m_message(message) {}
    const char* what() const noexcept override { return m_message; }

private:
    const char* m_message;  // the runtime passes string literals only
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* message) { throw StandardLibraryError(message); }
void __throw_domain_error(const char* message) { throw StandardLibraryError(message); }
void __throw_invalid_argument(const char* message) { throw StandardLibraryError(message); }
void __throw_length_error(const char* message) { throw StandardLibraryError(message); }
void __throw_out_of_range(const char* message) { throw StandardLibraryError(message); }
void __throw_out_of_range_fmt(const char* format, ...) { throw StandardLibraryError(format); }
void __throw_runtime_error(const char* message) { throw StandardLibraryError(message); }
void __throw_range_error(const char* message) { throw StandardLibraryError(message); }
void __throw_overflow_error(const char* message) { throw StandardLibraryError(message); }
void __throw_underflow_error(const char* message) { throw StandardLibraryError(message); }

}  // namespace std
