// The cells of one line of the CSV files the monitor and qzcli write, where every cell is
// ended by ";" (the last one too) and the line by CR LF.
#pragma once

#include <string>
#include <vector>

namespace qz::test {

// The cells ended by ";" (text after the last ";" is no cell); CR and LF are dropped.
inline std::vector<std::string> CsvCells(const std::string& line) {
    std::vector<std::string> out;
    std::string cell;
    for (char c : line) {
        if (c == ';') {
            out.push_back(cell);
            cell.clear();
        } else if (c != '\r' && c != '\n') {
            cell += c;
        }
    }
    return out;
}

} // namespace qz::test
