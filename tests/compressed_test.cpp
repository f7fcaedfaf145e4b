// Compressed data files: each format runs as the plain file, a damaged one
// stops with the read error and leaves no output.
#include <cstdlib>
#include <tuple>

#include "support.h"

TEST(CompressedData, EveryFormatReadsAsThePlainFileAndDamageStopsTheRun)
{
    if (std::system("command -v bzip2 xz zstd >/dev/null") != 0)
        GTEST_SKIP() << "needs bzip2, xz and zstd";
    ScratchDir dir;
    const std::string iris = SCORIX_EXAMPLES "/iris";  // absolute: ScratchDir::read takes it whole
    std::string blocks = "# more rows than one block holds\n";
    for (int i = 0; i < 100'000; ++i)
        blocks += std::to_string(i % 97 - 40) + " " + std::to_string(i % 13) + ".25 " + std::to_string(-i) + "e-3\n";
    const std::pair<std::string, std::string> cases[] = {
        {kThreeVariableFsc, ""}, {dir.read(iris + ".fsc"), dir.read(iris + ".dat")}, {kThreeVariableFsc, blocks}};
    std::vector<std::string> forms;  // the content decides: each goes under the plain name
    for (const auto& [fsc, rows] : cases) {
        dir.write("c.fsc", fsc);
        dir.write("plain", rows);
        forms.clear();
        for (const char* tool : {"gzip", "bzip2", "xz -0", "zstd -q"}) {
            ASSERT_EQ(std::system(("cd '" + dir.path().string() + "' && " + tool + " -c plain >packed").c_str()), 0);
            forms.push_back(dir.read("packed"));
        }
        for (const auto& [direction, out] : {std::pair<std::string, std::string>{"-a", "in.sco"}, {"-i", "in.tad"}}) {
            dir.write("in.dat", rows);
            RunResult plain = run_scorix(dir, {direction, "-f", "c.fsc", "in.dat"});
            const auto expected = std::tuple(plain.status, plain.out, plain.err, dir.read(out));
            for (std::size_t i = 0; i < forms.size(); ++i) {
                std::filesystem::remove(dir.file(out));
                dir.write("in.dat", forms[i]);
                RunResult run = run_scorix(dir, {direction, "-f", "c.fsc", "in.dat"});
                EXPECT_EQ(std::tuple(run.status, run.out, run.err, dir.read(out)), expected)
                    << "form " << i << " " << direction << ", " << rows.size() << " bytes";
            }
        }
    }

    // Gzip's magic alone or before junk, each format cut in its header or halfway.
    std::filesystem::remove(dir.file("in.sco"));
    std::vector<std::string> damaged = {"\x1f\x8b", std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + "\xff\xff\xff"};
    for (const std::string& form : forms)
        damaged.insert(damaged.end(), {form.substr(0, 300), form.substr(0, form.size() / 2)});
    for (const std::string& bytes : damaged) {
        dir.write("in.dat", bytes);
        RunResult run = run_scorix(dir, {"-q", "-f", "c.fsc", "in.dat"});
        EXPECT_EQ(std::tuple(run.status, run.err, dir.exists("in.sco")),
                  std::tuple(1, std::string("Error src/scorix 647:reading in.dat\n"), false))
            << testing::PrintToString(bytes);
    }
}
