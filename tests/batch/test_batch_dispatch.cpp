// trackmill-batch's dispatcher, run as a program: --help lists the
// sub-commands and answers 0; no command or an unknown one is a usage
// error (2) with the reason on stderr.
#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct BatchRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

BatchRun run_batch(const std::string& args)
{
    // ctest runs the cases of this file side by side: each run gets its own files.
    static int runs = 0;
    std::string base = testing::TempDir() + "batch_dispatch_" + std::to_string(getpid()) + "_" + std::to_string(runs++);
    std::string cmd = std::string("'") + TM_BATCH_PROGRAM + "' " + args + " >" + base + ".out 2>" + base + ".err";
    BatchRun r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(base + ".out");
    r.err = slurp(base + ".err");
    return r;
}

} // namespace

TEST(BatchDispatch, HelpListsTheCommandsAndTheExitStatus)
{
    for (const char* flag : {"--help", "-h", "help"}) {
        SCOPED_TRACE(flag);
        BatchRun r = run_batch(flag);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("usage: trackmill-batch COMMAND"), std::string::npos);
        EXPECT_NE(r.out.find("exit status: 0 done, 1 failed"), std::string::npos);
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST(BatchDispatch, NoCommandOrAnUnknownOneIsAUsageError)
{
    BatchRun none = run_batch("");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("usage: trackmill-batch"), std::string::npos);
    EXPECT_TRUE(none.out.empty());

    BatchRun unknown = run_batch("no-such-command x y");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown command 'no-such-command'"), std::string::npos);
    EXPECT_TRUE(unknown.out.empty());
}

TEST(BatchDispatch, TourAutoTracksTheDemoSideAndDeclicksEachTakeIntoANewFolder)
{
    const std::string dir = testing::TempDir() + "batch_tour_" + std::to_string(getpid());
    std::system(("rm -rf '" + dir + "'").c_str());
    BatchRun r = run_batch("tour '" + dir + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("corrections"), std::string::npos);
    for (const char* take : {"track0.wav", "track3.wav", "tracd0.wav", "tracd3.wav"}) {
        SCOPED_TRACE(take);
        EXPECT_NE(r.out.find(take), std::string::npos);
        EXPECT_EQ(access((dir + "/takes/" + take).c_str(), R_OK), 0);
    }
    // Run again into the same folder: nothing there is written over.
    BatchRun again = run_batch("tour '" + dir + "'");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("exists"), std::string::npos);
    std::system(("rm -rf '" + dir + "'").c_str());
}
