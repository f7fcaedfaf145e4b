// Compressed data files: each format runs as the plain file, a damaged one
// stops with the read error and leaves no output.
#include <zlib.h>

#include <cstdlib>
#include <tuple>

#include "fit/fit_driver.h"
#include "score/coefficient_file.h"
#include "score/driver.h"
#include "support.h"

namespace {

// A gzip header with every field: text, header CRC, extra, name, comment.
const std::string kFields("\x1f\x8b\x08\x1f\0\0\0\0\0\x03\x04\0a\0\0bname\0comment\0", 29);

// An empty gzip member behind `header`, its header CRC off by `wrong`.
std::string empty_member(const std::string& header, int wrong = 0)
{
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size())) + wrong;
    return header + static_cast<char>(crc & 0xff) + static_cast<char>(crc >> 8 & 0xff) +
           std::string("\x03\0\0\0\0\0\0\0\0\0", 10);
}

}  // namespace

TEST(ByteStream, EveryFormatReadsAsThePlainFileAndDamageStopsTheRun)
{
    if (std::system("command -v bzip2 xz zstd >/dev/null") != 0)
        GTEST_SKIP() << "needs bzip2, xz and zstd";
    ScratchDir dir;
    const std::string iris = SCORIX_EXAMPLES "/iris";  // absolute: ScratchDir::read takes it whole
    std::string blocks = "# more rows than one block holds\n";
    for (int i = 0; i < 100'000; ++i)
        blocks += std::to_string(i % 97 - 40) + " " + std::to_string(i % 13) + ".25 " + std::to_string(-i) + "e-3\n";
    const std::pair<std::string, std::string> cases[] = {
        {kThreeVariableFsc, ""}, {kThreeVariableFsc, blocks}, {dir.read(iris + ".fsc"), dir.read(iris + ".dat")}};
    std::vector<std::string> forms;  // the content decides: each goes under the plain name
    for (const auto& [fsc, rows] : cases) {
        dir.write("c.fsc", fsc);
        dir.write("plain", rows);
        forms.clear();
        for (const char* tool : {"gzip", "bzip2", "xz -0", "zstd -q"}) {
            ASSERT_EQ(std::system(("cd '" + dir.path().string() + "' && " + tool + " -c plain >packed").c_str()), 0);
            forms.push_back(dir.read("packed"));
        }
        // zstd frames among skippable ones; gzip members one after another,
        // the first with every header field.
        const std::string empty_gzip("\x1f\x8b\x08\0\0\0\0\0\x02\x03\x03\0\0\0\0\0\0\0\0\0", 20);
        const std::string skippable("\x5e\x2a\x4d\x18\2\0\0\0ab", 10), empty_zstd("\x28\xb5\x2f\xfd\x20\0\1\0\0", 9);
        forms.insert(forms.end(), {skippable + forms[3] + empty_zstd + skippable + empty_zstd,
                                   empty_member(kFields) + empty_gzip + forms[0] + empty_gzip});
        for (const auto& [direction, out] : {std::pair<std::string, std::string>{"-a", "in.sco"}, {"-i", "in.tad"}}) {
            dir.write("in.dat", rows);
            RunResult plain = run_scorix(dir, {direction, "-f", "c.fsc", "in.dat"});
            const auto expected = std::tuple(plain.status, plain.out, plain.err, dir.read(out));
            // From a pipe: the output on standard output, the console on
            // standard error.
            std::string console = plain.out;
            const auto expected_piped =
                std::tuple(plain.status, dir.read(out), console.replace(console.find("in.dat"), 6, "-") + plain.err);
            for (std::size_t i = 0; i < forms.size(); ++i) {
                std::filesystem::remove(dir.file(out));
                dir.write("in.dat", forms[i]);
                RunResult run = run_scorix(dir, {direction, "-f", "c.fsc", "in.dat"});
                EXPECT_EQ(std::tuple(run.status, run.out, run.err, dir.read(out)), expected)
                    << "form " << i << " " << direction << ", " << rows.size() << " bytes";
                run = run_scorix(
                    dir, {"-c", "cat in.dat | exec \"$0\" \"$@\"", SCORIX_BINARY, direction, "-f", "c.fsc", "-"}, {},
                    "/bin/sh");
                EXPECT_EQ(std::tuple(run.status, run.out, run.err), expected_piped)
                    << "piped form " << i << " " << direction;
            }
        }
    }

    // scorix-fit reads every form of the iris rows from a pipe as it reads
    // the plain file, and a byte-order mark in front of the rows changes
    // nothing; its coefficients go to standard output.
    dir.write("in.dat", dir.read(iris + ".dat"));
    ASSERT_EQ(run_scorix(dir, {"-q", "-o", "in.fsc", "in.dat"}, {}, SCORIX_FIT_BINARY).status, 0);
    std::string fsc = dir.read("in.fsc");
    fsc.replace(fsc.find(" in.dat\n"), 7, " -");
    std::vector<std::string> piped = forms;
    piped.push_back("\xef\xbb\xbf" + dir.read("in.dat"));
    for (const std::string& form : piped) {
        dir.write("in.dat", form);
        const RunResult run =
            run_scorix(dir, {"-c", "cat in.dat | exec \"$0\" -q -", SCORIX_FIT_BINARY}, {}, "/bin/sh");
        EXPECT_EQ(std::tuple(run.status, run.out, run.err), std::tuple(0, fsc, ""))
            << testing::PrintToString(form.substr(0, 8));
    }

    // Gzip's magic alone or before junk, each format cut in its header or
    // halfway, junk after a gzip member or zstd frame, a bad header after a
    // gzip member, a wrong header CRC or a reserved flag, and a byte of the
    // iris file's gzip changed every 21 bytes and in its CRC-32 and length,
    // and in its zstd checksum.
    std::filesystem::remove(dir.file("in.sco"));
    std::vector<std::string> damaged = {"\x1f\x8b", std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + "\xff\xff\xff",
                                        forms[0] + "1 2 3 4\n", forms[3] + "1 2 3 4\n",
                                        forms[0] + forms[0].substr(0, 2) + "\x09" + forms[0].substr(3)};
    for (const std::string& header :
         {empty_member(kFields, 1), empty_member(std::string(kFields).replace(3, 1, "\x3f"))})
        damaged.push_back(header + forms[0]);
    for (const std::string& form : forms)
        damaged.insert(damaged.end(), {form.substr(0, 300), form.substr(0, form.size() / 2)});
    for (std::size_t at : {forms[0].size() - 8, forms[0].size() - 1})
        damaged.push_back(forms[0]), damaged.back()[at] ^= 0x10;
    damaged.push_back(forms[3]), damaged.back().back() ^= 0x10;  // zstd's frame checksum
    for (std::size_t at = 2; at < forms[0].size(); at += 21)
        damaged.push_back(forms[0]), damaged.back()[at] ^= 0x10;
    // The reader and the fit in this process: many inputs, quickly.
    RunState state;
    state.options.quiet = 1;
    readfsc(state, (iris + ".fsc").c_str());
    std::string in = dir.file("in.dat"), fit_args[] = {"scorix-fit", "-q", "-o", dir.file("in.fsc"), in};
    char* argv[] = {fit_args[0].data(), fit_args[1].data(), fit_args[2].data(), fit_args[3].data(), in.data()};
    for (const std::string& bytes : damaged) {
        dir.write("in.dat", bytes);
        std::filesystem::remove(dir.file("in.fsc"));
        testing::internal::CaptureStderr();
        const int fit_status = run_fit(5, argv);
        const std::string fit_err = testing::internal::GetCapturedStderr();
        const std::string err = fatal_text([&] { process_file(state, in.c_str()); });
        EXPECT_EQ(std::tuple(err, fit_status, fit_err, dir.exists("in.fsc")),
                  std::tuple("Error src/scorix 647:reading " + in + "\n", 1,
                             "scorix-fit: " + in + ": read error: compressed data damaged or cut short\n", false))
            << testing::PrintToString(bytes);
    }
}
