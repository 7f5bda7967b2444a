// What every benchmark prints first: the machine its numbers come from.
#pragma once

#include <fstream>
#include <string>

inline std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

inline int cpu_count() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    int count = 0;
    while (std::getline(cpuinfo, line))
        count += line.rfind("processor", 0) == 0;
    return count;
}
