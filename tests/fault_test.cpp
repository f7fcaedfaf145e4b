// The program when the outside world says no: files it may not read or
// write, a full address space, no pager, no standard input; and 32 copies
// running at once in one directory. Each failure must give its error text
// and status 1 and leave no incomplete output. (A missing operand, an output
// on /dev/full and a directory as "logfile" are in cli_test and
// invocation_log_test.)
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "support.h"

namespace {

namespace fs = std::filesystem;

// How the program is started: directly, as an unprivileged user (root may
// read and write anything), with standard input closed or a pipe, or with
// its address space limited to the given number of MiB.
enum class Start { Directly, Unprivileged, StdinClosed, StdinPipe, AddressSpace64 };

// The way to drop root's privileges on this machine; empty when there is none.
std::vector<std::string> unprivileged_prefix()
{
    if (geteuid() != 0)
        return {};
    for (std::vector<std::string> prefix : {std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534",
                                                                     "--regid=65534", "--clear-groups"},
                                            std::vector<std::string>{"/usr/sbin/runuser", "-u", "nobody", "--"}}) {
        std::string probe;
        for (const std::string& word : prefix)
            probe += word + " ";
        if (std::system((probe + "/bin/true 2>/dev/null").c_str()) == 0)
            return prefix;
    }
    return {"none"};
}

