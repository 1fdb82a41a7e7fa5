#include "platform/ProgramRunner.h"

#include "platform/ProgramCommand.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace ornbrook;
using namespace std::chrono_literals;

namespace {

using Ending = ProgramOutcome::Ending;

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs each program under its key and returns the outcomes in the order asked.
std::vector<ProgramOutcome>
RunAll(ProgramRunner& runner,
       const std::vector<std::pair<std::string, std::vector<std::string>>>& programs) {
    std::vector<ProgramOutcome> outcomes(programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) {
        runner.Start(programs[i].first, programs[i].second,
                     [&outcomes, i](ProgramOutcome outcome) { outcomes[i] = std::move(outcome); });
    }
    EXPECT_TRUE(runner.WaitAll(std::chrono::steady_clock::now() + 120s));
    return outcomes;
}

std::vector<std::string> Shell(const std::string& script) {
    return {"sh", "-c", script};
}

} // namespace

// The setting is split by a shell's quoting rules, nothing is expanded, each
// placeholder's value stays one argument, and it arrives exactly in a program
// that got nothing else from us: stdin is /dev/null, no other descriptor.
TEST(ProgramRunner, ArgumentsArriveExactly) {
    test::TempProgramDir dir;
    const std::string report = dir.File("argv");
    const std::string program = Quoted(ARGV_WRITER) + " " + Quoted(report) + " ";
    const ProgramValues values{"/home/u/x y/photo 1.jpg", "ftp://u:***@h/it's \"new\".jpg",
                               "sub/a b;$HOME `id` 'q' \"d\"\nline {url}.jpg"};
    const std::vector<std::pair<std::string, std::vector<std::string>>> table = {
        {"a  'b c'\t\"d e\"  ", {"a", "b c", "d e"}},
        {R"(b\ c \'x\' \\ x'y'"z"w)", {"b c", "'x'", "\\", "xyzw"}},
        {R"("\$ \` \" \\ \a" 'x\y' "it's" '"' '' "")",
         {"$ ` \" \\ \\a", "x\\y", "it's", "\"", "", ""}},
        {"$HOME ~ *.txt ; a;b && | > $(id) `id` #c",
         {"$HOME", "~", "*.txt", ";", "a;b", "&&", "|", ">", "$(id)", "`id`", "#c"}},
        {"a\\\nb \"c\\\nd\"", {"ab", "cd"}},
        {"{name} '{path}' \"pre-{name}.bak\"",
         {values.Name, values.Path, "pre-" + values.Name + ".bak"}},
        {"{url}{name} {nope} {Name} {path",
         {values.Url + values.Name, "{nope}", "{Name}", "{path"}},
    };
    // A descriptor left without close-on-exec must still not reach the program.
    const int stray = ::open("/dev/null", O_RDONLY);
    ProgramRunner runner;
    for (const auto& [setting, expected] : table) {
        SCOPED_TRACE(setting);
        const auto command = ProgramCommand::Parse(program + setting);
        ASSERT_TRUE(command) << command.error().Message;
        const auto outcomes = RunAll(runner, {{"k", command->Arguments(values)}});
        ASSERT_TRUE(outcomes[0].Succeeded()) << outcomes[0].Describe();
        const std::string written = test::ReadBytes(report);
        const std::size_t facts = written.find('\n', written.find('\n') + 1) + 1;
        EXPECT_EQ(written.substr(0, facts), "/dev/null\n\n");
        std::vector<std::string> arguments;
        for (std::size_t pos = facts; pos < written.size(); pos = written.find('\0', pos) + 1)
            arguments.emplace_back(written.c_str() + pos);
        EXPECT_EQ(arguments, expected);
    }
    ::close(stray);

    EXPECT_EQ(ProgramCommand::Parse("a {url} x{name}")->Placeholders(),
              ProgramCommand::UrlPlaceholder | ProgramCommand::NamePlaceholder);
    EXPECT_EQ(ProgramCommand::Parse("a '{path}'")->Placeholders(), ProgramCommand::PathPlaceholder);
    EXPECT_EQ(ProgramCommand::Parse("a {nope} {path")->Placeholders(), 0u);
}

