#include "read/row_source.h"

namespace {

class TableRows final : public RowSource {
public:
    explicit TableRows(const TableFormat& format) : reader_(format) {}

    RowFields read(std::string_view line, double* row, int capacity, const int* flags, std::string* labels) override
    {
        return reader_.read(line, row, capacity, flags, labels);
    }

private:
    RowReader reader_;
};

}  // namespace

std::unique_ptr<RowSource> row_source(const TableFormat* format)
{
    if (format)
        return std::make_unique<TableRows>(*format);
    return std::make_unique<NumberRuns>();
}
