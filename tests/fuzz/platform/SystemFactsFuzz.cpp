// The system facts read two files anyone with root can write: the release
// description's VERSION_ID line and the firmware's product name.
//
// Input: the bytes of both files.

#include "FuzzTarget.h"
#include "platform/SystemFacts.h"

#include <QFile>

PRAVIK_FUZZ_TARGET(os_release)
{
    const QString version = platform::LinuxSystemFacts::versionIDFromOsRelease(input);
    if (version.contains(QLatin1Char('\n')) || version.size() > input.size())
        fuzz::fail("a version of %lld characters that is not one line of the input", qlonglong(version.size()));

    const QString path = fuzz::scratchDir() + QStringLiteral("/facts");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
        fuzz::fail("cannot write the scratch file");
    file.close();
    const platform::LinuxSystemFacts facts(path, path);
    if (input.size() <= 64 * 1024 && facts.osVersion() != version)
        fuzz::fail("the file's version differs from its contents' version");
    const QString model = facts.deviceModel();
    if (model.isEmpty() || model.size() > 256 || model != model.trimmed())
        fuzz::fail("a model of %lld characters that is empty, too long or untrimmed", qlonglong(model.size()));
}
