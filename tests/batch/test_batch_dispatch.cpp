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

TEST(BatchDispatch, TypingErrorsAreUsageErrorsWithTheUsageLine)
{
    const std::string track = testing::TempDir() + "batch_usage_" + std::to_string(getpid()) + ".wav";
    for (const std::string& args :
         {"declick '" + track + "' --threshold=abc", "fadein '" + track + "' --intro=9s", "denoise '" + track + "' --fast",
          std::string("record x.wav --seconds=1 --format=pcm,44100,2,17"), std::string("record x.wav --seconds=1 --buffers=five"),
          std::string("split sides --intro=x"), "encode '" + track + "' out.wav --format=opus,48000,2"}) {
        SCOPED_TRACE(args);
        BatchRun r = run_batch(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("usage: trackmill-batch "), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST(BatchDispatch, ACleanedFileThereAlreadyIsKeptWithoutOverwrite)
{
    const std::string dir = testing::TempDir() + "batch_keep_" + std::to_string(getpid());
    std::system(("rm -rf '" + dir + "' && mkdir '" + dir + "'").c_str());
    ASSERT_EQ(run_batch("demo-side '" + dir + "/side.wav'").status, 0);
    std::ofstream(dir + "/dside.wav") << "old";
    BatchRun r = run_batch("declick '" + dir + "/side.wav'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("dside.wav exists; --overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir + "/dside.wav"), "old");
    r = run_batch("declick '" + dir + "/side.wav' --overwrite");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(dir + "/dside.wav\n", 0), 0u) << r.out;
    std::system(("rm -rf '" + dir + "'").c_str());
}