std::vector<std::string> prefix_for(Start start)
{
    switch (start) {
    case Start::Unprivileged: return unprivileged_prefix();
    case Start::StdinClosed: return {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&-"};
    case Start::StdinPipe: return {"/bin/sh", "-c", "printf '1 2 3\\n' | exec \"$0\" \"$@\""};
    case Start::AddressSpace64: return {"/usr/bin/prlimit", "--as=" + std::to_string(64 << 20)};
    default: return {};
    }
}

std::string numbers(int count, const char* value)
{
    std::string line = value;
    for (int i = 1; i < count; ++i)
        line.append(" ").append(value);
    return line.append("\n");
}

// A coefficient set of `n` variables with the identity as its matrix.
std::string identity_fsc(int n)
{
    std::string text = "[STD]\n" + numbers(n, "1") + "[MEAN]\n" + numbers(n, "0") + "[FSC_SORTED]\n";
    for (int r = 0; r < n; ++r) {
        std::string row = numbers(n, "0");
        row[static_cast<std::size_t>(2 * r)] = '1';
        text += row;
    }
    return text;
}

// "d7" and the like, built by appending (g++ 12 warns falsely on "d" + string).
std::string numbered(const char* prefix, int i)
{
    return std::string(prefix).append(std::to_string(i));
}

using Setup = std::function<void(const ScratchDir&)>;

void chmod(const ScratchDir& dir, const std::string& name, fs::perms perms)
{
    fs::permissions(dir.path() / name, perms);
}

// 500 variables and 25000 rows: 100 MB for each whole-file row matrix.
void wide_rows(const ScratchDir& dir)
{
    dir.write("wide.fsc", identity_fsc(500));
    dir.write("rows.dat", std::string(25000, '\n'));
}

struct FaultCase {
    const char* name;
    Setup setup;
    std::vector<std::string> args;
    Start start;
    int status;
    std::string err;
    std::vector<std::string> absent;  // files the run must not leave
};

const FaultCase kFaults[] = {
    {"unreadable operand",
     [](const ScratchDir& d) {
         d.write("u.dat", "1 2 3\n");
         chmod(d, "u.dat", fs::perms::none);
     },
     {"-q", "-f", "c.fsc", "u.dat"}, Start::Unprivileged, 1, "Error src/scorix 646:opening u.dat\n", {"u.sco"}},
    {"directory operand", [](const ScratchDir& d) { fs::create_directory(d.path() / "d.dat"); },
     {"-q", "-f", "c.fsc", "a.dat", "d.dat"}, Start::Directly, 1, "Error src/scorix 647:reading d.dat\n", {"d.sco"}},
    {"unreadable coefficients", [](const ScratchDir& d) { chmod(d, "c.fsc", fs::perms::owner_write); },
     {"-q", "-f", "c.fsc", "a.dat"}, Start::Unprivileged, 1, "Error: opening c.fsc\n", {"a.sco"}},
    {"directory as coefficients", [](const ScratchDir& d) { fs::create_directory(d.path() / "dir.fsc"); },
     {"-q", "-f", "dir.fsc", "a.dat"}, Start::Directly, 1, "Error: reading dir.fsc\n", {"a.sco"}},
    {"output directory not writable",
     [](const ScratchDir& d) {
         fs::create_directory(d.path() / "ro");
         d.write("ro/a.dat", "1 2 3\n");
         chmod(d, "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
     },
     {"-q", "-f", "c.fsc", "ro/a.dat"}, Start::Unprivileged, 1, "Error src/scorix 761:opening ro/a.sco\n", {"ro/a.sco"}},
    {"logfile not writable",
     [](const ScratchDir& d) {
         d.write("logfile", "");
         chmod(d, "logfile", fs::perms::owner_read);
     },
     {"-q", "-f", "c.fsc", "a.dat"}, Start::Unprivileged, 0, "No logfile entry\n", {}},
    {"a pipe as operand", nullptr, {"-q", "-f", "c.fsc", "/dev/stdin"}, Start::StdinPipe, 1,
     "Error src/scorix 648:/dev/stdin is a pipe; a data file is read twice\n", {}},
    {"standard input closed", nullptr, {"-q", "-f", "c.fsc", "missing.dat"}, Start::StdinClosed, 1,
     "Error src/scorix 646:opening missing.dat\n", {"missing.sco"}},
    {"no room for a 40 MB line",
     [](const ScratchDir& d) { d.write("long.dat", "1 2 3\n" + std::string(40 << 20, 'x') + "\n1 2 3\n"); },
     {"-q", "-f", "c.fsc", "long.dat"}, Start::AddressSpace64, 1, "Error src/scorix 647:reading long.dat\n",
     {"long.sco"}},
    {"no room for the matrix",
     [](const ScratchDir& d) { d.write("wide.fsc", "[FSC_SORTED]\n" + numbers(20000, "1")); },
     {"-q", "-f", "wide.fsc"}, Start::AddressSpace64, 1, "Error src/scorix 558: allocating 3200000000 bytes\n", {}},
    // Whole-file matrices would need 200 MB; the rows pass through in blocks.
    {"rows stream within the limit", wide_rows, {"-q", "-f", "wide.fsc", "rows.dat"}, Start::AddressSpace64, 0, "",
     {}},
};

// The sanitizers reserve more address space than any limit here.
#ifdef SCORIX_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}  // namespace

TEST(Faults, EachFailureGivesItsErrorAndLeavesNoOutput)
{
    for (const FaultCase& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        std::vector<std::string> args = prefix_for(fault.start);
        bool limited = fault.start == Start::AddressSpace64;
        if ((!args.empty() && args[0] == "none") || (limited && kSanitized)) {
            std::printf("skipped \"%s\": %s\n", fault.name, limited ? "sanitized build" : "no way to drop root");
            continue;
        }
        ScratchDir dir;
        // Open to the unprivileged user, who runs its own copy of the program.
        fs::permissions(dir.path(), fs::perms::all);
        fs::copy_file(SCORIX_BINARY, dir.path() / "scorix");
        dir.write("c.fsc", kThreeVariableFsc);
        dir.write("a.dat", "1 2 3\n");
        if (fault.setup)
            fault.setup(dir);
        args.push_back(dir.file("scorix"));
        args.insert(args.end(), fault.args.begin(), fault.args.end());
        std::string program = args.front();
        args.erase(args.begin());
        RunResult run = run_scorix(dir, args, {}, program);
        EXPECT_EQ(run.status, fault.status);
        EXPECT_EQ(run.err, fault.err);
        for (const std::string& name : fault.absent)
            EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    }
}

TEST(Faults, HelpWithoutAPagerEndsWithStatusOne)
{
    ScratchDir dir;
    RunResult run = run_scorix(dir, {"-h"}, {"PATH=/nonexistent"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("more: not found"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// 32 runs at once in one directory, each on its own data file: every output
// equals that of the file's run alone, and the log holds 32 whole lines.
TEST(Load, ConcurrentRunsGiveTheSingleRunOutputsAndWholeLogLines)
{
    const int runs = 32;
    ScratchDir dir;
    fs::copy_file(fs::path(SCORIX_EXAMPLES) / "iris.fsc", dir.path() / "iris.fsc");
    std::ifstream iris(fs::path(SCORIX_EXAMPLES) / "iris.dat");
    std::string rows((std::istreambuf_iterator<char>(iris)), std::istreambuf_iterator<char>());
    std::vector<std::string> alone(runs);
    for (int i = 0; i < runs; ++i) {
        std::string name = numbered("d", i);
        // Each file differs: the iris rows repeated a different number of times.
        std::string text = numbered("# copy ", i) + "\n";
        for (int copy = 0; copy <= i % 7 + 3; ++copy)
            text += rows;
        dir.write(name + ".dat", text);
        ASSERT_EQ(run_scorix(dir, {"-q", "-a", "-f", "iris.fsc", name + ".dat"}).status, 0);
        alone[static_cast<std::size_t>(i)] = dir.read(name + ".sco");
        fs::remove(dir.path() / (name + ".sco"));
    }
    fs::remove(dir.path() / "logfile");

    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < runs; ++i) {
        pid_t child = fork();
        if (child == 0) {
            close(go[1]);
            char ready;
            [[maybe_unused]] ssize_t ignored = read(go[0], &ready, 1);  // all start together
            int quiet = open("/dev/null", O_RDWR);
            if (chdir(dir.path().c_str()) != 0 || quiet < 0)
                _exit(127);
            dup2(quiet, 0), dup2(quiet, 1), dup2(quiet, 2);
            std::string data = numbered("d", i) + ".dat";
            execl(SCORIX_BINARY, SCORIX_BINARY, "-q", "-a", "-f", "iris.fsc", data.c_str(), nullptr);
            _exit(127);
        }
        children.push_back(child);
    }
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int i = 0; i < runs; ++i)
        EXPECT_EQ(dir.read(numbered("d", i) + ".sco"), alone[static_cast<std::size_t>(i)]) << i;

    std::istringstream log(dir.read("logfile"));
    std::set<std::string> seen;
    int lines = 0;
    for (std::string line; std::getline(log, line); ++lines) {
        std::string rest = line.substr(std::min<std::size_t>(19, line.size()));
        std::string head = std::string(" ") + SCORIX_BINARY + " -q -a -f iris.fsc d";
        ASSERT_EQ(rest.rfind(head, 0), 0u) << line;
        seen.insert(rest.substr(head.size()));
    }
    EXPECT_EQ(lines, runs);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(runs)) << "one whole line per run";
}

// Hostile inputs in sizes that keep the suite quick; scripts/hostile.sh runs
// the big ones. Each gives a clear error or the correct result.
TEST(Hostile, InputsGiveAClearErrorOrTheCorrectResult)
{
    std::mt19937 bytes(5);
    std::string garbage(1 << 20, '\0');
    for (char& c : garbage)
        c = static_cast<char>(bytes() & 0xff);
    struct HostileCase {
        const char* name;
        std::string data;
        std::vector<std::string> options;
        int status;
        std::string err;
        std::string output;  // the whole .sco, or its first line when it has many
    };
    const HostileCase cases[] = {
        {"a 2 MB line of numbers", numbers(1000000, "1"), {}, 1,
         "Error src/scorix 655:\nnumber of variables in std (3)\nand in h.dat (1000000) mismatch.\n", ""},
        {"a 2 MB number", std::string(2000000, '7') + "\n", {}, 0, "", "inf inf -inf\n"},
        {"numbers out of range", "1e400 -1e400 1e-400\n1 2 4.9e-324\n", {}, 0, "", "-nan -nan -inf\n1.5 -1 -4\n"},
        {"binary garbage with NUL bytes", garbage, {}, 0, "", "0.75 -5.125 -5.5\n"},
        {"200000 short lines", [] { std::string s; for (int i = 0; i < 200000; ++i) s += "3 2.5 4.5\n"; return s; }(),
         {}, 0, "", "-0.125 1.75 1.5\n"},
        {"a -b list of huge numbers", "3 2.5 4.5\n", {"-b", "2-99999999999999999999999, 99999999999999999999"}, 0, "",
         "-0.875 1.375 3\n"},
    };
    for (const HostileCase& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        ScratchDir dir;
        dir.write("c.fsc", kThreeVariableFsc);
        dir.write("h.dat", hostile.data);
        std::vector<std::string> args = hostile.options;
        args.insert(args.end(), {"-q", "-f", "c.fsc", "h.dat"});
        RunResult run = run_scorix(dir, args);
        EXPECT_EQ(run.status, hostile.status);
        EXPECT_EQ(run.err, hostile.err);
        if (hostile.status == 0) {
            std::string output = dir.read("h.sco");
            EXPECT_EQ(output.substr(0, hostile.output.size()), hostile.output);
            std::string rows = run.out.substr(run.out.find("rows:") + 5);
            EXPECT_EQ(std::to_string(std::count(output.begin(), output.end(), '\n')), rows.substr(0, rows.find(' ')));
        } else
            EXPECT_FALSE(dir.exists("h.sco"));
    }
}