TEST(ProgramCommand, SettingsThatCannotBeSplitSayWhy) {
    const std::pair<std::string, std::string> table[] = {
        {"a 'b c", "the single quote at character 3 is never closed"},
        {"a \"b\\\"", "the double quote at character 3 is never closed"},
        {"a b\\", "the setting ends in a backslash that escapes nothing"},
        {"", "no program is named"},
        {" \t ", "no program is named"},
        {"'' x", "no program is named"},
        {"{name} x", "the program must be named, not given by a placeholder"},
        {"\"/bin/{path}\"", "the program must be named, not given by a placeholder"},
    };
    for (const auto& [setting, error] : table) {
        const auto command = ProgramCommand::Parse(setting);
        ASSERT_FALSE(command) << setting;
        EXPECT_EQ(command.error().Message, error) << setting;
    }
}

TEST(FindProgram, AsAShellFindsIt) {
    test::TempProgramDir dir;
    const std::string a = dir.File("a");
    const std::string b = dir.File("b");
    const std::string c = dir.File("c");
    for (const std::string& folder : {a, b, c + "/tool"})
        std::filesystem::create_directories(folder);
    test::WriteBytes(a + "/tool", "#!/bin/sh\n");
    test::WriteBytes(b + "/tool", "#!/bin/sh\n");
    ::chmod((b + "/tool").c_str(), 0700);

    const struct {
        std::string Name;
        std::string Path;
        std::string Found;
        std::string Error;
    } table[] = {
        {"tool", c + ":" + a + ":" + b, b + "/tool", ""},
        {"tool", c + ":" + a, "", "not executable: " + a + "/tool"},
        {"tool", c, "", "program not found: tool"},
        {b + "/tool", "", b + "/tool", ""},
        {a + "/tool", b, "", "not executable: " + a + "/tool"},
        {c + "/tool", b, "", "not executable: " + c + "/tool"},
        {"missing/tool", b, "", "program not found: missing/tool"},
    };
    for (const auto& row : table) {
        const auto found = FindProgram(row.Name, row.Path.c_str());
        EXPECT_EQ(found ? *found : found.error().Message, found ? row.Found : row.Error)
            << row.Name << " in " << row.Path;
    }

    // An empty entry is the current directory, wherever it stands.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(b);
    EXPECT_EQ(FindProgram("tool", (a + ":").c_str()), "./tool");
    EXPECT_EQ(FindProgram("tool", ""), "./tool");
    std::filesystem::current_path(previous);
    // Without PATH, the system's default path.
    EXPECT_TRUE(FindProgram("sh", nullptr));
}

// Each way a program can end is reported for the log, and none keeps the next
// program of its key from running, in order.
TEST(ProgramRunner, EndingsAreReportedAndStopNothing) {
    test::TempProgramDir dir;
    const std::string plain = dir.File("plain");
    const std::string noHashBang = dir.File("nohashbang");
    test::WriteBytes(plain, "#!/bin/sh\n");
    test::WriteBytes(noHashBang, "true\n");
    ::chmod(noHashBang.c_str(), 0700);

    std::atomic<int> wakeUps{0};
    ProgramRunner runner;
    runner.SetWakeUp([&wakeUps] { ++wakeUps; });
    const auto outcomes = RunAll(runner, {{"k", Shell("echo oops; echo 'on stderr' >&2; exit 3")},
                                          {"k", Shell("kill -SEGV $$")},
                                          {"k", {"ornbrook-no-such-program"}},
                                          {"k", {plain}},
                                          {"k", {noHashBang}},
                                          {"k", {"true"}}});
    EXPECT_EQ(outcomes[0].How, Ending::Exited);
    EXPECT_EQ(outcomes[0].Describe(), "exited with status 3");
    EXPECT_EQ(outcomes[0].Lines, (std::vector<std::string>{"oops", "on stderr"}));
    EXPECT_EQ(outcomes[1].Describe(), "ended by signal SIGSEGV");
    EXPECT_EQ(outcomes[2].Describe(), "program not found: ornbrook-no-such-program");
    EXPECT_EQ(outcomes[3].Describe(), "not executable: " + plain);
    EXPECT_EQ(outcomes[4].Describe(),
              "cannot start " + noHashBang + ": exec format error (a script needs a #! line)");
    for (std::size_t i = 2; i < 5; ++i)
        EXPECT_EQ(outcomes[i].How, Ending::NotStarted) << i;
    EXPECT_TRUE(outcomes[5].Succeeded());
    EXPECT_GE(wakeUps, 1);
}

