#pragma once

// A fuzz harness is one function over a byte span. FuzzDriver.cpp turns the
// harness into a libFuzzer target (built with clang and -DAV_FUZZ=ON) or,
// with any other compiler, into a program that replays the files of its
// corpus so CI proves that every input found so far still passes. A harness
// states what must hold with FUZZ_CHECK; a broken property aborts with the
// condition, so both libFuzzer and the replay report it as a crash.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

using FuzzInput = std::span<const std::uint8_t>;

// Defined once by every harness.
void fuzzOneInput(FuzzInput input);
// Writes the harness's seed inputs, made with the real writer, client or
// server, into `folder` (the replay program's --make-seeds FOLDER).
void fuzzMakeSeeds(const std::string& folder);

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// For result codes and other integers: also prints both values.
#define FUZZ_CHECK_CODE(actual, expected)                                                                              \
    do {                                                                                                               \
        const unsigned long long fuzzActual = (actual);                                                                \
        const unsigned long long fuzzExpected = (expected);                                                            \
        if (fuzzActual != fuzzExpected) {                                                                              \
            std::fprintf(stderr, "%s:%d: property broken: %s is 0x%llx, not 0x%llx\n", __FILE__, __LINE__, #actual,    \
                fuzzActual, fuzzExpected);                                                                             \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
