// EXPECT_FATAL(statement, number): the statement raises the fatal error with that number.
#pragma once

#include <gtest/gtest.h>

#include "vellum/fatal.h"

#define EXPECT_FATAL(statement, expectedNumber)                                        \
    do {                                                                               \
        ::vellum::FatalTrap fatalTrap_("test file");                                   \
        int fatalNumber_ = 0;                                                          \
        try {                                                                          \
            statement;                                                                 \
        } catch (const ::vellum::FatalError& error) {                                  \
            fatalNumber_ = error.number();                                             \
        }                                                                              \
        EXPECT_EQ(fatalNumber_, (expectedNumber)) << "statement: " #statement;         \
    } while (false)