// Only the first lines and bytes are kept, and the rest is read and dropped:
// a program writing far more than a pipe holds still ends by itself.
TEST(ProgramRunner, OutputIsCappedAndDrained) {
    ProgramRunner runner({60s, 2s, 3, 2000});
    const auto outcomes =
        RunAll(runner, {{"a", {"seq", "1", "200000"}}, {"b", Shell("printf 'x\\r\\n%05000d' 0")}});
    std::uint64_t total = 0;
    for (int i = 1; i <= 200000; ++i)
        total += std::to_string(i).size() + 1;
    EXPECT_TRUE(outcomes[0].Succeeded()) << outcomes[0].Describe();
    EXPECT_EQ(outcomes[0].Lines, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(outcomes[0].DroppedBytes, total - 6);
    EXPECT_EQ(outcomes[1].Lines, (std::vector<std::string>{"x", std::string(1997, '0')}));
    EXPECT_EQ(outcomes[1].DroppedBytes, 3003u);
}

TEST(ProgramRunner, OneAtATimePerKeySideBySideAcrossKeys) {
    test::TempProgramDir dir;
    const std::string busy = Quoted(dir.File("busy"));
    const std::string flag = Quoted(dir.File("flag"));
    ProgramRunner runner;
    const auto outcomes =
        RunAll(runner, {// The second of a key finds the first gone ...
                        {"one", Shell(": > " + busy + "; sleep 0.2; rm " + busy)},
                        {"one", Shell("test ! -e " + busy)},
                        // ... while another key's program runs beside: the first of
                        // these waits for the second.
                        {"two", Shell("while ! test -e " + flag + "; do sleep 0.01; done")},
                        {"three", Shell(": > " + flag)}});
    for (const auto& outcome : outcomes)
        EXPECT_TRUE(outcome.Succeeded()) << outcome.Describe();
}

// What a program leaves in its group is gone when its run is heard of: when
// its time is up (here it and its child ignore SIGTERM, so SIGKILL follows
// after the grace), and when it exits by itself, leaving a child behind.
TEST(ProgramRunner, WhatIsLeftInTheGroupEndsWithTheProgram) {
    // Orphans become our children, so the test can see how they ended.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ProgramRunner runner({300ms, 200ms, 5, 2000});
    const auto outcomes = RunAll(runner, {{"k", Shell("trap '' TERM; sleep 300 & echo $!; wait")},
                                          {"j", Shell("sleep 30 & echo $!; exit 0")}});
    EXPECT_EQ(outcomes[0].Describe(), "ran longer than 300 ms and was ended");
    EXPECT_TRUE(outcomes[1].Succeeded());
    for (const auto& [outcome, signal] :
         {std::pair{&outcomes[0], SIGKILL}, {&outcomes[1], SIGTERM}}) {
        ASSERT_EQ(outcome->Lines.size(), 1u);
        const pid_t child = std::stoi(outcome->Lines[0]);
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, WNOHANG), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// Closing ends what runs, drops what waits, and waits for the process, so
// none is left behind, not even as a zombie; nothing is heard after.
TEST(ProgramRunner, CloseEndsRunningProgramsAndRefusesNewOnes) {
    test::TempProgramDir dir;
    const std::string pidFile = dir.File("pid");
    ProgramRunner runner;
    bool heard = false;
    const auto hear = [&heard](const ProgramOutcome&) { heard = true; };
    runner.Start("k",
                 Shell("echo $$ > " + Quoted(pidFile) + ".new; mv " + Quoted(pidFile) + ".new " +
                       Quoted(pidFile) + "; exec sleep 300"),
                 hear);
    runner.Start("k", {"true"}, hear);
    while (!std::filesystem::exists(pidFile))
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(runner.WaitAll(std::chrono::steady_clock::now() + 50ms));
    EXPECT_EQ(runner.Outstanding(), 2u);

    runner.Close();
    const pid_t pid = std::stoi(test::ReadBytes(pidFile));
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(runner.Start("k", {"true"}, hear), 0u);
    EXPECT_EQ(runner.Outstanding(), 0u);
    runner.Deliver();
    EXPECT_FALSE(heard);
}
