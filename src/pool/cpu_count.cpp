// The worker count the environment and the machine ask for: RAYON_NUM_THREADS, then
// RAYON_RS_NUM_CPUS, then the CPUs this process may run on (its affinity mask, limited by the
// CPU quota of its control groups).
#include "pool/cpu_count.hpp"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/environment.hpp"
#include "platform/interface_names.hpp"

namespace rc::pool {
namespace {

// A decimal machine word: digits with an optional leading '+', nothing else, no overflow.
std::optional<std::size_t> parse_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view s(text);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    return environment::parse_decimal(s);
}

// CPUs allowed by a cgroup v2 "cpu.max" file ("max 100000" or "quota period").
std::optional<std::size_t> cgroup2_limit(const std::string& dir) {
    std::ifstream in(dir + "/cpu.max");
    std::string quota;
    long long period = 0;
    if (!(in >> quota >> period) || quota == "max" || period <= 0) return std::nullopt;
    long long q = std::atoll(quota.c_str());
    if (q <= 0) return std::nullopt;
    return static_cast<std::size_t>(std::max(1LL, q / period));
}

std::optional<std::size_t> cgroup1_limit(const std::string& dir) {
    std::ifstream quota_in(dir + "/cpu.cfs_quota_us"), period_in(dir + "/cpu.cfs_period_us");
    long long quota = 0, period = 0;
    if (!(quota_in >> quota) || !(period_in >> period) || quota <= 0 || period <= 0) return std::nullopt;
    return static_cast<std::size_t>(std::max(1LL, quota / period));
}

// The smallest CPU quota on the way from the process's control group up to the root.
std::optional<std::size_t> cgroup_quota() {
    std::ifstream in("/proc/self/cgroup");
    std::optional<std::size_t> best;
    auto consider = [&](std::optional<std::size_t> limit) {
        if (limit && (!best || *limit < *best)) best = limit;
    };
    std::string line;
    while (std::getline(in, line)) {
        // "hierarchy-id:controllers:path"; v2 has an empty controller list.
        auto first = line.find(':');
        auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        const bool v2 = controllers.empty();
        const bool v1_cpu = controllers == "cpu" || controllers.starts_with("cpu,") ||
                            controllers.find(",cpu,") != std::string::npos ||
                            controllers.ends_with(",cpu");
        if (!v2 && !v1_cpu) continue;
        for (;;) {
            if (v2) {
                consider(cgroup2_limit("/sys/fs/cgroup" + path));
            } else {
                consider(cgroup1_limit("/sys/fs/cgroup/cpu,cpuacct" + path));
                consider(cgroup1_limit("/sys/fs/cgroup/cpu" + path));
            }
            if (path.empty() || path == "/") break;
            auto slash = path.find_last_of('/');
            path = slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
        }
    }
    return best;
}

std::size_t available_processors() {
    std::size_t count = 0;
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) count = static_cast<std::size_t>(CPU_COUNT(&set));
    if (count == 0) count = std::thread::hardware_concurrency();
    if (auto quota = cgroup_quota(); quota && count > 0) count = std::min(count, *quota);
    return count == 0 ? 1 : count;
}

}  // namespace

std::size_t configured_worker_count() {
    if (auto n = parse_count(std::getenv(names::kThreadsVariable))) {
        return *n > 0 ? *n : available_processors();
    }
    if (auto n = parse_count(std::getenv(names::kCpusVariable)); n && *n > 0) return *n;
    return available_processors();
}

}  // namespace rc::pool
