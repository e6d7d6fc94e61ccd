// Replies of the streaming-dictation service, one session after another,
// through the reply reader and the assembler that turns them into text.
//
// Input: the text messages of a connection, one per line.

#include "FuzzTarget.h"
#include "voice/mmXFYunReply.h"
#include "voice/mmXFYunResultAssembler.h"

PRAVIK_FUZZ_TARGET(dictation_reply)
{
    mmXFYunResultAssembler assembler;
    const mmXFYunResultAssembler::Delivery deliver = [](const QString&, RecognitionResultType type) {
        switch (type) {
        case RecognitionResultType::Corrected:
        case RecognitionResultType::NewSegment:
        case RecognitionResultType::SessionFinished:
        case RecognitionResultType::RunningText:
            return;
        }
        fuzz::fail("delivered a result of no known type");
    };
    for (const QByteArray& line : input.split('\n')) {
        const std::optional<mmXFYunReply> reply = mmXFYunReply::fromText(QString::fromUtf8(line));
        if (!reply)
            continue;
        if (reply->code != 0) {
            // A failed session ends with the text it has, as the client does.
            assembler.finishSession(deliver);
            if (!assembler.isEmpty())
                fuzz::fail("a finished session left text behind");
            continue;
        }
        if (assembler.resultDictionary(*reply, deliver) && !assembler.isEmpty())
            fuzz::fail("the last reply of a session left text behind");
        (void)assembler.runningText();
    }
}
