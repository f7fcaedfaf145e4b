#include "output_writer.h"

#include <cstdio>

#include "console.h"

std::string output_name(std::string_view path, std::string_view ext)
{
    std::size_t component = path.rfind('/');
    component = (component == std::string_view::npos) ? 0 : component + 1;
    std::size_t dot = path.rfind('.');
    std::string name(path);
    if (dot != std::string_view::npos && dot > component)
        name.resize(dot);
    name += ext;
    return name;
}

namespace {

void write_rows(const RunState& state, std::FILE* out)
{
    for (int r = 0; r < state.datarows; ++r) {
        const double* row = state.result.row(r);
        for (int c = 0; c < state.scores; ++c)
            std::fprintf(out, c == 0 ? "%-.7g" : " %-.7g", row[c]);
        std::fputc('\n', out);
    }
}

}  // namespace

void writefile(RunState& state, const char* path)
{
    if (state.debug)
        message("writefile()\n");
    std::string name = output_name(path, state.EXT);
    std::FILE* out = std::fopen(name.c_str(), "w");
    if (!out)
        error("Error %s %d:opening %s\n", kErrorLabel, 761, name.c_str());
    set_incomplete_output(name);
    std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
    write_rows(state, out);
    bool failed = std::ferror(out) != 0;
    failed = (std::fclose(out) != 0) || failed;
    if (failed)
        error("Error %s %d:writing %s\n", kErrorLabel, 762, name.c_str());
    set_incomplete_output({});
}
