// A posting run over 8 connections against a server that misbehaves at
// random; every part of every file must be accepted with the right bytes and
// the run must end by itself. bench_soak runs the same for longer.
#include "support/SoakRun.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace tessaly;

TEST(Soak, FaultInjectionLosesNothing)
{
    test::SoakOptions options;
    if (!qEnvironmentVariableIsEmpty("TESSALY_SOAK_SEED"))
        options.seed = quint32(qEnvironmentVariableIntValue("TESSALY_SOAK_SEED"));
    options.folder = test::home();
    const test::SoakReport r = test::runSoak(options);
    std::printf("soak (seed %u): %s\n", options.seed, qPrintable(r.summary()));
    EXPECT_TRUE(r.endedByItself) << qPrintable(r.firstProblem);
    EXPECT_EQ(r.lost, 0);
    EXPECT_EQ(r.corrupt, 0) << qPrintable(r.firstProblem);
    EXPECT_EQ(r.notPostedOK, 0) << qPrintable(r.firstProblem);
    EXPECT_EQ(r.files, 40);
    EXPECT_GT(r.faults, 10); // the server did misbehave
}
