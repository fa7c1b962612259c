#pragma once
// The exception classes of the framework. Every error the system names is an
// Exception (or a class derived from it) carrying its message text; the
// application's error box shows that text.

#include <stdexcept>
#include <string>

namespace fw {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// The silent exception: it unwinds a handler without any error box.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

// An operation that is not allowed in the object's present state or
// configuration (e.g. a component placed on an owner of the wrong kind).
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

class EComponentError : public Exception {
public:
    using Exception::Exception;
};

// A text that cannot be read as the number asked for, e.g.
// "'abc' is not a valid floating point value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A system resource ran out (e.g. "Not enough timers available").
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// Throws EAbort.
[[noreturn]] inline void Abort() {
    throw EAbort();
}

}  // namespace fw
