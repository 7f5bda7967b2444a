// The few Linux system calls the show makes itself, without the C library, and
// its one way of saying what went wrong.
#pragma once

inline long linux_syscall(long number, long first, long second = 0, long third = 0) {
    long result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(first), "S"(second), "d"(third)
                 : "rcx", "r11", "memory");
    return result;
}

inline long sys_write(int descriptor, const void* data, unsigned long length) {
    return linux_syscall(1, descriptor, reinterpret_cast<long>(data), static_cast<long>(length));
}

inline int sys_memfd_create(const char* name, unsigned flags) {
    return static_cast<int>(linux_syscall(319, reinterpret_cast<long>(name), flags));
}

// Ends every thread of the process at once. One copy, called from everywhere.
[[noreturn, gnu::noinline]] inline void sys_exit_group(int status) {
    linux_syscall(231, status);
    __builtin_unreachable();
}

// One line on standard error: "korvatine: " and the texts given, end to end.
[[gnu::noinline]] inline void report(const char* first, const char* second = "", const char* third = "") {
    const char* parts[] = {"korvatine: ", first, second, third, "\n"};
    for (const char* part : parts) {
        unsigned long length = 0;
        while (part[length])
            ++length;
        sys_write(2, part, length);
    }
}
