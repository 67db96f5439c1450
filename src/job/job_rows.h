// The rows a job converts, read from the window once when the job starts: a row the user adds or
// removes meanwhile belongs to the next job.
#pragma once

#include <string>
#include <vector>

class ConversionWindow;

struct JobRow {
    std::string dbx_path;   // column 0: the full path of the folder file
    std::string file_name;  // column 1: its name with the extension
    // For a row of a whole store: the folder's display names from the store's top down.
    std::vector<std::string> store_path;
};

std::vector<JobRow> ReadJobRows(ConversionWindow& window);
