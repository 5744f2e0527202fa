#pragma once
// The bridge between the RPC runtime, which reports transport and protocol failures by
// raising Thrift exceptions, and the extension's own error values; and the two errors
// of a malformed page message.
#include <exception>
#include <functional>
#include <string>

namespace lumvane {

// A runtime exception caught by ExceptionGuard::tryCatch; exception() is the very object
// that was raised.
class NSExceptionError : public std::exception {
  public:
    explicit NSExceptionError(std::exception_ptr exception);
    const std::exception_ptr& exception() const { return exception_; }
    // The raised exception's reason text.
    const std::string& reason() const { return reason_; }
    // "NSExceptionError(" + the reason + ")".
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    std::exception_ptr exception_;
    std::string reason_;
    std::string description_;
};

struct ExceptionGuard {
    // Runs workItem once on the calling thread; a Thrift exception (TException and its
    // subclasses) raised inside it comes out as NSExceptionError. Anything else passes
    // through unchanged. Side effects of the work up to the failure stay.
    static void tryCatch(const std::function<void()>& workItem);
};

// A malformed page message.
class JSError : public std::exception {
  public:
    enum class Case { HasNotContext, HasNotParameter };
    static JSError HasNotContext() { return JSError(Case::HasNotContext); }
    static JSError HasNotParameter() { return JSError(Case::HasNotParameter); }

    explicit JSError(Case c) : case_(c) {}
    Case errorCase() const { return case_; }
    // The case name: "HasNotContext" or "HasNotParameter".
    const char* what() const noexcept override;
    bool operator==(const JSError& other) const { return case_ == other.case_; }
    size_t hash() const { return static_cast<size_t>(case_); }

  private:
    Case case_;
};

}  // namespace lumvane
