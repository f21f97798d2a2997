// Failures raised inside kernels. Kernels never see Python: they throw these C++ exceptions
// and the binding layer translates them at one place (errors.cpp).
#pragma once

#include <stdexcept>
#include <string>

namespace rc {

// A violated condition inside a computation (an index outside an array, a size that
// overflows). Reaches Python as PanicException carrying the message.
class KernelFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A check of an argument's value that the function documents. Reaches Python as ValueError.
class InvalidValue : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

[[noreturn]] void fail(const std::string& message);
[[noreturn]] void fail_index_out_of_bounds();

}  // namespace rc
