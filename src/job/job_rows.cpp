#include "job/job_rows.h"

#include "conversion/conversion_window.h"

std::vector<JobRow> ReadJobRows(ConversionWindow& window) {
    std::vector<JobRow> rows;
    const int count = window.RowCount();
    for (int row = 0; row < count; ++row) rows.push_back({window.RowText(row, 0), window.RowText(row, 1), window.RowStorePath(row)});
    return rows;
}
