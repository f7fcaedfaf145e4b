// Compressed data files as a user runs them: each format gives the output
// bytes and the console of the plain file, and a damaged file stops with the
// read error and leaves no output.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support.h"

namespace {

const std::vector<std::string> kCompressors = {"gzip", "bzip2", "xz -0", "zstd -q"};

// The data file `plain` in `dir` compressed by `tool` into `packed`.
void compress(const ScratchDir& dir, const std::string& tool, const std::string& plain, const std::string& packed)
{
    std::string command = "cd '" + dir.path().string() + "' && " + tool + " -c " + plain + " >" + packed;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

bool have_compressors()
{
    return std::system("command -v gzip bzip2 xz zstd >/dev/null") == 0;
}

std::string example(const char* name)
{
    std::ostringstream bytes;
    bytes << std::ifstream(std::string(SCORIX_EXAMPLES) + "/" + name).rdbuf();
    return bytes.str();
}

std::string multi_block_rows()
{
    std::string rows = "# more rows than one block holds\n";
    for (int i = 0; i < 100'000; ++i)
        rows += std::to_string(i % 97 - 40) + " " + std::to_string(i % 13) + ".25 -" + std::to_string(i) + "e-3\n";
    return rows;
}

}  // namespace

TEST(CompressedData, EveryFormatReadsAsThePlainFileForwardAndInverse)
{
    if (!have_compressors())
        GTEST_SKIP() << "needs gzip, bzip2, xz and zstd";
    struct Case {
        std::string fsc, rows;
    } cases[] = {{kThreeVariableFsc, ""}, {kThreeVariableFsc, multi_block_rows()}, {example("iris.fsc"), example("iris.dat")}};
    ScratchDir dir;
    for (const Case& c : cases) {
        dir.write("c.fsc", c.fsc);
        dir.write("plain", c.rows);
        std::vector<std::string> packed;
        for (const std::string& tool : kCompressors) {
            compress(dir, tool, "plain", "packed");
            packed.push_back(dir.read("packed"));
        }
        for (const char* direction : {"-a", "-i"}) {
            const std::string out = direction[1] == 'i' ? "in.tad" : "in.sco";
            dir.write("in.dat", c.rows);
            RunResult plain = run_scorix(dir, {direction, "-f", "c.fsc", "in.dat"});
            const std::string expected = dir.read(out);
            // The content decides: the compressed bytes go under the plain name.
            for (std::size_t i = 0; i < packed.size(); ++i) {
                std::filesystem::remove(dir.file(out));
                dir.write("in.dat", packed[i]);
                RunResult run = run_scorix(dir, {direction, "-f", "c.fsc", "in.dat"});
                EXPECT_EQ(run.status, plain.status) << kCompressors[i];
                EXPECT_EQ(run.out + run.err, plain.out + plain.err) << kCompressors[i];
                EXPECT_EQ(dir.read(out), expected) << kCompressors[i] << " " << direction << ", " << c.rows.size();
            }
        }
    }
    compress(dir, "gzip", "plain", "in.dat.gz");
    EXPECT_EQ(run_scorix(dir, {"-q", "-f", "c.fsc", "in.dat.gz"}).status, 0);
    EXPECT_TRUE(dir.exists("in.dat.sco")) << "the output name drops only the last extension";
}

TEST(CompressedData, DamagedFilesStopWithTheReadErrorAndNoOutput)
{
    if (!have_compressors())
        GTEST_SKIP() << "needs gzip, bzip2, xz and zstd";
    ScratchDir dir;
    dir.write("c.fsc", example("iris.fsc"));
    dir.write("plain", example("iris.dat"));
    std::vector<std::string> damaged = {"\x1f\x8b", std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + std::string(64, '\xff')};
    for (const std::string& tool : kCompressors) {
        compress(dir, tool, "plain", "packed");
        damaged.push_back(dir.read("packed").substr(0, 300));
    }
    for (const std::string& bytes : damaged) {
        dir.write("in.dat", bytes);
        RunResult run = run_scorix(dir, {"-q", "-f", "c.fsc", "in.dat"});
        EXPECT_EQ(run.status, 1) << testing::PrintToString(bytes);
        EXPECT_EQ(run.err, "Error src/scorix 647:reading in.dat\n");
        EXPECT_FALSE(dir.exists("in.sco"));
    }
}
