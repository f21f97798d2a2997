// The checks of load_checks.hpp.
#include "binding/load_checks.hpp"

#include <cstdio>
#include <string>

#include "binding/python_ref.hpp"
#include "libm/entries.hpp"
#include "platform/environment.hpp"
#include "simd/dispatch.hpp"

namespace rc {
namespace {

const char* exp_name(libm::ExpVariant variant) {
    switch (variant) {
        case libm::ExpVariant::fused: return "fused";
        case libm::ExpVariant::plain: return "plain";
        case libm::ExpVariant::library: break;
    }
    return "library";
}

// The names of the targets that `holds`, comma-separated.
template <class Holds>
std::string target_names(Holds&& holds) {
    std::string names;
    for (const simd::TargetInfo& info : simd::kTargets) {
        if (!holds(info)) continue;
        if (!names.empty()) names.push_back(',');
        names.append(info.name);
    }
    return names;
}

std::string report() {
    std::string line = "target=";
    line.append(simd::name_of(simd::chosen_target()));
    line.append(" built=").append(target_names([](const simd::TargetInfo& info) { return info.compiled; }));
    line.append(" runs=").append(target_names([](const simd::TargetInfo& info) { return simd::runs(info.id); }));
    line.append(" exp=").append(exp_name(libm::kernel_exp_variant()));
    line.append(" log=").append(libm::entries().log_bracketed ? "bracket" : "library").append("\n");
    return line;
}

}  // namespace

int check_environment(PyObject*) {
    if (const std::string problem = simd::requested_target_problem(); !problem.empty()) {
        PyErr_SetString(PyExc_ImportError, problem.c_str());
        return -1;
    }
    const std::string path(environment::report_path());
    if (path.empty()) return 0;
    const std::string line = report();
    std::FILE* file = std::fopen(path.c_str(), "w");
    const bool written = file != nullptr && std::fputs(line.c_str(), file) >= 0;
    if (file != nullptr && std::fclose(file) != 0) return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str()), -1;
    if (!written) return PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str()), -1;
    return 0;
}

}  // namespace rc
