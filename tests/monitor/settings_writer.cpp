// quilvane_settings_writer FOLDER: writes FOLDER/Quilvane.ini with the
// program's own settings writer, for demos and manual tests. Each line of
// standard input is one record, its fields separated by tabs:
//
//     HostName  UserName  Password  Drive  UNC  MaxPing
//
// Records go after those already in the file. Passwords travel on standard
// input only, never on a command line.
#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/settings_records.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: %s FOLDER < records (HostName UserName Password Drive UNC "
                     "MaxPing, tab-separated)\n",
                     argv[0]);
        return 2;
    }
    try {
        std::vector<quilvane_test::ConnectionRecord> records;
        std::string line;
        int number = 0;
        while (std::getline(std::cin, line)) {
            ++number;
            std::vector<std::string> fields;
            std::istringstream in(line);
            for (std::string field; std::getline(in, field, '\t');)
                fields.push_back(field);
            if (fields.size() != 6) {
                std::fprintf(stderr, "line %d: 6 tab-separated fields wanted, %zu found\n", number,
                             fields.size());
                return 2;
            }
            // Fields come as host, user, password, drive, UNC, MaxPing.
            records.push_back(
                {fields[0], fields[1], fields[2], fields[4], fields[3], std::stoi(fields[5])});
        }
        quilvane_test::AppendSettingsRecords(argv[1], records);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot write the settings: %s\n", e.what());
        return 1;
    }
    return 0;
}
