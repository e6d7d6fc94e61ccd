#pragma once

#include <QString>

// A voice command as a plain record: its type, its spoken word and the path
// it opens.
struct MMVoiceCmdItem {
    QString cmdType;
    QString cmdWord;
    QString cmdPath;
};
