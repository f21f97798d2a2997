// Reads the switches of environment.hpp.
#include "platform/environment.hpp"

#include <cstdlib>

#include "platform/interface_names.hpp"

namespace rc::environment {
namespace {

std::string_view read(const char* name) noexcept {
    const char* text = std::getenv(name);
    return text == nullptr ? std::string_view{} : std::string_view(text);
}

}  // namespace

std::string_view simd_target() noexcept {
    static const std::string_view value = read(names::kSimdVariable);
    return value;
}

std::string_view report_path() noexcept {
    static const std::string_view value = read(names::kReportVariable);
    return value;
}

bool public_libm() noexcept {
    static const bool value = read(names::kLibmVariable) == names::kPublicLibm;
    return value;
}

std::string_view failing_allocations() noexcept {
    static const std::string_view value = read(names::kFailAllocVariable);
    return value;
}

std::string_view failing_thread_start() noexcept {
    static const std::string_view value = read(names::kFailThreadStartVariable);
    return value;
}

std::optional<std::size_t> parse_decimal(std::string_view text) noexcept {
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        if (__builtin_mul_overflow(value, std::size_t{10}, &value) ||
            __builtin_add_overflow(value, static_cast<std::size_t>(c - '0'), &value))
            return std::nullopt;
    }
    return value;
}

std::string_view nds_method() noexcept { return read(names::kNdsVariable); }

}  // namespace rc::environment
