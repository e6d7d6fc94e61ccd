#pragma once

#include <QString>

class HRPSqliteOperation;

// The command database as start-up leaves it: a file that cannot be read is
// kept aside (the user is told where) and a new one started, a folder that
// cannot be written is reported, and the two command tables exist.
class CommandTables {
public:
    // The key of the notice about a damaged database kept aside.
    static const QString kCommandDatabaseNotice;

    // False when the tables could not be made (voice commands will not work).
    static bool open(HRPSqliteOperation& database);
};
