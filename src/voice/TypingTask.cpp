#include "voice/TypingTask.h"

const QChar TypingTask::kBackspace = QLatin1Char('\b');

TypingTask TypingTask::backspaces(qsizetype count)
{
    return TypingTask(Type::Delete, QString(count > 0 ? count : 0, kBackspace));
}
