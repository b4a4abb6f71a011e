#pragma once
// Joins the threads the engine started (try loops and fetch threads among
// them, which end by themselves once idle) after the last test of a
// program: a thread still unjoined at exit is a leak to ThreadSanitizer.

#include "engine/Thread.h"

#include <gtest/gtest.h>

class TJoinThreadsAtEnd final : public ::testing::Environment {
public:
    void TearDown() override { TThread::JoinAll(); }
};

inline ::testing::Environment* const kJoinThreadsAtEnd = ::testing::AddGlobalTestEnvironment(new TJoinThreadsAtEnd);
