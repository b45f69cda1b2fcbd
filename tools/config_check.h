// The values the batch takes from a configuration file, and the preflight
// check of kelbor-config.
//
// Both go through the batch's own reader, regular-file open, schema rule,
// widths and connection (frame/config_reader, frame/regular_file,
// frame/schema_name, db/connection), so what they
// report is what a run will see: the same entry selection, the same cut of
// the login values to 23 characters.
#pragma once

#include <string>
#include <vector>

// What the batch reads for one of its four keys.
struct UsedValue {
    std::string key;           // LOGIN, PASS, DATABASE or SCHEMA
    std::string value;         // deciphered, as the batch gets it
    bool found = false;        // some entry answered the request
    std::string answeredBy;    // key name of the entry that answered
    int answeredByNumber = 0;  // its entry number
};

struct UsedValues {
    UsedValue login, password, dataSource, schema;
    std::string schemaName;  // as the batch qualifies its tables
    std::vector<std::string> warnings;
};

// Reads the four values the way the batch reads them and notes, as
// warnings, every value that an entry of another key answered (an entry
// numbered 0 or under a header line without two ";" answers every
// request). The password is never part of a warning.
UsedValues readUsedValues(const std::string& path);

// Overwrites the password (and any value equal to it) before the values go.
void wipeUsedValues(UsedValues& values);

// Overwrites a string holding a secret, then empties it.
void wipeString(std::string& s);

// Why path cannot be read as the batch reads it, or an empty text when it
// can: a missing file, a folder, a device or FIFO, missing rights.
std::string unreadableReason(const std::string& path);

// Connects with the values of the file at path and, once connected, reads
// each table, the server's clock and the accounting day's day records,
// printing one line per finding to standard output. Changes nothing.
// Returns 0 when a run would get going, 1 otherwise.
int checkSetUp(const std::string& path);
