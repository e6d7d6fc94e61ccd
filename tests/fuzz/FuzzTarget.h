#pragma once

// A fuzz target is a function of one input. Each source folder builds one
// binary holding its targets; the binary is started under the name
// fuzz_<target> (a link made by the build) and runs that target.

#include <QByteArray>
#include <QString>

namespace fuzz {

using Entry = void (*)(const QByteArray& input);

struct Registration {
    Registration(const char* name, Entry entry);
};

// Ends the run: the fuzzer keeps the input that broke the rule.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A folder for targets that must keep files, in memory when the machine
// offers /dev/shm; removed when the process ends.
QString scratchDir();

} // namespace fuzz

#define PRAVIK_FUZZ_TARGET(name)                                                                             \
    static void fuzzTarget_##name(const QByteArray& input);                                                  \
    static const fuzz::Registration fuzzRegistration_##name(#name, fuzzTarget_##name);                       \
    static void fuzzTarget_##name(const QByteArray& input)
